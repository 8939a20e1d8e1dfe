#include "config/PathTerms.h"

#include <algorithm>

#include "platform/Utf8.h"

namespace korvane::config {

std::string FolderPart(std::string_view path, std::string_view separators) {
  const std::size_t last = path.find_last_of(separators);
  return last == std::string_view::npos ? std::string() : std::string(path.substr(0, last + 1));
}

std::string NamePart(std::string_view path) {
  const std::size_t last = path.find_last_of(kSuiteSeparators);
  return std::string(last == std::string_view::npos ? path : path.substr(last + 1));
}

std::string DrivePart(std::string_view path) {
  // "Second character is a colon", counted in UTF-16 units: a first character outside the
  // basic plane takes two units, so a colon after it is the third. A byte that cannot start a
  // sequence reads as one U+FFFD, one unit.
  if (!path.empty()) {
    const auto lead = static_cast<unsigned char>(path[0]);
    const std::size_t first = std::max<std::size_t>(1, platform::Utf8SequenceLength(lead));
    if (first < 4 && path.size() > first && path[first] == ':') {
      return std::string(path.substr(0, first + 1));
    }
  }
  if (path.starts_with("\\\\")) {
    const std::size_t hostEnd = path.find('\\', 2);
    const std::size_t shareEnd =
        hostEnd == std::string_view::npos ? std::string_view::npos : path.find('\\', hostEnd + 1);
    if (shareEnd != std::string_view::npos) return std::string(path.substr(0, shareEnd));
    if (path.ends_with('\\')) path.remove_suffix(1);
    return std::string(path);
  }
  return {};
}

std::string RelativeFolder(std::string_view path) {
  std::string_view rest = path.substr(DrivePart(path).size());
  if (rest.starts_with('\\')) rest.remove_prefix(1);
  return std::string(rest);
}

std::string WithTrailingSeparator(std::string_view text) {
  std::string result(text);
  if (!result.ends_with('\\')) result += '\\';
  return result;
}

}  // namespace korvane::config
