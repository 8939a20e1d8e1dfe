#include "server/AccessLog.h"

#include "platform/MessageText.h"
#include "platform/UtcTime.h"
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

}  // namespace

std::string AccessLine(const AccessRecord& record) {
  std::string line = platform::UtcTimeText(record.time, true);
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
