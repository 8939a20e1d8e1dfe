#pragma once

#include <string>
#include <variant>

#include "winclient/Outcome.h"
#include "winclient/Settings.h"

// One request to the service over WinHTTP, and its answer.
namespace korvane::winclient {

// The answer, or the failure that stood in its way. Raises ClientError when a call of the
// system fails before anything was sent.
std::variant<ServiceAnswer, Failure> Exchange(const DesktopSettings& settings, const std::string& body);

}  // namespace korvane::winclient
