// A database path that could never hold a database, and an engine lock folder without room, are
// refused before the client library is asked to attach.
#include "db/AttachName.h"

#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "LayerTest.h"
#include "db/IBQuery.h"
#include "platform/Process.h"

namespace korvane::testing {
namespace {

class LocalAttachTest : public LayerTest {};

// The one value of T, read through a connection string.
std::string ReadThrough(const std::string& name) {
  TIBDatabase database;
  Prepare(database, name);
  TIBTransaction transaction(&database, TIBTransactionLevel::ibtrSnapshot);
  TIBQuery query;
  query.SetDatabase(&database);
  query.SetTransaction(&transaction);
  query.AddLine("SELECT COUNT(*) FROM T");
  query.Open();
  return query.Fields(0).AsString();
}

TEST(AttachName, DoubleBackslashBecomesHostColon) {
  EXPECT_EQ(db::AttachName("\\\\server\\C:\\Dati\\ditta.fdb"), "server:C:\\Dati\\ditta.fdb");
  EXPECT_EQ(db::AttachName("\\\\localhost\\/tmp/a.fdb"), "localhost:/tmp/a.fdb");
  EXPECT_EQ(db::AttachName("localhost:/tmp/a.fdb"), "localhost:/tmp/a.fdb");
  EXPECT_EQ(db::AttachName("\\single\\a.fdb"), "\\single\\a.fdb");
  EXPECT_EQ(db::AttachName("/tmp/a.fdb"), "/tmp/a.fdb");
}

TEST(LocalFilePath, OnlyAPathWithoutHostPart) {
  EXPECT_TRUE(db::IsLocalFilePath("/var/db/archivio.fdb"));
  EXPECT_TRUE(db::IsLocalFilePath("dati/archivio.fdb"));
  EXPECT_FALSE(db::IsLocalFilePath("localhost:/var/db/archivio.fdb"));
  EXPECT_FALSE(db::IsLocalFilePath("inet://localhost/var/db/archivio.fdb"));
  EXPECT_FALSE(db::IsLocalFilePath("archivio"));  // an alias, or a name the engine resolves
}

// A FIFO used to block the engine's open (and the local server's, after the library's
// fall-through); a loop of links crashed the client library.
TEST_F(LocalAttachTest, SpecialFilesAreRefusedInTheEnginesWords) {
  const std::string fifo = dir_.File("fifo.fdb");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
  const std::string loop = dir_.File("loop.fdb");
  std::filesystem::create_symlink(loop, loop);
  const std::string socketPath = dir_.File("socket.fdb");
  const int listening = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  socketPath.copy(address.sun_path, sizeof address.sun_path - 1);
  ASSERT_EQ(bind(listening, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  const std::string folder = dir_.File("folder.fdb");
  std::filesystem::create_directory(folder);

  struct Case {
    std::string path;
    std::string reason;
  };
  const Case cases[] = {
      {fifo, "not a regular file"},   {loop, "Too many levels of symbolic links"}, {socketPath, "not a regular file"},
      {folder, "not a regular file"}, {"/dev/zero", "not a regular file"},
  };
  for (const auto& c : cases) {
    TIBDatabase database;
    Prepare(database, c.path);
    const RaisedError raised = Raised([&] { database.Open(); });
    EXPECT_EQ(raised.kind, "interbase") << c.path;
    EXPECT_EQ(raised.message, "I/O error during \"open\" operation for file \"" + c.path + "\"\r\n" + c.reason);
    EXPECT_EQ(raised.sqlCode, -902);
    EXPECT_EQ(raised.ibErrorCode, 335544344);
    EXPECT_FALSE(database.Connected());
  }
  close(listening);

  // The server was never asked, so it still serves; a link to a regular file opens as before.
  GrantServerAccess(Path());
  EXPECT_EQ(ReadThrough("localhost:" + Path()), "0");
  const std::string link = dir_.File("link.fdb");
  std::filesystem::create_symlink(Path(), link);
  EXPECT_EQ(ReadThrough(link), "0");
}

// File names on this system are UTF-8: a folder with accents in its name opens through the
// engine in the process and through the server, and a message names the path as it is written.
TEST_F(LocalAttachTest, FoldersWithAccentedNamesOpenEmbeddedAndThroughTheServer) {
  platform::UseUtf8CharacterType();  // as the program does first
  const std::filesystem::path folder = dir_.Path() / "Contabilità" / "Società Bianchi & C.";
  std::filesystem::create_directories(folder);
  const std::string path = (folder / "layer.fdb").string();
  std::filesystem::copy_file(Path(), path);
  EXPECT_EQ(ReadThrough(path), "0");
  for (const auto& top : {dir_.Path(), dir_.Path() / "Contabilità"}) {
    std::filesystem::permissions(top, std::filesystem::perms::others_exec, std::filesystem::perm_options::add);
  }
  GrantServerAccess(path);
  EXPECT_EQ(ReadThrough("localhost:" + path), "0");

  const std::string fifo = (folder / "fifo.fdb").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
  const std::string missing = (folder / "mancante.fdb").string();
  for (const std::string& name : {fifo, missing, "localhost:" + missing}) {
    TIBDatabase database;
    Prepare(database, name);
    const RaisedError raised = Raised([&] { database.Open(); });
    EXPECT_EQ(raised.kind, "interbase") << name;
    const std::string named =
        "I/O error during \"open\" operation for file \"" + (name == fifo ? fifo : missing) + "\"";
    EXPECT_EQ(raised.message.substr(0, named.size()), named) << raised.message;
  }
}

// Sets an environment variable for the life of the object.
class EnvironmentVariable {
 public:
  EnvironmentVariable(const char* name, const std::string& value) : name_(name) { setenv(name, value.c_str(), 1); }
  ~EnvironmentVariable() { unsetenv(name_); }
  EnvironmentVariable(const EnvironmentVariable&) = delete;
  EnvironmentVariable& operator=(const EnvironmentVariable&) = delete;

 private:
  const char* name_;
};

TEST_F(LocalAttachTest, ALockFolderWithoutRoomIsRefusedBeforeTheEngineTouchesIt) {
  ASSERT_EQ(std::getenv("FIREBIRD_LOCK"), nullptr);
  EXPECT_EQ(db::EngineLockFolder(), "/tmp/firebird");

  // A small file system of its own: less than the engine's minimum free from the start.
  const std::string small = dir_.File("small");
  std::filesystem::create_directory(small);
  if (mount("tmpfs", small.c_str(), "tmpfs", 0, "size=512k") != 0) GTEST_SKIP() << "no tmpfs mount here";
  {
    const EnvironmentVariable lock("FIREBIRD_LOCK", small + "/firebird");  // not made yet
    TIBDatabase database;
    Prepare(database, Path());
    const RaisedError raised = Raised([&] { database.Open(); });
    EXPECT_EQ(raised.message, "Spazio esaurito in " + small + "/firebird");
    EXPECT_FALSE(database.Connected());
    // A connection through the server does not use this process's lock folder.
    GrantServerAccess(Path());
    EXPECT_EQ(ReadThrough("localhost:" + Path()), "0");
  }
  umount(small.c_str());
}

}  // namespace
}  // namespace korvane::testing
