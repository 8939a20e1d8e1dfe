#include "app/answer/JsonValue.h"

#include <cstdint>
#include <optional>

#include "platform/Convert.h"
#include "platform/Exception.h"
#include "platform/MessageText.h"
#include "platform/Text.h"
#include "platform/Utf8.h"

namespace korvane {

namespace {

bool IsJsonBlank(char ch) { return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n'; }
bool IsDigit(char ch) { return ch >= '0' && ch <= '9'; }

[[noreturn]] void RaiseNotFound(std::string_view path) {
  throw Exception("Value '" + std::string(path) + "' not found");
}

[[noreturn]] void RaiseConversion(const TJSONValue& value, std::string_view wanted) {
  throw Exception("Conversion from " + std::string(value.KindName()) + " to " + std::string(wanted) +
                  " is not supported");
}

const TJSONValue& Require(const TJSONValue* value, std::string_view path) {
  const TJSONValue* found = value ? value->FindValue(path) : nullptr;
  if (!found) RaiseNotFound(path);
  return *found;
}

// The runtime's floating-point reading of a text: blanks around, optional sign, digits with an
// optional "." fraction, optional exponent. Returns whether the text is such a number and
// whether it is non-zero.
bool ReadsAsNumber(std::string_view text, bool& nonZero) {
  text = platform::TrimBlanksAndTabs(text);
  std::size_t pos = 0;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) ++pos;
  bool anyDigit = false;
  nonZero = false;
  for (; pos < text.size() && IsDigit(text[pos]); ++pos) {
    anyDigit = true;
    nonZero |= text[pos] != '0';
  }
  if (pos < text.size() && text[pos] == '.') {
    for (++pos; pos < text.size() && IsDigit(text[pos]); ++pos) {
      anyDigit = true;
      nonZero |= text[pos] != '0';
    }
  }
  if (!anyDigit) return false;
  if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
    ++pos;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) ++pos;
    if (pos == text.size() || !IsDigit(text[pos])) return false;
    while (pos < text.size() && IsDigit(text[pos])) ++pos;
  }
  return pos == text.size();
}

}  // namespace

// Recursive descent over the text; the depth is capped, so the recursion stays shallow.
// The first error ends the parse and the result is nothing.
class JsonParser {
 public:
  explicit JsonParser(std::string_view text) : text_(text) {}

  std::unique_ptr<TJSONValue> ParseDocument() {
    if (text_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
    SkipBlanks();
    auto value = ParseValue(0);
    if (!value) return nullptr;
    SkipBlanks();
    return pos_ == text_.size() ? std::move(value) : nullptr;
  }

 private:
  void SkipBlanks() {
    while (pos_ < text_.size() && IsJsonBlank(text_[pos_])) ++pos_;
  }

  bool Consume(char ch) {
    if (pos_ < text_.size() && text_[pos_] == ch) {
      ++pos_;
      return true;
    }
    return false;
  }

  bool ConsumeWord(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) return false;
    pos_ += word.size();
    return true;
  }

  std::unique_ptr<TJSONValue> ParseValue(int depth) {
    if (pos_ >= text_.size()) return nullptr;
    switch (text_[pos_]) {
      case '{': return ParseObject(depth + 1);
      case '[': return ParseArray(depth + 1);
      case '"': {
        std::string s;
        if (!ParseString(s)) return nullptr;
        return std::make_unique<TJSONValue>(TJSONValue::Kind::String, std::move(s));
      }
      case 't': return ConsumeWord("true") ? std::make_unique<TJSONValue>(TJSONValue::Kind::True) : nullptr;
      case 'f': return ConsumeWord("false") ? std::make_unique<TJSONValue>(TJSONValue::Kind::False) : nullptr;
      case 'n': return ConsumeWord("null") ? std::make_unique<TJSONValue>(TJSONValue::Kind::Null) : nullptr;
      default: return ParseNumber();
    }
  }

