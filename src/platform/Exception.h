#pragma once

#include <exception>
#include <string>

namespace korvane {

// The one error type every part of the tool raises: it carries the message text that the
// run prints unchanged. Families that callers tell apart (the database errors) derive from it.
class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}

  const std::string& Message() const noexcept { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

}  // namespace korvane
