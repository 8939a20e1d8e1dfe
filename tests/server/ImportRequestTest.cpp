#include "server/ImportRequest.h"

#include <gtest/gtest.h>

#include "server/Refusal.h"

namespace korvane::server {
namespace {

// "ok" and the arguments joined by "|", or the status and the refusal's text.
std::string Outcome(std::string_view body) {
  try {
    const ImportRequest request = ReadImportRequest(body);
    std::string joined = "ok";
    for (const std::string& argument : request.arguments) joined += "|" + argument;
    return joined;
  } catch (const Refusal& refusal) {
    return std::to_string(refusal.Status()) + " " + refusal.Message();
  }
}

std::string Body(std::initializer_list<std::string_view> arguments) {
  std::string body;
  for (const std::string_view argument : arguments) {
    body += argument;
    body += '\0';
  }
  return body;
}

TEST(ImportRequest, TheBodyAndItsSwitches) {
  const std::string apiToken = "400 Richiesta non valida (-APITOKEN non ammesso: il token è quello del server)";
  struct Case {
    std::string body;
    std::string expected;
  };
  const Case cases[] = {
      // What an import takes.
      {Body({"-UTENTE", "17", "-DITTA", "01", "-PIVA", "01234567890"}), "ok|-UTENTE|17|-DITTA|01|-PIVA|01234567890"},
      {Body({"-utente", "17", "-Ditta", "01", "-tiposoggetto", "F", "-piva", "IT1", "-CODICESOGGETTO", "C77", "-LINEA",
             "x"}),
       "ok|-utente|17|-Ditta|01|-tiposoggetto|F|-piva|IT1|-CODICESOGGETTO|C77|-LINEA|x"},
      // A desktop always sends an argument: an empty body is nobody's import.
      {"", "400 Richiesta non valida (corpo vuoto)"},
      // The importer's own messages for these: it is asked as a direct run would be.
      {Body({"-PIVA", "1", "-PIVA", "2"}), "ok|-PIVA|1|-PIVA|2"},
      {Body({"-UTENTE", "dicias\xC3\xA8tte"}), "ok|-UTENTE|dicias\xC3\xA8tte"},
      {Body({"--help"}), "ok|--help"},
      {Body({"-h"}), "ok|-h"},
      {Body({"-?"}), "ok|-?"},
      {Body({"--version"}), "ok|--version"},
      // The token is the server's, however it is written and wherever it stands.
      {Body({"-APITOKEN", "x"}), apiToken},
      {Body({"-UTENTE", "17", "-apitoken", "x"}), apiToken},
      {Body({"-LINEA", "-ApiToken", "x"}), apiToken},
      {Body({"-UTENTE", "17", "-LINEA", "-APITOKEN"}), apiToken},
      // A dotless i upper-cases to I: the importer reads "-apıtoken" as -APITOKEN.
      {Body({"-DITTA", "01", "-ap\xC4\xB1token", "x"}), apiToken},
      // A switch where a value is due: the importer would read it as the switch.
      {Body({"-LINEA", "-piva", "1"}), "400 Richiesta non valida (-LINEA senza valore)"},
      {Body({"-UTENTE", "17", "-DITTA"}), "400 Richiesta non valida (-DITTA senza valore)"},
      {Body({"-PIVA"}), "400 Richiesta non valida (-PIVA senza valore)"},
      // Nothing else.
      {Body({"-UTENTE", "17", "-TOKEN", "x"}), "400 Richiesta non valida (parametro non ammesso: -TOKEN)"},
      {Body({"17", "-UTENTE"}), "400 Richiesta non valida (parametro non ammesso: 17)"},
      {Body({"--help", "-UTENTE"}), "400 Richiesta non valida (parametro non ammesso: --help)"},
      {Body({"--HELP"}), "400 Richiesta non valida (parametro non ammesso: --HELP)"},
      {Body({"-UTENTE", "17", "x\ny"}), "400 Richiesta non valida (parametro non ammesso: x?y)"},
      // The body's own form.
      {std::string("-UTENTE\0"
                   "17",
                   10),
       "400 Richiesta non valida (argomento non terminato da NUL)"},
      {std::string("-UTENTE\0\0"
                   "17\0",
                   12),
       "400 Richiesta non valida (argomento vuoto)"},
      {std::string("\0", 1), "400 Richiesta non valida (argomento vuoto)"},
  };
  for (const auto& c : cases) EXPECT_EQ(Outcome(c.body), c.expected) << c.body;
}

TEST(ImportRequest, SizeLimits) {
  std::string body;
  for (int i = 0; i < 16; ++i) body += Body({"-LINEA", "x"});
  EXPECT_EQ(Outcome(body).substr(0, 2), "ok");  // 32 arguments
  EXPECT_EQ(Outcome(body + Body({"-LINEA"})), "400 Richiesta non valida (più di 32 argomenti)");

  const std::string largest = Body({"-LINEA", std::string(kMaxBodyBytes - 8, 'x')});
  ASSERT_EQ(largest.size(), kMaxBodyBytes);
  EXPECT_EQ(Outcome(largest).substr(0, 2), "ok");
  EXPECT_EQ(Outcome(largest + '\0'), "413 Richiesta troppo grande");
}

TEST(ImportRequest, WhatTheLogNames) {
  const ImportRequest request =
      ReadImportRequest(Body({"-Utente", "17", "-DITTA", "01", "-TIPOSOGGETTO", "F", "-piva", "01234567890"}));
  EXPECT_EQ(request.utente, "17");
  EXPECT_EQ(request.ditta, "01");
  EXPECT_EQ(request.piva, "01234567890");
  EXPECT_EQ(protocol::ArgumentsBody(request.arguments),
            Body({"-Utente", "17", "-DITTA", "01", "-TIPOSOGGETTO", "F", "-piva", "01234567890"}));
}

}  // namespace
}  // namespace korvane::server
