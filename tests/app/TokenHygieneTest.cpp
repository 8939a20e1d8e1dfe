// The registry token may come from KORVANE_APITOKEN instead of the command line, where every
// local user sees it: which of the two a run uses, or the message that stops it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/inputs/Parametri.h"
#include "support/ErrorOf.h"

namespace korvane {
namespace {

// The token a run would use, or the message that stops it.
std::string TokenOrMessage(const std::vector<std::string>& arguments, const std::string& environmentToken) {
  TParametri parametri(arguments, environmentToken);
  const std::string error = testing::ErrorOf([&] {
    parametri.ReadFromCmdLine();
    parametri.Check();
  });
  return error.empty() ? parametri.ApiToken() : error;
}

TEST(TokenHygiene, TheEnvironmentGivesTheTokenWhenTheCommandLineDoesNot) {
  const std::vector<std::string> noToken = {"-UTENTE", "5", "-DITTA", "01", "-PIVA", "1"};
  std::vector<std::string> withToken = noToken;
  withToken.insert(withToken.end(), {"-APITOKEN", "riga"});
  std::vector<std::string> tokenWithoutValue = noToken;
  tokenWithoutValue.push_back("-APITOKEN");
  struct Case {
    std::vector<std::string> arguments;
    std::string environmentToken, expected;
  };
  const Case cases[] = {
      {noToken, "ambiente", "ambiente"},
      {withToken, "ambiente", "riga"},
      {tokenWithoutValue, "ambiente", "ambiente"},
      {noToken, "", "Api Token non riconosciuto (parametro APITOKEN)"},
      {noToken, "T\r\nX-Injected: yes", "Api Token non riconosciuto (parametro APITOKEN)"},
      // The command line is still counted as given.
      {{"-UTENTE"}, "ambiente", "Parametri incompleti"},
      {{"-UTENTE", "5"}, "ambiente", "Ditta non riconosciuta (parametro DITTA)"},
  };
  for (const auto& c : cases) EXPECT_EQ(TokenOrMessage(c.arguments, c.environmentToken), c.expected);
}

}  // namespace
}  // namespace korvane
