#include "app/ImportRun.h"

#include <new>

#include "platform/Exception.h"

namespace korvane {

namespace {

// Stands in for the steps whose parts are not built yet, so that no run pretends to succeed.
[[noreturn]] void NotBuiltYet(std::string_view capability) {
  throw Exception(std::string(capability) + " is not built yet");
}

}  // namespace

ImportRun::ImportRun(std::vector<std::string> arguments, LineWriter writeLine)
    : arguments_(std::move(arguments)), writeLine_(std::move(writeLine)) {}

ImportRun::~ImportRun() { Release(); }

int ImportRun::Execute() {
  exitCode_ = 0;
  Parametri = std::make_unique<TParametri>(arguments_);
  try {
    RunSteps();
  } catch (const Exception& error) {
    exitCode_ = 1;
    writeLine_(error.Message());
  } catch (const std::bad_alloc&) {
    exitCode_ = 1;
    writeLine_("Out of memory");
  } catch (const std::exception& error) {
    exitCode_ = 1;
    writeLine_(error.what());
  }
  Release();
  return exitCode_;
}

void ImportRun::RunSteps() {
  Parametri->ReadFromCmdLine();
  Parametri->Check();
  NotBuiltYet("Opening the users database");
}

void ImportRun::Release() noexcept {
  Parametri.reset();
}

}  // namespace korvane
