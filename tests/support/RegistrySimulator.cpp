#include "support/RegistrySimulator.h"

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace korvane::testing {

RegistrySimulator::RegistrySimulator(const std::string& simulatorProgram, const std::vector<std::string>& vatNumbers,
                                     int delayMilliseconds, const std::vector<std::string>& options)
    : caFile_(dir_.File("ca.pem")) {
  const std::filesystem::path data = dir_.Path() / "data";
  std::filesystem::create_directories(data);
  for (const std::string& number : vatNumbers) {
    std::filesystem::copy_file(std::string(KORVANE_SOURCE_DIR) + "/tools/demo/registry/01234567890.json",
                               data / (number + ".json"));
  }
  const std::string portFile = dir_.File("port");
  std::vector<std::string> arguments = {"--data", data.string(), "--ca-out", caFile_, "--port-file", portFile};
  if (delayMilliseconds > 0) arguments.insert(arguments.end(), {"--delay-ms", std::to_string(delayMilliseconds)});
  arguments.insert(arguments.end(), options.begin(), options.end());
  program_ = std::make_unique<StartedProgram>(simulatorProgram, arguments);
  // The simulator writes the port file (whole, by a rename) once it listens.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (port_.empty() && std::chrono::steady_clock::now() < deadline) {
    std::ifstream(portFile) >> port_;
    if (port_.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (port_.empty()) throw std::runtime_error("the registry simulator did not start");
}

RegistrySimulator::~RegistrySimulator() {
  ::kill(program_->Pid(), SIGTERM);
  program_->Wait(10000);
}

std::string RegistrySimulator::Url(const std::string& path) const { return "https://localhost:" + port_ + path; }

}  // namespace korvane::testing
