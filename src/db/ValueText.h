#pragma once

// Texts of the server's value formats, as a column read with AsString shows them.

#include <cstdint>
#include <string>

namespace korvane::db {

// A scaled integer (value times ten to the power of scale) as exact decimal text, without
// trailing zeros after the point: (150, -2) is "1.5", (-5, -2) is "-0.05", (3, 2) is "300".
std::string ScaledText(std::int64_t value, int scale);

std::string FloatText(double value);

// A date counted in days from 17 November 1858, the server's day zero, as yyyy-mm-dd.
std::string DateText(std::int32_t days);

// A time of day counted in ten-thousandths of a second, as hh:mm:ss.
std::string TimeText(std::uint32_t fractions);

// Character sets by the server's numbers, where a character may take more than one byte.
enum CharacterSetId : int {
  kUnicodeFss = 3,
  kUtf8 = 4,
  kSjis0208 = 5,
  kEucj0208 = 6,
  kKsc5601 = 44,
  kBig5 = 56,
  kGb2312 = 57,
  kGbk = 67,
  kCp943c = 68,
  kGb18030 = 69,
};

// The most bytes one character of the character set takes; 1 for every single-byte set.
int BytesPerCharacter(int characterSet);

}  // namespace korvane::db
