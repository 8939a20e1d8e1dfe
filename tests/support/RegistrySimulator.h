#pragma once

#include <memory>
#include <string>
#include <vector>

#include "support/RunProgram.h"
#include "support/TempDir.h"

namespace korvane::testing {

// The offline registry simulator (the built tools/registry-simulator) as a child process on a
// free port of 127.0.0.1, answering /base/<number> for each of `vatNumbers` with the demo's
// company, each answer held `delayMilliseconds`, with `options` of the simulator's own after the
// others. Stopped when the object goes.
class RegistrySimulator {
 public:
  RegistrySimulator(const std::string& simulatorProgram, const std::vector<std::string>& vatNumbers,
                    int delayMilliseconds = 0, const std::vector<std::string>& options = {});
  ~RegistrySimulator();
  RegistrySimulator(const RegistrySimulator&) = delete;
  RegistrySimulator& operator=(const RegistrySimulator&) = delete;

  // "https://localhost:<port>" followed by `path`.
  std::string Url(const std::string& path) const;
  // The simulator's certificate authority, for SSL_CERT_FILE.
  const std::string& CaFile() const { return caFile_; }

 private:
  TempDir dir_;
  std::string caFile_;
  std::string port_;
  std::unique_ptr<StartedProgram> program_;
};

}  // namespace korvane::testing
