#pragma once

#include <functional>

namespace korvane::platform {

// A variable of the process environment, nullptr when it is not set: std::getenv for a real run;
// tests hand their own values in. Only main reads the environment; what it reads is passed down.
using EnvironmentLookup = std::function<const char*(const char* name)>;

}  // namespace korvane::platform
