#include "app/subject/QelUtility.h"

#include "platform/Utf8.h"

namespace korvane {

std::string PadLeft(std::string_view s, std::int32_t width) {
  const auto length = static_cast<std::int64_t>(platform::Utf16Length(s));
  if (width < length) return platform::Utf16Left(s, width);
  return std::string(static_cast<std::size_t>(width - length), ' ') + std::string(s);
}

}  // namespace korvane
