#pragma once

#include <optional>
#include <string>
#include <vector>

namespace korvane {

// What the program tells about itself instead of running an import, when the whole command line
// (empty arguments dropped, as for a run) is one of these words: the usage text for "--help",
// "-h" or "-?", the version line for "--version". Nothing for any other command line, these
// words among other arguments included: that one is an import's. The text is plain lines ended
// by LF, for a person at a terminal and for shell tools, not an import's CR LF answer.
std::optional<std::string> ProgramInformation(const std::vector<std::string>& arguments);

// "korvane <version>", with " (<commit>)" when the build knew its commit.
std::string VersionLine();

}  // namespace korvane
