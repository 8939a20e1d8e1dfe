#pragma once

#include <string>
#include <string_view>
#include <vector>

// Plain ASCII-level work on text: trims, the lines of a settings file, ASCII checks and case.
namespace korvane::platform {

// Trims: each removes its own set of characters from both ends. The sets differ on purpose.
// Every character with code 32 or below, as the runtime's Trim does: HTTP header names and
// values, media types and charset names, parameter-block lines, the address written.
std::string_view TrimControl(std::string_view text);
// Blanks and tabs only: around a name of a JSON path and a number read from an answer's text.
std::string_view TrimBlanksAndTabs(std::string_view text);
// The white space of an INI file line: blank, tab, vertical tab, form feed and a stray CR. Other
// control characters are part of the text.
std::string_view TrimIniBlanks(std::string_view text);

// The lines of a settings file's text (split at LF), each without the INI blanks around it
// (a CR of a CR LF line end included); a blank line or a comment (starting with "#" or ";") is
// empty. Line n is element n - 1.
std::vector<std::string_view> SettingsLines(std::string_view text);

// True when the text holds an ASCII control character (below 0x20, or 0x7F): placed into a
// request line it could end that line and start another.
bool HasAsciiControlCharacter(std::string_view text);

// True when the text is not empty and holds ASCII letters and digits only.
bool IsAsciiLettersAndDigits(std::string_view text);

// Compares ASCII letters without regard to case.
bool SameTextAscii(std::string_view a, std::string_view b);
std::string LowerCaseAscii(std::string_view text);

}  // namespace korvane::platform
