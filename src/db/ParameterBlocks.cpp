#include "db/ParameterBlocks.h"

#include <array>
#include <utility>

#include "db/ClientLibrary.h"
#include "platform/Text.h"

namespace korvane::db {

namespace {

constexpr std::uint8_t kDpbUtf8FileName = isc_dpb_utf8_filename;

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

}  // namespace

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
    const std::string& bytes = value;
    // The length travels in one byte; a longer value would corrupt the block.
    if (bytes.size() > 255) {
      throw EIBClientError(kDPBConstantUnknown,
                           "Value of DPB constant (" + std::string(written) + ") is too long");
    }
    dpb.push_back(code);
    dpb.push_back(static_cast<std::uint8_t>(bytes.size()));
    dpb.insert(dpb.end(), bytes.begin(), bytes.end());
  }
  dpb.insert(dpb.end(), {kDpbUtf8FileName, 0});
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
