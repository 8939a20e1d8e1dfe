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

}  // namespace korvane::testing
