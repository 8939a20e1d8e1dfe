#include "db/ParameterBlocks.h"


#include <array>
#include <utility>

#include "db/ClientLibrary.h"
#include "db/DatabaseText.h"
#include "platform/Text.h"

namespace korvane::db {

namespace {

std::string StripPrefix(std::string name, std::string_view prefix) {
  if (name.compare(0, prefix.size(), prefix) == 0) name.erase(0, prefix.size());
  return name;
}

// Transaction parameter names without values; lock_read, lock_write and lock_timeout need an
// argument and are not offered.
constexpr std::array<std::pair<std::string_view, std::uint8_t>, 18> kTpbCodes{{
    {"consistency", 1}, {"concurrency", 2}, {"shared", 3}, {"protected", 4},
    {"exclusive", 5}, {"wait", 6}, {"nowait", 7}, {"read", 8}, {"write", 9},
    {"verb_time", 12}, {"commit_time", 13}, {"ignore_limbo", 14}, {"read_committed", 15},
    {"autocommit", 16}, {"rec_version", 17}, {"no_rec_version", 18},
    {"restart_requests", 19}, {"no_auto_undo", 20},
}};

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

std::vector<std::uint8_t> BuildDPB(const std::vector<std::string>& params) {
  std::vector<std::uint8_t> dpb{1};  // isc_dpb_version1
  for (const std::string& line : params) {
    if (platform::TrimControl(line).empty()) continue;
    const std::size_t equals = line.find('=');
    const std::string_view written = platform::TrimControl(std::string_view(line).substr(0, equals));
    const std::string value = equals == std::string::npos ? std::string() : line.substr(equals + 1);
    const std::string name = StripPrefix(platform::LowerCaseAscii(written), "isc_dpb_");
    std::uint8_t code = 0;
    if (name == "user_name") {
      code = 28;
    } else if (name == "password") {
      code = 29;
    } else {
      RaiseClientError(kDPBConstantUnknown, std::string(written));
    }
    const std::string bytes = ToDatabase(value);
    // The length travels in one byte; a longer value would corrupt the block.
    if (bytes.size() > 255) {
      throw EIBClientError(kDPBConstantUnknown,
                           "Value of DPB constant (" + std::string(written) + ") is too long");
    }
    dpb.push_back(code);
    dpb.push_back(static_cast<std::uint8_t>(bytes.size()));
    dpb.insert(dpb.end(), bytes.begin(), bytes.end());
  }
  return dpb;
}

std::vector<std::uint8_t> BuildTPB(const std::vector<std::string>& params) {
  std::vector<std::uint8_t> tpb;
  if (params.empty()) return tpb;
  tpb.push_back(3);  // isc_tpb_version3
  for (const std::string& line : params) {
    const std::string_view written = platform::TrimControl(line);
    if (written.empty()) continue;
    const std::string name = StripPrefix(platform::LowerCaseAscii(written), "isc_tpb_");
    bool known = false;
    for (const auto& [known_name, code] : kTpbCodes) {
      if (known_name == name) {
        tpb.push_back(code);
        known = true;
        break;
      }
    }
    if (!known) RaiseClientError(kTPBConstantUnknown, std::string(written));
  }
  return tpb;
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

std::string AttachName(const std::string& databaseName) {
  if (databaseName.size() > 2 && databaseName[0] == '\\' && databaseName[1] == '\\') {
    const std::size_t slash = databaseName.find('\\', 2);
    if (slash != std::string::npos) {
      return databaseName.substr(2, slash - 2) + ":" + databaseName.substr(slash + 1);
    }
  }
  return databaseName;
}

}  // namespace korvane::db
