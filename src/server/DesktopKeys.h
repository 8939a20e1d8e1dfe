#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/Signature.h"

// The desktops' keys, one line each in a file only the service's user reads:
//     <name> <key: 64 hex digits, "-" once revoked> <added> <revoked, "-" while in use>
// A revoked key keeps its line, so the list shows when it went.
namespace korvane::server {

// ASCII letters, digits, "-", "_" and ".", 1 to 64 of them.
bool IsKeyName(std::string_view name);

struct DesktopKey {
  std::string name;
  std::optional<KeyBytes> key;  // nothing once revoked
  std::string added;            // UTC, "2026-12-10T09:30:00Z"
  std::string revoked;          // empty while in use
};

class DesktopKeys {
 public:
  // Raises, naming the file and the line, on a line of another form.
  static DesktopKeys Parse(std::string_view text, const std::string& fileName);
  // A missing file holds no key; one that cannot be read raises.
  static DesktopKeys Load(const std::string& fileName);

  // The key in use under that name; nothing for an unknown or revoked name.
  const DesktopKey* FindInUse(std::string_view name) const;
  const std::vector<DesktopKey>& Keys() const { return keys_; }

  // A new random key under `name` (a revoked name may be used again); returns it as hex, the one
  // time it is shown. Raises for a bad name or a name in use.
  std::string Add(const std::string& name, const std::string& now);
  // Raises for a name that has no key in use.
  void Revoke(const std::string& name, const std::string& now);

  std::string Text() const;
  void Save(const std::string& fileName) const;

  // Reads the file, lets `change` change the keys and writes them whole (a new file, synced,
  // renamed over the old), all under an exclusive lock of "<file>.lock": commands run at the same
  // moment take turns, and none loses another's change. The service reads without the lock: it
  // sees the old file or the new, never a mix. Raises when the lock is not had within 30 s.
  static void Change(const std::string& fileName, const std::function<void(DesktopKeys&)>& change);

 private:
  std::vector<DesktopKey> keys_;
};

}  // namespace korvane::server
