#include "server/DesktopKeys.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <sstream>

#include "platform/Exception.h"
#include "platform/FileLock.h"
#include "platform/Text.h"
#include "server/PrivateFile.h"

namespace korvane::server {

namespace {

constexpr std::chrono::seconds kChangeWait{30};

constexpr std::string_view kHeader =
    "# korvane-server: the desktops' keys (korvane-server key add|revoke|list).\n"
    "# name, key (64 hex digits; - once revoked), added, revoked (- while in use)\n";

std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  while (start < line.size()) {
    start = line.find_first_not_of(" \t", start);
    if (start == std::string_view::npos) break;
    std::size_t end = line.find_first_of(" \t", start);
    if (end == std::string_view::npos) end = line.size();
    fields.push_back(line.substr(start, end - start));
    start = end;
  }
  return fields;
}

}  // namespace

bool IsKeyName(std::string_view name) {
  return !name.empty() && name.size() <= 64 && std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
           c == '.';
  });
}

DesktopKeys DesktopKeys::Parse(std::string_view text, const std::string& fileName) {
  DesktopKeys keys;
  const std::vector<std::string_view> lines = platform::SettingsLines(text);
  for (std::size_t index = 0; index < lines.size(); ++index) {
    const auto fields = Fields(lines[index]);
    if (fields.empty()) continue;
    DesktopKey key;
    const bool revoked = fields.size() == 4 && fields[1] == "-" && fields[3] != "-";
    if (fields.size() == 4 && IsKeyName(fields[0]) && !fields[2].empty()) {
      key.name = fields[0];
      key.added = fields[2];
      if (revoked) {
        key.revoked = fields[3];
      } else if (fields[3] == "-") {
        key.key = KeyFromHex(fields[1]);
      }
    }
    if (key.name.empty() || (!revoked && !key.key) ||
        std::any_of(keys.keys_.begin(), keys.keys_.end(), [&](const DesktopKey& k) { return k.name == key.name; })) {
      throw Exception("Riga " + std::to_string(index + 1) + " di " + fileName + " non valida");
    }
    keys.keys_.push_back(std::move(key));
  }
  return keys;
}

DesktopKeys DesktopKeys::Load(const std::string& fileName) { return Parse(ReadWholeFile(fileName, true), fileName); }

const DesktopKey* DesktopKeys::FindInUse(std::string_view name) const {
  const auto found = std::find_if(keys_.begin(), keys_.end(), [&](const DesktopKey& k) { return k.name == name; });
  return found == keys_.end() || !found->key ? nullptr : &*found;
}

std::string DesktopKeys::Add(const std::string& name, const std::string& now) {
  if (!IsKeyName(name)) {
    throw Exception("Nome non valido: " + name + " (lettere, cifre, \"-\", \"_\" e \".\", al massimo 64)");
  }
  if (FindInUse(name) != nullptr) throw Exception("La chiave " + name + " esiste già (revocarla prima)");
  std::erase_if(keys_, [&](const DesktopKey& k) { return k.name == name; });
  const std::string random = RandomBytes(KeyBytes{}.size());
  const std::string hex = Hex(reinterpret_cast<const unsigned char*>(random.data()), random.size());
  keys_.push_back({name, KeyFromHex(hex), now, {}});
  return hex;
}

void DesktopKeys::Revoke(const std::string& name, const std::string& now) {
  const auto found = std::find_if(keys_.begin(), keys_.end(), [&](const DesktopKey& k) { return k.name == name; });
  if (found == keys_.end() || !found->key) throw Exception("Nessuna chiave in uso con il nome " + name);
  found->key.reset();
  found->revoked = now;
}

std::string DesktopKeys::Text() const {
  std::ostringstream text;
  text << kHeader;
  for (const DesktopKey& key : keys_) {
    text << key.name << ' ' << (key.key ? Hex(key.key->data(), key.key->size()) : "-") << ' ' << key.added << ' '
         << (key.revoked.empty() ? "-" : key.revoked) << '\n';
  }
  return text.str();
}

void DesktopKeys::Save(const std::string& fileName) const { WritePrivateFile(fileName, Text()); }

void DesktopKeys::Change(const std::string& fileName, const std::function<void(DesktopKeys&)>& change) {
  const std::string lockName = fileName + ".lock";
  struct LockFile {
    int fd;
    ~LockFile() {
      if (fd >= 0) ::close(fd);
    }
  } const lockFile{::open(lockName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600)};
  if (lockFile.fd < 0) throw Exception("Impossibile aprire " + lockName + ": " + std::strerror(errno));
  const platform::FileLock lock(lockFile.fd, kChangeWait);
  if (!lock.Held()) {
    throw Exception("File " + fileName + " in modifica da un altro comando" +
                    (lock.Busy() ? std::string() : ": " + lock.Reason()));
  }
  DesktopKeys keys = Load(fileName);
  change(keys);
  keys.Save(fileName);
}

}  // namespace korvane::server
