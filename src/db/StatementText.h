#pragma once

// The statement text as the layer sends it: its lines, and named markers made positional.
// Exposed for tests.

#include <string>
#include <string_view>
#include <vector>

namespace korvane::db {

// Replaces each named marker (":NAME", ":"QUOTED"", "?NAME") by "?" outside literals and
// comments, appends the names in marker order to `names`, and rejoins the result's lines with
// CR LF after each. Fails with the layer's entry 55 on an unterminated literal or comment or a
// marker without a name.
std::string ConvertParamMarkers(std::string_view text, std::vector<std::string>& names);

// The lines of a text, split at CR LF, CR or LF; a final line break adds no empty line.
std::vector<std::string> SplitLines(std::string_view text);

// The lines, each followed by CR LF.
std::string JoinLines(const std::vector<std::string>& lines);

}  // namespace korvane::db
