#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace korvane {

class TIBSQL;

// One input parameter or output column of a statement.
class TIBXSQLVAR {
 public:
  TIBXSQLVAR(const TIBXSQLVAR&) = delete;
  TIBXSQLVAR& operator=(const TIBXSQLVAR&) = delete;
  ~TIBXSQLVAR();

  std::string Name() const { return name_; }
  bool IsNull() const;

  // Text is UTF-8 here and in the databases' code page there (db/DatabaseText.h).
  std::string AsString() const;
  // Sets this parameter and every other parameter of the same name.
  void SetAsString(std::string_view utf8);
  std::int32_t AsInteger() const;

 private:
  friend class TIBSQL;

  // The value object of one described entry of the owner's descriptor (an XSQLVAR): the entry's
  // data and null indicator point into storage of the object's own, sized as described, and the
  // indicator starts at NULL.
  static std::unique_ptr<TIBXSQLVAR> Bind(TIBSQL* owner, void* xsqlvar, std::string name);
  TIBXSQLVAR(TIBSQL* owner, void* xsqlvar, std::string name);
  void SetOne(std::string_view utf8);

  TIBSQL* owner_;
  void* var_;  // the XSQLVAR in the owner's descriptor
  std::string name_;
  short describedType_ = 0;  // type without the nullable bit, as described
  short describedLength_ = 0;
  short nullIndicator_ = -1;
  std::vector<char> data_;
};

}  // namespace korvane

namespace korvane::db {

// A text parameter counts a text in the database code page's bytes; setting one longer than its
// column raises "Trying to store a string of length N into a field that can only contain M".
// Both are open to callers that want that check before a costly step.
std::int64_t ParameterTextLength(std::string_view utf8);
[[noreturn]] void RaiseTextTooLong(std::int64_t length, std::int64_t capacity);

}  // namespace korvane::db
