#pragma once

#include <stdexcept>
#include <string>

namespace korvane::winclient {

// A failure of the client itself, before or instead of an answer of the service: its text is the
// one line korvane.exe prints (without the line end), and the run exits 1.
class ClientError : public std::runtime_error {
 public:
  explicit ClientError(const std::string& line) : std::runtime_error(line) {}
};

}  // namespace korvane::winclient
