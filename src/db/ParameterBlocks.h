#pragma once

// Builders of what the layer sends besides calls: the connection and transaction parameter
// blocks and the statement text with named markers made positional. Exposed for tests.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korvane::db {

// From lines "name=value": version byte 1, then per known name its code, the value's length
// and the value's bytes in the databases' code page. Unknown names fail with the layer's
// entry 114.
std::vector<std::uint8_t> BuildDPB(const std::vector<std::string>& params);

// Empty for an empty list (the server's defaults); otherwise version byte 3 and one code per
// non-blank line. Unknown names fail with the layer's entry 115.
std::vector<std::uint8_t> BuildTPB(const std::vector<std::string>& params);

// Replaces each named marker (":NAME", ":"QUOTED"", "?NAME") by "?" outside literals and
// comments, appends the names in marker order to `names`, and rejoins the result's lines with
// CR LF after each. Fails with the layer's entry 55 on an unterminated literal or comment or a
// marker without a name.
std::string ConvertParamMarkers(std::string_view text, std::vector<std::string>& names);

// The lines of a text, split at CR LF, CR or LF; a final line break adds no empty line.
std::vector<std::string> SplitLines(std::string_view text);

// The lines, each followed by CR LF.
std::string JoinLines(const std::vector<std::string>& lines);

// "\\host\rest" becomes "host:rest" (TCP to the same server); every other name is unchanged.
std::string AttachName(const std::string& databaseName);

}  // namespace korvane::db
