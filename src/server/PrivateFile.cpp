#include "server/PrivateFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/Exception.h"

namespace korvane::server {

namespace {

[[noreturn]] void Fail(const std::string& what, const std::string& path, int error) {
  throw Exception(what + " " + path + ": " + std::strerror(error));
}

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int Get() const { return fd_; }
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

void WriteAll(int fd, std::string_view text, const std::string& path) {
  while (!text.empty()) {
    const ssize_t written = ::write(fd, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) Fail("Impossibile scrivere", path, errno);
    text.remove_prefix(static_cast<std::size_t>(written));
  }
}

}  // namespace

void RequireOwnerOnly(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return;
  if ((status.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
    throw Exception("Il file " + path + " è accessibile ad altri utenti (chmod 600 " + path + ")");
  }
}

void WritePrivateFile(const std::string& path, std::string_view text) {
  const std::filesystem::path target(path);
  const std::string folder = target.has_parent_path() ? target.parent_path().string() : ".";
  std::string temporary = path + ".nuovo-XXXXXX";
  Descriptor file(::mkostemp(temporary.data(), O_CLOEXEC));
  if (file.Get() < 0) Fail("Impossibile creare un file accanto a", path, errno);
  try {
    struct stat owner {};
    if (::stat(path.c_str(), &owner) != 0 && ::stat(folder.c_str(), &owner) != 0) owner = {};
    // Only root may give a file away; anyone else keeps the file as their own.
    if (::geteuid() == 0 && (owner.st_uid != 0 || owner.st_gid != 0) &&
        ::fchown(file.Get(), owner.st_uid, owner.st_gid) != 0) {
      Fail("Impossibile assegnare il proprietario di", path, errno);
    }
    if (::fchmod(file.Get(), 0600) != 0) Fail("Impossibile proteggere", temporary, errno);
    WriteAll(file.Get(), text, temporary);
    if (::fsync(file.Get()) != 0) Fail("Impossibile scrivere", temporary, errno);
    if (::close(file.Release()) != 0) Fail("Impossibile scrivere", temporary, errno);
    if (::rename(temporary.c_str(), path.c_str()) != 0) Fail("Impossibile sostituire", path, errno);
  } catch (...) {
    ::unlink(temporary.c_str());
    throw;
  }
  const Descriptor directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory.Get() >= 0) ::fsync(directory.Get());
}

std::string ReadWholeFile(const std::string& path, bool missingIsEmpty) {
  const Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.Get() < 0) {
    if (missingIsEmpty && errno == ENOENT) return {};
    Fail("Impossibile leggere", path, errno);
  }
  std::string text;
  char buffer[8192];
  for (;;) {
    const ssize_t got = ::read(file.Get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) Fail("Impossibile leggere", path, errno);
    if (got == 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
  }
  return text;
}

}  // namespace korvane::server
