#include "store/AnswerStore.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <cstdio>
#include <fstream>

#include "platform/Exception.h"
#include "support/TempDir.h"

namespace korvane::store {
namespace {

using testing::TempDir;

std::string RefusalOf(const std::string& path) {
  try {
    AnswerStore store(path);
  } catch (const Exception& error) {
    return error.Message();
  }
  return {};
}

TEST(AnswerStore, NewStoreIsPrivateVersionedAndKeepsAnswersByteForByte) {
  TempDir folder;
  const std::string path = folder.File("risposte.sqlite");
  const std::string body("{\"data\":[\"\xC3\xA8\"]}\0tail", 21);
  {
    AnswerStore store(path);
    EXPECT_EQ(store.SchemaVersion(), kStoreSchemaVersion);
    EXPECT_EQ(store.SaveAnswer({0, "12485671007", "host:8443/IT-start/12485671007", 1000, "old", "1-1"}), 1);
    store.SaveAnswer({0, "12485671007", "host:8443/IT-start/12485671007", 2000, body, "1-2"});
    store.SaveAnswer({0, "00743110157", "host:8443/IT-start/00743110157", 3000, "other", ""});
  }
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  AnswerStore store(path);  // opened again: nothing created twice
  const auto youngest = store.LatestAnswer("12485671007", 0);
  ASSERT_TRUE(youngest);
  EXPECT_EQ(youngest->body, body);
  EXPECT_EQ(youngest->ledgerKey, "1-2");
  EXPECT_EQ(youngest->receivedUnix, 2000);
  EXPECT_FALSE(store.LatestAnswer("12485671007", 2001));  // too old for the caller
  EXPECT_FALSE(store.LatestAnswer("99999999999", 0));
  EXPECT_EQ(store.Answer(1)->body, "old");
  EXPECT_FALSE(store.Answer(42));
}

TEST(AnswerStore, ListRowsAreReplacedByLineAndKeptPerList) {
  TempDir folder;
  const std::string path = folder.File("risposte.sqlite");
  std::int64_t list = 0;
  {
    AnswerStore store(path);
    list = store.ListId("/tmp/a.csv|1|D1|C", 10);
    EXPECT_EQ(store.ListId("/tmp/a.csv|1|D1|C", 20), list);
    const std::int64_t other = store.ListId("/tmp/a.csv|1|D2|C", 20);
    EXPECT_NE(other, list);
    store.SaveListRow(list, {3, "1248567100 7", "12485671007", "richiesta inviata", "", "", true, std::nullopt}, 30);
    store.SaveListRow(list, {2, "x", "x", "non valido", "", "P.IVA x non valida", false, std::nullopt}, 30);
    store.SaveListRow(other, {2, "y", "y", "non valido", "", "", false, std::nullopt}, 30);
    const std::int64_t answer = store.SaveAnswer({0, "12485671007", "e", 30, "{}", ""});
    store.SaveListRow(list, {3, "1248567100 7", "12485671007", "importato", "C0001", "", true, answer}, 40);
  }
  AnswerStore store(path);
  const auto rows = store.ListRows(list);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].line, 2);
  EXPECT_EQ(rows[0].message, "P.IVA x non valida");
  EXPECT_FALSE(rows[0].answerId);
  EXPECT_EQ(rows[1].state, "importato");
  EXPECT_EQ(rows[1].code, "C0001");
  EXPECT_EQ(rows[1].value, "1248567100 7");
  EXPECT_TRUE(rows[1].paid);
  EXPECT_EQ(rows[1].answerId, 1);
}

