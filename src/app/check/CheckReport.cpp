#include "app/check/CheckReport.h"

#include <new>

#include "platform/Exception.h"

namespace korvane {

namespace {

// A message of several lines (an engine's) on one line: each line break becomes one blank.
std::string OneLine(std::string_view message) {
  std::string line;
  for (std::size_t i = 0; i < message.size(); ++i) {
    if (message[i] == '\r' && i + 1 < message.size() && message[i + 1] == '\n') continue;
    line.push_back(message[i] == '\r' || message[i] == '\n' ? ' ' : message[i]);
  }
  return line;
}

}  // namespace

bool CheckReport::Check(std::string_view what, const std::function<std::string()>& check) {
  std::string failure;
  try {
    const std::string detail = check();
    text_ += "OK " + std::string(what) + (detail.empty() ? "" : ": " + detail) + "\n";
    return true;
  } catch (const Exception& error) {
    failure = error.Message();
  } catch (const std::bad_alloc&) {
    failure = "Out of memory";
  } catch (const std::exception& error) {
    failure = error.what();
  }
  Fail(what, failure);
  return false;
}

void CheckReport::Fail(std::string_view what, std::string_view reason) {
  text_ += "ERRORE " + std::string(what) + ": " + OneLine(reason) + "\n";
  failed_ = true;
}

}  // namespace korvane
