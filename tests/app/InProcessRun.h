#pragma once

// What the tests of runs and sessions in the test process share: a program folder whose
// registry certificates the process trusts, and requests read as main reads the process's.

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "app/inputs/RunInputs.h"
#include "support/ProgramFolder.h"
#include "support/TestCertificates.h"

namespace korvane::testing {

class InProcessRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The TLS library reads its trust store from the process's environment.
    const std::string ca = folder_.Program() + ".ca.pem";
    TestCertificates::Get().WriteCaPem(ca);
    setenv("SSL_CERT_FILE", ca.c_str(), 1);
    unsetenv("SSL_CERT_DIR");
  }
  void TearDown() override { unsetenv("SSL_CERT_FILE"); }

  // The request of these switches and variables.
  static RunRequest Request(std::vector<std::string> arguments, const std::map<std::string, std::string>& environment) {
    return ReadRunRequest(std::move(arguments), [&](const char* name) -> const char* {
      const auto found = environment.find(name);
      return found == environment.end() ? nullptr : found->second.c_str();
    });
  }

  // Any file stands for the program: the run finds its users database beside it.
  ProgramFolder folder_{"/bin/true"};
};

}  // namespace korvane::testing