TEST(AnswerStore, WrittenValuesOfTheLastWriteAreTheBase) {
  TempDir folder;
  AnswerStore store(folder.File("risposte.sqlite"));
  store.SaveWrittenSubject(
      {"D1", "/srv/a.fdb", 'C', "C0001", "12485671007", 100, {{"RAGSOC", "Vecchia"}, {"CAP", "00100"}}});
  store.SaveWrittenSubject({"D1", "/srv/a.fdb", 'C', "C0001", "12485671007", 200, {{"RAGSOC", "Nuova"}}});
  store.SaveWrittenSubject({"D1", "/srv/a.fdb", 'F', "C0001", "00743110157", 300, {{"RAGSOC", "Fornitore"}}});
  const auto base = store.LastWritten("D1", "/srv/a.fdb", 'C', "C0001");
  ASSERT_TRUE(base);
  EXPECT_EQ(base->writtenUnix, 200);
  EXPECT_EQ(base->vatNumber, "12485671007");
  EXPECT_EQ(base->values, (std::vector<std::pair<std::string, std::string>>{{"RAGSOC", "Nuova"}}));
  EXPECT_EQ(store.LastWritten("D1", "/srv/a.fdb", 'F', "C0001")->values.at(0).second, "Fornitore");
  EXPECT_FALSE(store.LastWritten("D2", "/srv/a.fdb", 'C', "C0001"));
}

TEST(AnswerStore, RefusesWhatIsNotItsOwnUsableStore) {
  TempDir folder;
  const std::string target = folder.File("target.sqlite");
  { AnswerStore store(target); }
  std::filesystem::create_symlink(target, folder.File("link.sqlite"));
  std::filesystem::create_hard_link(target, folder.File("second-name.sqlite"));
  std::ofstream(folder.File("text.sqlite")) << "not a database, but long enough to be read as a header of one\n";
  ::chmod(folder.File("text.sqlite").c_str(), 0600);
  const std::string newer = folder.File("newer.sqlite");
  {
    sqlite3* database = nullptr;
    ASSERT_EQ(sqlite3_open(newer.c_str(), &database), SQLITE_OK);
    sqlite3_exec(database, "PRAGMA user_version = 99", nullptr, nullptr, nullptr);
    sqlite3_close(database);
    ::chmod(newer.c_str(), 0600);
  }
  const std::pair<std::string, std::string> cases[] = {
      {folder.File("link.sqlite"), "symbolic link"},
      {folder.File("second-name.sqlite"), "more than one hard link"},
      {folder.File("text.sqlite"), "file is not a database"},
      {newer, "versione 99 più recente di questo programma"},
      {folder.File("missing/risposte.sqlite"), "No such file or directory"},
      {folder.Path().string(), "not a regular file"},
  };
  for (const auto& [path, reason] : cases) {
    const std::string message = RefusalOf(path);
    EXPECT_TRUE(message.starts_with("Archivio delle risposte non utilizzabile (")) << message;
    EXPECT_NE(message.find(reason), std::string::npos) << path << ": " << message;
  }
}

TEST(AnswerStore, SeveralProcessesWriteAtOnceWithoutLosingARow) {
  TempDir folder;
  const std::string path = folder.File("risposte.sqlite");
  constexpr int kWriters = 3;
  constexpr int kAnswersEach = 100;
  std::vector<pid_t> children;
  for (int writer = 0; writer < kWriters; ++writer) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      int status = 0;
      try {
        AnswerStore store(path);  // every writer may be the one that creates the tables
        for (int i = 0; i < kAnswersEach; ++i) {
          store.SaveAnswer({0, std::to_string(writer), "e", i, std::string(500, 'x'), ""});
        }
      } catch (const Exception& error) {
        std::fprintf(stderr, "writer %d: %s\n", writer, error.Message().c_str());
        status = 1;
      }
      ::_exit(status);
    }
    children.push_back(child);
  }
  for (const pid_t child : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  AnswerStore store(path);
  for (int writer = 0; writer < kWriters; ++writer) {
    EXPECT_EQ(store.LatestAnswer(std::to_string(writer), 0)->receivedUnix, kAnswersEach - 1);
  }
  EXPECT_TRUE(store.Answer(kWriters * kAnswersEach));
  EXPECT_FALSE(store.Answer(kWriters * kAnswersEach + 1));
}

}  // namespace
}  // namespace korvane::store
