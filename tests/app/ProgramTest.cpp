// Runs the built program as a process and checks its one line, exit code and silence on stderr.
#include <gtest/gtest.h>

#include "support/RunProgram.h"

namespace korvane {
namespace {

using korvane::testing::RunProgram;

TEST(Program, WithoutArgumentsPrintsOneLineAndFails) {
  const auto result = RunProgram(KORVANE_BINARY, {});
  EXPECT_EQ(result.out, "Nessun parametro specificato\r\n");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.exitCode, 1);
}

TEST(Program, BadCommandLinesPrintTheirMessage) {
  struct Case {
    std::vector<std::string> arguments;
    std::string out;
  };
  const Case cases[] = {
      {{"-UTENTE"}, "Parametri incompleti\r\n"},
      {{"-UTENTE", "5"}, "Ditta non riconosciuta (parametro DITTA)\r\n"},
      // An empty argument is dropped, so -PIVA is followed by a switch and gets no value.
      {{"-UTENTE", "5", "-DITTA", "01", "-PIVA", "", "-APITOKEN", "t"}, "P.IVA non riconosciuta (parametro PIVA)\r\n"},
      {{"-UTENTE", "5", "-DITTA", "01", "-PIVA", "1", "-APITOKEN", "t", "-piva", "2"}, "Duplicates not allowed\r\n"},
  };
  for (const auto& c : cases) {
    const auto result = RunProgram(KORVANE_BINARY, c.arguments);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.exitCode, 1);
  }
}

TEST(Program, TheTokenIsNeverPrinted) {
  const auto result = RunProgram(KORVANE_BINARY, {"-UTENTE", "x", "-APITOKEN", "s3cr3t-token"});
  EXPECT_EQ(result.out.find("s3cr3t"), std::string::npos);
  EXPECT_EQ(result.exitCode, 1);
}

}  // namespace
}  // namespace korvane
