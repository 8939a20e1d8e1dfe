#include "server/PrivateFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "platform/Exception.h"
#include "support/ErrorOf.h"
#include "support/TempDir.h"

namespace korvane::server {
namespace {

struct stat Status(const std::string& path) {
  struct stat status {};
  ::stat(path.c_str(), &status);
  return status;
}

// A command run as root leaves the file to the service's user: the owner of the file it replaces,
// or of the folder.
TEST(PrivateFile, AFileWrittenByRootKeepsItsOwner) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root";
  testing::TempDir dir;
  ASSERT_EQ(::chown(dir.Path().c_str(), 65534, 65534), 0);
  const std::string fresh = dir.File("desktop-keys");
  WritePrivateFile(fresh, "one\n");
  EXPECT_EQ(Status(fresh).st_uid, 65534u);
  EXPECT_EQ(Status(fresh).st_gid, 65534u);
  EXPECT_EQ(Status(fresh).st_mode & 0777, 0600u);

  ASSERT_EQ(::chown(fresh.c_str(), 1234, 4321), 0);
  WritePrivateFile(fresh, "two\n");
  EXPECT_EQ(Status(fresh).st_uid, 1234u);
  EXPECT_EQ(Status(fresh).st_gid, 4321u);
  EXPECT_EQ(ReadWholeFile(fresh), "two\n");
}

TEST(PrivateFile, OthersMayNotReadIt) {
  testing::TempDir dir;
  const std::string file = dir.File("server.key");
  EXPECT_NO_THROW(RequireOwnerOnly(file));  // missing: whoever reads it says so
  WritePrivateFile(file, "secret");
  EXPECT_NO_THROW(RequireOwnerOnly(file));
  ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
  EXPECT_EQ(testing::ErrorOf([&] { RequireOwnerOnly(file); }),
            "Il file " + file + " è accessibile ad altri utenti (chmod 600 " + file + ")");
  EXPECT_EQ(testing::ErrorOf([&] { ReadWholeFile(dir.File("missing")); }),
            "Impossibile leggere " + dir.File("missing") + ": No such file or directory");
  EXPECT_EQ(ReadWholeFile(dir.File("missing"), true), "");
}

}  // namespace
}  // namespace korvane::server
