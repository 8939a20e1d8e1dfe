#pragma once

#include <functional>
#include <string>

#include "platform/Exception.h"

namespace korvane::testing {

// The message of the error that `action` raises, or "" when it returns normally.
inline std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const Exception& error) {
    return error.Message();
  }
  return "";
}

// What `read` returns, or "error: " and the message of the error it raises: one text that a
// table of cases can hold for either outcome.
inline std::string OutcomeOf(const std::function<std::string()>& read) {
  try {
    return read();
  } catch (const Exception& error) {
    return "error: " + error.Message();
  }
}

}  // namespace korvane::testing
