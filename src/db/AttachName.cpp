#include "db/AttachName.h"

#include <cstdlib>

#include "db/ClientLibrary.h"
#include "db/IBError.h"
#include "platform/MessageText.h"
#include "platform/PathKinds.h"
#include "platform/Process.h"
#include "platform/Utf8.h"

namespace korvane::db {

namespace {

constexpr const char* kDefaultLockFolder = "/tmp/firebird";
constexpr int kIoErrorSqlCode = -902;

}  // namespace

std::string AttachName(const std::string& databaseName) {
  const std::optional<platform::HostAndRest> network = platform::SplitNetworkPath(databaseName);
  return network ? network->host + ":" + network->rest : databaseName;
}

bool IsLocalFilePath(std::string_view attachName) {
  return attachName.find('/') != std::string_view::npos && !platform::HasHostPart(attachName);
}

std::string EngineLockFolder() {
  const char* configured = std::getenv("FIREBIRD_LOCK");
  return configured != nullptr && *configured != '\0' ? configured : kDefaultLockFolder;
}

void CheckLocalAttach(const std::string& path) {
  // The engine resolves the path and reads it as UTF-8 text, whatever the block says: a folder
  // named in another encoding cannot be opened by it.
  const std::string reason =
      platform::IsValidUtf8(path) ? platform::NotOpenableFileReason(path) : "file name not valid UTF-8";
  if (!reason.empty()) {
    throw EIBInterBaseError(
        "I/O error during \"open\" operation for file \"" + platform::TextForMessage(path) + "\"\r\n" + reason,
        kIoErrorSqlCode, static_cast<int>(kIoError));
  }
  const std::string lockFolder = EngineLockFolder();
  const auto free = platform::FreeSpace(lockFolder);
  if (free && *free < kLockFolderMinimumFree)
    throw EIBError("Spazio esaurito in " + platform::TextForMessage(lockFolder), 0, 0);
  const auto fileSizeLimit = platform::FileSizeLimit();
  if (fileSizeLimit && *fileSizeLimit < kLockFolderMinimumFree) {
    throw EIBError("Limite di dimensione dei file insufficiente (ulimit -f)", 0, 0);
  }
}

}  // namespace korvane::db
