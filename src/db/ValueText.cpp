#include "db/ValueText.h"

#include <cstdio>

namespace korvane::db {

std::string ScaledText(std::int64_t value, int scale) {
  if (scale >= 0) {
    std::string digits = std::to_string(value);
    if (value != 0) digits.append(static_cast<std::size_t>(scale), '0');
    return digits;
  }
  const bool negative = value < 0;
  std::string digits = std::to_string(value);
  if (negative) digits.erase(0, 1);
  const std::size_t places = static_cast<std::size_t>(-scale);
  if (digits.size() <= places) digits.insert(0, places - digits.size() + 1, '0');
  std::string whole = digits.substr(0, digits.size() - places);
  std::string fraction = digits.substr(digits.size() - places);
  while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
  std::string out = (negative ? "-" : "") + whole;
  if (!fraction.empty()) out += "." + fraction;
  return out;
}

std::string FloatText(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.15g", value);
  return buffer;
}

std::string DateText(std::int32_t days) {
  // Civil-from-days on the proleptic Gregorian calendar.
  const std::int64_t z = static_cast<std::int64_t>(days) - 40587 + 719468;  // from 0000-03-01
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  char buffer[80];
  std::snprintf(buffer, sizeof buffer, "%04lld-%02lld-%02lld", static_cast<long long>(year),
                static_cast<long long>(month), static_cast<long long>(day));
  return buffer;
}

std::string TimeText(std::uint32_t fractions) {
  const unsigned seconds = fractions / 10000;
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%02u:%02u:%02u", seconds / 3600, seconds / 60 % 60, seconds % 60);
  return buffer;
}

int BytesPerCharacter(int characterSet) {
  switch (characterSet) {
    case kUnicodeFss: return 3;
    case kUtf8:
    case kGb18030: return 4;
    case kSjis0208:
    case kEucj0208:
    case kKsc5601:
    case kBig5:
    case kGb2312:
    case kGbk:
    case kCp943c: return 2;
    default: return 1;
  }
}

}  // namespace korvane::db
