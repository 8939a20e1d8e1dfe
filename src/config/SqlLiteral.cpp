#include "config/SqlLiteral.h"

namespace korvane::config {

std::string DoubleApostrophes(std::string_view value) {
  std::string result;
  result.reserve(value.size());
  for (char c : value) {
    result += c;
    if (c == '\'') result += '\'';
  }
  return result;
}

}  // namespace korvane::config
