// korvane.exe: the desktop's korvane. It asks the firm's korvane service to run one import with
// its arguments, and prints what the import printed, with its exit code.

#include <variant>

#include "Exchange.h"
#include "System.h"
#include "winclient/ClientError.h"
#include "winclient/Outcome.h"
#include "winclient/Request.h"
#include "winclient/Settings.h"

namespace {

using namespace korvane::winclient;

Outcome Run() {
  try {
    const std::string body = RequestBody(CommandLineArguments());
    SettingTexts texts = ReadIniSettings(ReadFileBesideProgram(L"korvane.ini").value_or(""));
    ApplyEnvironment(texts, EnvironmentVariable);
    const DesktopSettings settings = CheckSettings(texts);
    const std::variant<ServiceAnswer, Failure> answer = Exchange(settings, body);
    if (const auto* failure = std::get_if<Failure>(&answer)) {
      return LineOutcome(FailureLine(*failure, settings.server, settings.waitSeconds));
    }
    return AnswerOutcome(std::get<ServiceAnswer>(answer), settings.server, settings.waitSeconds);
  } catch (const ClientError& error) {
    return LineOutcome(error.what());
  } catch (const std::bad_alloc&) {
    return LineOutcome(
        "Esito dell'importazione non verificabile (memoria insufficiente in korvane.exe): controllare l'archivio "
        "prima di riprovare");
  }
}

}  // namespace

int main() {
  const Outcome outcome = Run();
  // The exit code is the outcome's whatever happens to the line: a caller gone away does not
  // undo an import.
  WriteStandardOutput(outcome.text);
  return outcome.exitCode;
}
