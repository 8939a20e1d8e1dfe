#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace korvane {

// The report of the free check (--controlla): one line per check, "OK <what>" or "ERRORE <what>:
// <the message a run would print>", each ended by LF, and the exit code, 0 when every check
// passed.
class CheckReport {
 public:
  // Runs `check`: when it returns, the line "OK <what>", and ": " and what it returns when that is
  // not empty; when it raises, "ERRORE <what>: <message>", the message's line breaks written as
  // blanks so that a check stays on one line. True when the check passed.
  bool Check(std::string_view what, const std::function<std::string()>& check);
  // A check that cannot be made because one it needs failed: "ERRORE <what>: <reason>".
  void Fail(std::string_view what, std::string_view reason);

  const std::string& Text() const { return text_; }
  int ExitCode() const { return failed_ ? 1 : 0; }

 private:
  std::string text_;
  bool failed_ = false;
};

}  // namespace korvane
