#include "server/AccessLog.h"

#include <ctime>

#include "platform/MessageText.h"
#include "platform/Utf8.h"

namespace korvane::server {

namespace {

std::string Field(std::string_view text) {
  if (text.empty()) return "-";
  const std::string safe = platform::OutsideTextForMessage(platform::SanitizeUtf8(text));
  if (safe.find_first_of(" \"\\=") == std::string::npos) return safe;
  std::string quoted = "\"";
  for (const char c : safe) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

std::string TimeText(std::chrono::system_clock::time_point time, bool milliseconds) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  std::string result = text;
  if (milliseconds) {
    const auto part = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count() % 1000;
    char fraction[8];
    std::snprintf(fraction, sizeof fraction, ".%03d", static_cast<int>(part));
    result += fraction;
  }
  return result + "Z";
}

}  // namespace

std::string UtcTime(std::chrono::system_clock::time_point time) { return TimeText(time, false); }

std::string AccessLine(const AccessRecord& record) {
  std::string line = TimeText(record.time, true);
  line += " key=" + Field(record.keyName);
  line += " client=" + Field(record.client);
  line += " user=" + Field(record.utente);
  line += " company=" + Field(record.ditta);
  line += " vat=" + Field(record.piva);
  line += " status=" + std::to_string(record.status);
  line += " exit=" + (record.exitCode ? std::to_string(*record.exitCode) : std::string("-"));
  line += " ms=" + std::to_string(record.duration.count());
  if (!record.note.empty()) line += " note=" + Field(record.note);
  return line + "\n";
}

}  // namespace korvane::server
