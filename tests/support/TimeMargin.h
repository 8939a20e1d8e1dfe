#pragma once

#include <chrono>

namespace korvane::testing {

// What a test allows on top of a documented bound before it calls the bound broken: enough for
// a two-core machine loaded by other builds, running the sanitizer build. A bound that holds ends
// within it; one that does not ends at some later limit or never, which every test using this
// keeps well beyond the bound plus this margin.
inline constexpr std::chrono::milliseconds kLoadedMachineMargin{3000};

}  // namespace korvane::testing
