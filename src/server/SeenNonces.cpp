#include "server/SeenNonces.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

#include "platform/Exception.h"
#include "server/PrivateFile.h"

namespace korvane::server {

namespace {

// The file is rewritten with the live nonces alone once it holds this many lines more than them.
constexpr std::size_t kStaleLinesBeforeRewrite = 4096;

std::string Line(std::int64_t time, const std::string& nonce) { return std::to_string(time) + " " + nonce + "\n"; }

}  // namespace

SeenNonces::SeenNonces(std::string fileName, std::int64_t now) : fileName_(std::move(fileName)) {
  if (fileName_.empty()) return;
  const std::string text = ReadWholeFile(fileName_, true);
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    if (end == std::string::npos) break;  // torn by a crash mid-write: that request never ran
    const std::string_view line(text.data() + start, end - start);
    start = end + 1;
    const std::size_t blank = line.find(' ');
    std::int64_t time = 0;
    if (blank == std::string_view::npos ||
        std::from_chars(line.data(), line.data() + blank, time).ptr != line.data() + blank) {
      continue;
    }
    std::string nonce(line.substr(blank + 1));
    if (nonce.empty() || time + kNonceLifetimeSeconds < now || !seen_.insert(nonce).second) continue;
    byTime_.emplace_back(time, std::move(nonce));
  }
  Rewrite();
}

SeenNonces::~SeenNonces() {
  if (file_ >= 0) ::close(file_);
}

void SeenNonces::Rewrite() {
  std::string text;
  for (const auto& [time, nonce] : byTime_) text += Line(time, nonce);
  WritePrivateFile(fileName_, text);
  if (file_ >= 0) ::close(file_);
  file_ = ::open(fileName_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (file_ < 0) throw Exception("Impossibile scrivere " + fileName_ + ": " + std::strerror(errno));
  linesInFile_ = byTime_.size();
}

void SeenNonces::Forget(std::int64_t now) {
  while (!byTime_.empty() && byTime_.front().first + kNonceLifetimeSeconds < now) {
    seen_.erase(byTime_.front().second);
    byTime_.pop_front();
  }
}

bool SeenNonces::First(const std::string& nonce, std::int64_t now) {
  const std::lock_guard lock(mutex_);
  Forget(now);
  if (seen_.contains(nonce)) return false;
  if (file_ >= 0) {
    if (linesInFile_ >= byTime_.size() + kStaleLinesBeforeRewrite) Rewrite();
    const std::string line = Line(now, nonce);
    // One write of a short line to a file opened for appending lands whole or not at all.
    ssize_t written = -1;
    do {
      written = ::write(file_, line.data(), line.size());
    } while (written < 0 && errno == EINTR);
    if (written != static_cast<ssize_t>(line.size()) || ::fdatasync(file_) != 0) {
      throw Exception("Nonce non registrato in " + fileName_ + ": " +
                      (written < 0 ? std::strerror(errno) : "scrittura incompleta"));
    }
    ++linesInFile_;
  }
  seen_.insert(nonce);
  byTime_.emplace_back(now, nonce);
  return true;
}

}  // namespace korvane::server
