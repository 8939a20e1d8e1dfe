#include "db/StatementText.h"

#include "db/ClientLibrary.h"
#include "platform/Utf8.h"

namespace korvane::db {

namespace {

bool IsNameCharacter(char32_t c) { return c == U'_' || c == U'$' || platform::IsAlphanumeric(c); }

[[noreturn]] void ParseError(const char* what) { RaiseClientError(kSQLParseError, what); }

}  // namespace

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] == '\r' || text[i] == '\n') {
      lines.emplace_back(text.substr(start, i - start));
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      start = ++i;
    } else {
      ++i;
    }
  }
  if (start < text.size()) lines.emplace_back(text.substr(start));
  return lines;
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) {
    text += line;
    text += "\r\n";
  }
  return text;
}

std::string ConvertParamMarkers(std::string_view sql, std::vector<std::string>& names) {
  enum class State { Normal, Quoted, Comment, Parameter };
  const std::u32string in = platform::DecodeUtf8(sql);
  std::u32string out;
  out.reserve(in.size());
  State state = State::Normal;
  char32_t quote = 0;
  std::size_t i = 0;
  const std::size_t n = in.size();
  while (i < n) {
    const char32_t c = in[i];
    switch (state) {
      case State::Normal:
        if (c == U'"' || c == U'\'') {
          out += c;
          quote = c;
          state = State::Quoted;
          ++i;
        } else if (c == U'/' && i + 1 < n && in[i + 1] == U'*') {
          out += U"/*";
          state = State::Comment;
          i += 2;
        } else if (c == U':' || c == U'?') {
          out += U'?';
          state = State::Parameter;
          ++i;
        } else {
          out += c;
          ++i;
        }
        break;
      case State::Quoted:
        out += c;
        ++i;
        if (c == quote) {
          if (i < n && in[i] == quote) {
            out += c;
            ++i;
          } else {
            state = State::Normal;
          }
        }
        break;
      case State::Comment:
        if (c == U'*' && i + 1 < n && in[i + 1] == U'/') {
          out += U"*/";
          state = State::Normal;
          i += 2;
        } else {
          out += c;
          ++i;
        }
        break;
      case State::Parameter: {
        std::u32string name;
        if (c == U'"') {
          std::size_t close = i + 1;
          while (close < n && in[close] != U'"') ++close;
          if (close >= n) ParseError("EOF in string detected");
          name = in.substr(i + 1, close - i - 1);
          i = close + 1;
        } else if (IsNameCharacter(c)) {
          std::size_t end = i;
          while (end < n && IsNameCharacter(in[end])) ++end;
          name = in.substr(i, end - i);
          i = end;
        } else {
          ParseError("Parameter name expected");
        }
        names.push_back(platform::EncodeUtf8(name));
        // The character after the name is taken as it is, never as the start of anything.
        if (i < n) out += in[i++];
        state = State::Normal;
        break;
      }
    }
  }
  if (state == State::Quoted) ParseError("EOF in string detected");
  if (state == State::Comment) ParseError("EOF in comment detected");
  if (state == State::Parameter) ParseError("Parameter name expected");
  return JoinLines(SplitLines(platform::EncodeUtf8(out)));
}

}  // namespace korvane::db
