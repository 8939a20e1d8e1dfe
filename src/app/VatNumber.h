#pragma once

#include <string>
#include <string_view>

namespace korvane {

// The VAT number as two writings of it are compared: without blanks (spaces and tabs), "." and
// "-", then without a leading "IT" in any letter case. "IT 0123.4567-890" gives "01234567890".
std::string NormalizeVatNumber(std::string_view piva);

// Whether the text is an Italian VAT number as issued: exactly 11 ASCII digits, the first seven
// not all zero, the office code (digits 8 to 10) 001 to 100, 120, 121, 888 or 999, and the check
// digit right. Nothing is stripped first: "IT12485671007" is not one.
bool IsValidItalianVatNumber(std::string_view piva);

}  // namespace korvane
