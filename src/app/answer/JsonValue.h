#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace korvane {

// One value of the registry's JSON answer. Kind names are part of the error messages.
class TJSONValue {
 public:
  enum class Kind { Object, Array, String, Number, True, False, Null };
  using Member = std::pair<std::string, std::unique_ptr<TJSONValue>>;

  explicit TJSONValue(Kind kind, std::string text = {}) : kind_(kind), text_(std::move(text)) {}

  Kind GetKind() const { return kind_; }
  // "TJSONObject", "TJSONArray", "TJSONString", "TJSONNumber", "TJSONTrue", "TJSONFalse", "TJSONNull".
  std::string_view KindName() const;
  // A string's decoded text, or a number exactly as it stood in the answer.
  const std::string& Text() const { return text_; }
  // Members of an object in answer order, names repeating as they came.
  const std::vector<Member>& Members() const { return members_; }
  // Items of an array.
  const std::vector<std::unique_ptr<TJSONValue>>& Items() const { return items_; }

  // Follows a dotted path of member names (blanks around a name ignored, first member of a name
  // wins, case-sensitive). A name may be followed by array indexes: "data[0].companyName".
  // Index 0 of an object is the object itself: one object stands for a list of one.
  // Nothing when a step is not an object or lacks the member, or an index finds no item.
  const TJSONValue* FindValue(std::string_view path) const;

 private:
  friend class JsonParser;
  Kind kind_;
  std::string text_;
  std::vector<Member> members_;
  std::vector<std::unique_ptr<TJSONValue>> items_;
};

// Parses the whole text as one JSON value (a leading byte order mark is skipped). Nothing for a
// syntax error, trailing text, an empty text or nesting deeper than kMaxJsonDepth; it never
// raises, and true and false become their own kinds: the one way the run parses an answer.
inline constexpr int kMaxJsonDepth = 512;
std::unique_ptr<TJSONValue> ParseJSONValue(std::string_view data);

// Read the value at a path; `value` may be nothing (a failed parse). Raise with the messages
// "Value '%s' not found", "Conversion from %0:s to %1:s is not supported" and
// "'%s' is not a valid boolean value".
bool GetValueAsBoolean(const TJSONValue* value, std::string_view path);
std::string GetValueAsString(const TJSONValue* value, std::string_view path);

}  // namespace korvane
