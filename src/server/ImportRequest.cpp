#include "server/ImportRequest.h"

#include "platform/MessageText.h"
#include "platform/Utf8.h"
#include "protocol/ImporterCommandLine.h"
#include "server/Refusal.h"

namespace korvane::server {

namespace {

using protocol::IsImporterSwitch;

// Every switch of the importer but the token's.
bool IsDesktopSwitch(std::string_view name) { return IsImporterSwitch(name) && name != protocol::kTokenSwitch; }

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
  // A desktop always sends at least one argument: an empty body is no request of its.
  if (body.empty()) throw Refusal::BadRequest("corpo vuoto");
  std::vector<std::string> arguments;
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
    if (AsImporterReadsIt(argument) == protocol::kTokenSwitch) {
      throw Refusal::BadRequest("-APITOKEN non ammesso: il token è quello del server");
    }
  }
  ImportRequest request;
  if (arguments.size() == 1 && protocol::IsInformationWord(arguments.front())) {
    request.arguments = std::move(arguments);
    return request;
  }
  for (std::size_t i = 0; i < arguments.size(); i += 2) {
    const std::string name = AsImporterReadsIt(arguments[i]);
    if (!IsDesktopSwitch(name)) throw Refusal::BadRequest("parametro non ammesso: " + Shown(arguments[i]));
    if (i + 1 == arguments.size() || IsImporterSwitch(AsImporterReadsIt(arguments[i + 1]))) {
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

}  // namespace korvane::server