  std::unique_ptr<TJSONValue> ParseObject(int depth) {
    if (depth > kMaxJsonDepth) return nullptr;
    ++pos_;  // "{"
    auto object = std::make_unique<TJSONValue>(TJSONValue::Kind::Object);
    SkipBlanks();
    if (Consume('}')) return object;
    while (true) {
      SkipBlanks();
      std::string name;
      if (pos_ >= text_.size() || text_[pos_] != '"' || !ParseString(name)) return nullptr;
      SkipBlanks();
      if (!Consume(':')) return nullptr;
      SkipBlanks();
      auto value = ParseValue(depth);
      if (!value) return nullptr;
      object->members_.emplace_back(std::move(name), std::move(value));
      SkipBlanks();
      if (Consume('}')) return object;
      if (!Consume(',')) return nullptr;
    }
  }

  std::unique_ptr<TJSONValue> ParseArray(int depth) {
    if (depth > kMaxJsonDepth) return nullptr;
    ++pos_;  // "["
    auto array = std::make_unique<TJSONValue>(TJSONValue::Kind::Array);
    SkipBlanks();
    if (Consume(']')) return array;
    while (true) {
      SkipBlanks();
      auto value = ParseValue(depth);
      if (!value) return nullptr;
      array->items_.push_back(std::move(value));
      SkipBlanks();
      if (Consume(']')) return array;
      if (!Consume(',')) return nullptr;
    }
  }

  std::unique_ptr<TJSONValue> ParseNumber() {
    const std::size_t start = pos_;
    Consume('-');
    if (Consume('0')) {
      // a leading zero stands alone
    } else if (pos_ < text_.size() && text_[pos_] >= '1' && text_[pos_] <= '9') {
      while (pos_ < text_.size() && IsDigit(text_[pos_])) ++pos_;
    } else {
      return nullptr;
    }
    if (Consume('.')) {
      if (pos_ >= text_.size() || !IsDigit(text_[pos_])) return nullptr;
      while (pos_ < text_.size() && IsDigit(text_[pos_])) ++pos_;
    }
    if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
      ++pos_;
      if (!Consume('+')) Consume('-');
      if (pos_ >= text_.size() || !IsDigit(text_[pos_])) return nullptr;
      while (pos_ < text_.size() && IsDigit(text_[pos_])) ++pos_;
    }
    return std::make_unique<TJSONValue>(TJSONValue::Kind::Number, std::string(text_.substr(start, pos_ - start)));
  }

  bool ReadHex4(std::uint32_t& unit) {
    if (pos_ + 4 > text_.size()) return false;
    unit = 0;
    for (int i = 0; i < 4; ++i) {
      const int digit = platform::HexDigitValue(text_[pos_ + i]);
      if (digit < 0) return false;
      unit = unit * 16 + static_cast<std::uint32_t>(digit);
    }
    pos_ += 4;
    return true;
  }

  bool ParseString(std::string& out) {
    ++pos_;  // opening quote
    while (pos_ < text_.size()) {
      const char ch = text_[pos_++];
      if (ch == '"') return true;
      if (static_cast<unsigned char>(ch) < 0x20) return false;
      if (ch != '\\') {
        out += ch;
        continue;
      }
      if (pos_ >= text_.size()) return false;
      switch (text_[pos_++]) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          std::uint32_t unit = 0;
          if (!ReadHex4(unit)) return false;
          char32_t codePoint = unit;
          if (unit >= 0xD800 && unit <= 0xDBFF && text_.substr(pos_, 2) == "\\u") {
            const std::size_t save = pos_;
            pos_ += 2;
            std::uint32_t low = 0;
            if (ReadHex4(low) && low >= 0xDC00 && low <= 0xDFFF) {
              codePoint = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
            } else {
              pos_ = save;
            }
          }
          // A surrogate left alone has no UTF-8 form: AppendUtf8 writes U+FFFD for it.
          platform::AppendUtf8(out, codePoint);
          break;
        }
        default: return false;
      }
    }
    return false;  // the text ended inside the string
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

