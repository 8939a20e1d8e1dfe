#include "db/ParameterBlocks.h"

#include <array>
#include <optional>
#include <string_view>
#include <utility>

#include "db/ClientLibrary.h"
#include "db/DatabaseText.h"
#include "platform/Convert.h"
#include "platform/Text.h"
#include "platform/Utf8.h"

namespace korvane::db {

namespace {

constexpr std::uint8_t kDpbUtf8FileName = isc_dpb_utf8_filename;
constexpr std::uint8_t kDpbProcessName = isc_dpb_process_name;
// The length of an item's value travels in one byte.
constexpr std::size_t kDpbValueLimit = 255;

std::string StripPrefix(std::string name, std::string_view prefix) {
  if (name.compare(0, prefix.size(), prefix) == 0) name.erase(0, prefix.size());
  return name;
}

// Transaction parameter names without values; lock_read and lock_write need a table name and are
// not offered. lock_timeout takes its value after "=" (kLockTimeoutCode).
constexpr std::array<std::pair<std::string_view, std::uint8_t>, 18> kTpbCodes{{
    {"consistency", 1},
    {"concurrency", 2},
    {"shared", 3},
    {"protected", 4},
    {"exclusive", 5},
    {"wait", 6},
    {"nowait", 7},
    {"read", 8},
    {"write", 9},
    {"verb_time", 12},
    {"commit_time", 13},
    {"ignore_limbo", 14},
    {"read_committed", 15},
    {"autocommit", 16},
    {"rec_version", 17},
    {"no_rec_version", 18},
    {"restart_requests", 19},
    {"no_auto_undo", 20},
}};

// "lock_timeout=<seconds>": how long a wait transaction waits for a lock, 1 to 2147483647 s.
constexpr std::uint8_t kLockTimeoutCode = 21;

// The seconds of a lock_timeout value, nothing when it is no such number.
std::optional<std::uint32_t> LockTimeoutSeconds(std::string_view value) {
  const std::optional<std::int32_t> seconds = platform::StrToInt32(platform::TrimControl(value));
  if (!seconds || *seconds < 1) return std::nullopt;
  return static_cast<std::uint32_t>(*seconds);
}

}  // namespace

std::string ProcessNameForAttach(std::string_view programFilePath) {
  const std::string name = platform::SanitizeUtf8(programFilePath);
  std::size_t start = name.size() > kDpbValueLimit ? name.size() - kDpbValueLimit : 0;
  // A continuation byte does not start a character.
  while (start < name.size() && (static_cast<unsigned char>(name[start]) & 0xC0) == 0x80) ++start;
  return name.substr(start);
}

std::vector<std::uint8_t> BuildDPB(const std::vector<std::string>& params, std::string_view processName) {
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
    const std::string& bytes = value;
    // The length travels in one byte; a longer value would corrupt the block.
    if (bytes.size() > kDpbValueLimit) {
      throw EIBClientError(kDPBConstantUnknown, "Value of DPB constant (" + std::string(written) + ") is too long");
    }
    dpb.push_back(code);
    dpb.push_back(static_cast<std::uint8_t>(bytes.size()));
    dpb.insert(dpb.end(), bytes.begin(), bytes.end());
  }
  if (!processName.empty() && processName.size() <= kDpbValueLimit) {
    dpb.push_back(kDpbProcessName);
    dpb.push_back(static_cast<std::uint8_t>(processName.size()));
    dpb.insert(dpb.end(), processName.begin(), processName.end());
  }
  dpb.insert(dpb.end(), {kDpbUtf8FileName, 0});
  return dpb;
}

std::chrono::seconds TransactionLockWait(const std::vector<std::string>& params) {
  for (const std::string& line : params) {
    const std::string_view written = platform::TrimControl(line);
    const std::size_t equals = written.find('=');
    if (equals == std::string_view::npos) continue;
    const std::string name =
        StripPrefix(platform::LowerCaseAscii(platform::TrimControl(written.substr(0, equals))), "isc_tpb_");
    if (name != "lock_timeout") continue;
    if (const std::optional<std::uint32_t> seconds = LockTimeoutSeconds(written.substr(equals + 1))) {
      return std::chrono::seconds(*seconds);
    }
  }
  return std::chrono::seconds::zero();
}

std::vector<std::uint8_t> BuildTPB(const std::vector<std::string>& params) {
  std::vector<std::uint8_t> tpb;
  if (params.empty()) return tpb;
  tpb.push_back(3);  // isc_tpb_version3
  for (const std::string& line : params) {
    const std::string_view written = platform::TrimControl(line);
    if (written.empty()) continue;
    if (const std::size_t equals = written.find('='); equals != std::string_view::npos) {
      const std::string name =
          StripPrefix(platform::LowerCaseAscii(platform::TrimControl(written.substr(0, equals))), "isc_tpb_");
      const std::optional<std::uint32_t> seconds = LockTimeoutSeconds(written.substr(equals + 1));
      if (name != "lock_timeout" || !seconds) RaiseClientError(kTPBConstantUnknown, std::string(written));
      // The value's length, then the value, least significant byte first.
      tpb.insert(tpb.end(), {kLockTimeoutCode, 4});
      for (int shift = 0; shift < 32; shift += 8) tpb.push_back(static_cast<std::uint8_t>(*seconds >> shift));
      continue;
    }
    const std::string name = StripPrefix(platform::LowerCaseAscii(written), "isc_tpb_");
    bool known = false;
    for (const auto& [knownName, code] : kTpbCodes) {
      if (knownName == name) {
        tpb.push_back(code);
        known = true;
        break;
      }
    }
    if (!known) RaiseClientError(kTPBConstantUnknown, std::string(written));
  }
  return tpb;
}

}  // namespace korvane::db
