#include "server/ImportRequest.h"

#include <algorithm>
#include <array>

#include "platform/MessageText.h"
#include "platform/Utf8.h"
#include "server/Refusal.h"

namespace korvane::server {

namespace {

// Every switch the importer reads, and those of them a desktop may give.
constexpr std::array<std::string_view, 7> kImporterSwitches = {
    "-UTENTE", "-DITTA", "-LINEA", "-TIPOSOGGETTO", "-PIVA", "-APITOKEN", "-CODICESOGGETTO"};
constexpr std::array<std::string_view, 6> kDesktopSwitches = {"-UTENTE", "-DITTA",          "-TIPOSOGGETTO",
                                                              "-PIVA",   "-CODICESOGGETTO", "-LINEA"};
constexpr std::array<std::string_view, 4> kInformationWords = {"--help", "-h", "-?", "--version"};

template <std::size_t N>
bool OneOf(const std::array<std::string_view, N>& words, std::string_view word) {
  return std::find(words.begin(), words.end(), word) != words.end();
}

// The switch name the importer sees in an argument: it decodes the bytes (an invalid one becomes
// U+FFFD) and upper-cases them by the simple Unicode mapping, as here.
std::string AsImporterReadsIt(std::string_view argument) {
  return platform::UpperCase(platform::SanitizeUtf8(argument));
}

// Client text inside the refusal's one line.
std::string Shown(std::string_view argument) {
  return platform::OutsideTextForMessage(platform::SanitizeUtf8(argument.substr(0, 64)));
}

}  // namespace

std::vector<std::string> SplitArguments(std::string_view body) {
  if (body.size() > kMaxBodyBytes) throw Refusal::TooLarge();
  std::vector<std::string> arguments;
  if (body.empty()) return arguments;
  if (body.back() != '\0') throw Refusal::BadRequest("argomento non terminato da NUL");
  std::size_t start = 0;
  while (start < body.size()) {
    const std::size_t end = body.find('\0', start);
    if (end == start) throw Refusal::BadRequest("argomento vuoto");
    if (arguments.size() == kMaxArguments) throw Refusal::BadRequest("più di 32 argomenti");
    arguments.emplace_back(body.substr(start, end - start));
    start = end + 1;
  }
  return arguments;
}

ImportRequest CheckArguments(std::vector<std::string> arguments) {
  for (const std::string& argument : arguments) {
    if (AsImporterReadsIt(argument) == "-APITOKEN") {
      throw Refusal::BadRequest("-APITOKEN non ammesso: il token è quello del server");
    }
  }
  ImportRequest request;
  if (arguments.size() == 1 && OneOf(kInformationWords, arguments.front())) {
    request.arguments = std::move(arguments);
    return request;
  }
  for (std::size_t i = 0; i < arguments.size(); i += 2) {
    const std::string name = AsImporterReadsIt(arguments[i]);
    if (!OneOf(kDesktopSwitches, name)) throw Refusal::BadRequest("parametro non ammesso: " + Shown(arguments[i]));
    if (i + 1 == arguments.size() || OneOf(kImporterSwitches, AsImporterReadsIt(arguments[i + 1]))) {
      throw Refusal::BadRequest(name + " senza valore");
    }
    const std::string& value = arguments[i + 1];
    if (name == "-UTENTE") request.utente = value;
    if (name == "-DITTA") request.ditta = value;
    if (name == "-PIVA") request.piva = value;
  }
  request.arguments = std::move(arguments);
  return request;
}

ImportRequest ReadImportRequest(std::string_view body) { return CheckArguments(SplitArguments(body)); }

std::string ArgumentsBody(const std::vector<std::string>& arguments) {
  std::string body;
  for (const std::string& argument : arguments) {
    body += argument;
    body += '\0';
  }
  return body;
}

}  // namespace korvane::server