std::string_view TJSONValue::KindName() const {
  switch (kind_) {
    case Kind::Object: return "TJSONObject";
    case Kind::Array: return "TJSONArray";
    case Kind::String: return "TJSONString";
    case Kind::Number: return "TJSONNumber";
    case Kind::True: return "TJSONTrue";
    case Kind::False: return "TJSONFalse";
    case Kind::Null: return "TJSONNull";
  }
  return "TJSONValue";
}

namespace {

// Follows the "[index]" suffixes of one path step ("[0]", "[2][1]"). Nothing when the text is not
// a list of decimal indexes, a step is not an array, or an index is past its end; index 0 of an
// object is the object itself.
const TJSONValue* FollowIndexes(const TJSONValue* current, std::string_view indexes) {
  while (!indexes.empty()) {
    const std::size_t close = indexes.find(']');
    if (indexes.front() != '[' || close == std::string_view::npos || close == 1) return nullptr;
    const std::optional<std::uint64_t> index = platform::DigitsValue(indexes.substr(1, close - 1), 10);
    if (!index) return nullptr;
    if (current->GetKind() == TJSONValue::Kind::Object) {
      // One object where a list of them may stand is the list's only item.
      if (*index != 0) return nullptr;
    } else {
      if (current->GetKind() != TJSONValue::Kind::Array || *index >= current->Items().size()) return nullptr;
      current = current->Items()[static_cast<std::size_t>(*index)].get();
    }
    indexes.remove_prefix(close + 1);
  }
  return current;
}

}  // namespace

const TJSONValue* TJSONValue::FindValue(std::string_view path) const {
  const TJSONValue* current = this;
  while (true) {
    const std::size_t dot = path.find('.');
    const std::string_view step = path.substr(0, dot);
    const std::size_t bracket = step.find('[');
    const std::string_view name = platform::TrimBlanksAndTabs(step.substr(0, bracket));
    if (current->kind_ != Kind::Object) return nullptr;
    const TJSONValue* next = nullptr;
    for (const auto& [memberName, memberValue] : current->members_) {
      if (memberName == name) {
        next = memberValue.get();
        break;
      }
    }
    if (next && bracket != std::string_view::npos) {
      next = FollowIndexes(next, platform::TrimBlanksAndTabs(step.substr(bracket)));
    }
    if (!next) return nullptr;
    if (dot == std::string_view::npos) return next;
    current = next;
    path.remove_prefix(dot + 1);
  }
}

std::unique_ptr<TJSONValue> ParseJSONValue(std::string_view data) { return JsonParser(data).ParseDocument(); }

bool GetValueAsBoolean(const TJSONValue* value, std::string_view path) {
  const TJSONValue& found = Require(value, path);
  switch (found.GetKind()) {
    case TJSONValue::Kind::True: return true;
    case TJSONValue::Kind::False: return false;
    case TJSONValue::Kind::String:
    case TJSONValue::Kind::Number: {
      bool nonZero = false;
      if (ReadsAsNumber(found.Text(), nonZero)) return nonZero;
      const std::string upper = platform::UpperCase(found.Text());
      if (upper == "TRUE") return true;
      if (upper == "FALSE") return false;
      throw Exception("'" + platform::OutsideTextForMessage(found.Text()) + "' is not a valid boolean value");
    }
    default: RaiseConversion(found, "Boolean");
  }
}

std::string GetValueAsString(const TJSONValue* value, std::string_view path) {
  const TJSONValue& found = Require(value, path);
  switch (found.GetKind()) {
    case TJSONValue::Kind::String:
    case TJSONValue::Kind::Number: return found.Text();
    case TJSONValue::Kind::True: return "true";
    case TJSONValue::Kind::False: return "false";
    case TJSONValue::Kind::Null: return "";
    default: RaiseConversion(found, "string");
  }
}

}  // namespace korvane
