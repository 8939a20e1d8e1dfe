#include <gtest/gtest.h>
#include <stdlib.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "registry/Registro.h"
#include "support/ErrorOf.h"
#include "support/RegistrySimulator.h"

namespace korvane {
namespace {

// Clients made from one client ask at once, each in a thread of its own, on connections made from
// the one TLS context they share; each sees its own answers, and the first client still asks
// after them.
TEST(AnotherClient, ClientsOfOneContextAskAtOnceFromTheirOwnThreads) {
  const std::vector<std::string> numbers = {"01234567890", "11111111111", "22222222222", "33333333333"};
  testing::RegistrySimulator simulator(KORVANE_SIMULATOR, numbers, 200);
  const char* trusted = getenv("SSL_CERT_FILE");
  const std::string previous = trusted != nullptr ? trusted : "";
  setenv("SSL_CERT_FILE", simulator.CaFile().c_str(), 1);

  registry::RegistryClient first(registry::RegistryEndpoint(simulator.Url("/base/")));
  std::vector<std::unique_ptr<registry::RegistryClient>> clients;
  for (std::size_t i = 0; i < numbers.size(); ++i) clients.push_back(first.AnotherClient(i % 2 == 0));
  std::vector<std::string> answers(numbers.size() * 2);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < clients.size(); ++i) {
    threads.emplace_back([&, i] {
      // Twice each, the second on the connection the first left open.
      for (std::size_t turn = 0; turn < 2; ++turn) {
        const std::string& number = numbers[(i + turn) % numbers.size()];
        answers[i * 2 + turn] = testing::OutcomeOf([&] { return clients[i]->InterrogaRegistro(number, "token"); });
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (std::size_t i = 0; i < answers.size(); ++i) {
    EXPECT_NE(answers[i].find("\"success\": true"), std::string::npos) << i << ": " << answers[i];
    EXPECT_EQ(clients[i / 2]->LastStatus(), 200);
  }
  EXPECT_NE(testing::OutcomeOf([&] { return first.InterrogaRegistro(numbers[0], "token"); }).find("\"success\": true"),
            std::string::npos);
  clients.clear();

  if (trusted != nullptr) {
    setenv("SSL_CERT_FILE", previous.c_str(), 1);
  } else {
    unsetenv("SSL_CERT_FILE");
  }
}

}  // namespace
}  // namespace korvane
