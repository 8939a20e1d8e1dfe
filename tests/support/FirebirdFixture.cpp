#include "support/FirebirdFixture.h"

#include <pwd.h>
#include <sys/stat.h>
#include <utime.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "platform/CodePages.h"
#include "serverlogin/ServerLogin.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"

namespace korvane::testing {

namespace {

constexpr const char* kIsql = "/usr/bin/isql-fb";

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write " + path);
  out << content;
}

// Runs an isql script file; `database` empty when the script connects or creates by itself (on
// the embedded engine).
std::string RunIsqlScript(const std::string& scriptFile, const std::string& database) {
  std::vector<std::string> arguments{"-q", "-b", "-user", kUserName, "-i", scriptFile};
  if (!database.empty()) arguments.push_back(database);
  // isql hands file names to the client library in its locale's character set: UTF-8, whatever
  // the test's own environment says, so that folders with accented names open.
  std::map<std::string, std::string> environment{{"LC_ALL", "C.UTF-8"}};
  // The server's password, in the environment rather than on the command line: for a name that
  // goes through the server, and for a file that the server holds open, which the client library
  // then opens through the server (its loopback provider) with the same login.
  if (ThroughServer(database)) {
    environment["ISC_PASSWORD"] = serverlogin::Password();
  } else if (const auto password = serverlogin::PasswordIfAny()) {
    environment["ISC_PASSWORD"] = *password;
  }
  const ProgramResult result = RunProgram(kIsql, arguments, environment);
  if (result.exitCode != 0) {
    throw std::runtime_error("isql-fb failed (" + std::to_string(result.exitCode) + "): " + result.err + result.out);
  }
  return result.out;
}

void BuildDatabase(const std::string& path, const std::string& sqlScriptFile, int dialect) {
  const std::string script = "SET SQL DIALECT " + std::to_string(dialect) + ";\nCREATE DATABASE '" + path + "' USER '" +
                             kUserName + "' PAGE_SIZE 4096 DEFAULT CHARACTER SET NONE;\n" + ReadFile(sqlScriptFile) +
                             "\nCOMMIT;\n";
  const std::string scriptFile = path + ".create.sql";
  WriteFile(scriptFile, script);
  try {
    RunIsqlScript(scriptFile, {});
  } catch (...) {
    std::filesystem::remove(scriptFile);
    throw;
  }
  std::filesystem::remove(scriptFile);
}

struct Templates {
  TempDir folder;
  std::map<std::pair<std::string, int>, std::string> files;
};

Templates& ProcessTemplates() {
  static Templates templates;
  return templates;
}

}  // namespace

std::map<std::string, std::string> ServerLoginEnvironment() {
  return {{"KORVANE_DB_USER", serverlogin::kUser}, {"KORVANE_DB_PASSWORD", serverlogin::Password()}};
}

std::string FixtureScript(const std::string& name) {
  return std::string(KORVANE_SOURCE_DIR) + "/tests/fixtures/" + name;
}

void CreateDatabase(const std::string& path, const std::string& sqlScriptFile, int dialect) {
  Templates& templates = ProcessTemplates();
  const auto key = std::make_pair(std::filesystem::absolute(sqlScriptFile).string(), dialect);
  auto found = templates.files.find(key);
  if (found == templates.files.end()) {
    const std::string file = templates.folder.File("template" + std::to_string(templates.files.size()) + ".fdb");
    BuildDatabase(file, sqlScriptFile, dialect);
    found = templates.files.emplace(key, file).first;
  }
  std::filesystem::copy_file(found->second, path);
}

std::string RunIsql(const std::string& database, const std::string& sql) {
  TempDir folder;
  const std::string scriptFile = folder.File("run.sql");
  WriteFile(scriptFile, sql + "\nCOMMIT;\n");
  return RunIsqlScript(scriptFile, database);
}

std::vector<std::string> QueryColumn(const std::string& database, const std::string& select) {
  // List mode prints "NAME<blanks>value" per row, the name padded to 32 columns, and keeps
  // trailing blanks of the value.
  const std::string out = RunIsql(database, "SET LIST ON;\n" + select + ";");
  std::vector<std::string> rows;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    const std::size_t nameEnd = line.find(' ');
    std::size_t start = std::max<std::size_t>(32, nameEnd == std::string::npos ? 0 : nameEnd + 1);
    rows.push_back(start < line.size() ? platform::Cp1252ToUtf8(line.substr(start)) : std::string());
  }
  return rows;
}

void GrantServerAccess(const std::string& path) {
  const passwd* firebird = getpwnam("firebird");
  if (firebird == nullptr) throw std::runtime_error("no firebird user");
  const std::filesystem::path file(path);
  for (const std::filesystem::path& p : {file.parent_path(), file}) {
    if (chown(p.c_str(), firebird->pw_uid, firebird->pw_gid) != 0) {
      throw std::runtime_error("cannot chown " + p.string());
    }
  }
  chmod(file.parent_path().c_str(), 0770);
  chmod(file.c_str(), 0660);
}

namespace {

constexpr const char* kServerAliasFile = "/etc/firebird/3.0/databases.conf";

// Rewrites the alias file and sets its modification time past the one it had.
void ReplaceAliasFile(const std::string& text) {
  struct stat before {};
  const bool existed = stat(kServerAliasFile, &before) == 0;
  {
    std::ofstream out(kServerAliasFile, std::ios::trunc | std::ios::binary);
    out << text;
    if (!out.flush()) throw std::runtime_error(std::string("cannot write ") + kServerAliasFile);
  }
  struct stat after {};
  if (!existed || stat(kServerAliasFile, &after) != 0) return;
  if (after.st_mtime > before.st_mtime) return;
  utimbuf times{after.st_atime, before.st_mtime + 1};
  if (utime(kServerAliasFile, &times) != 0) {
    throw std::runtime_error(std::string("cannot set the time of ") + kServerAliasFile);
  }
}

std::string ReadAliasFile() {
  std::ifstream in(kServerAliasFile, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

ServerAlias::ServerAlias(const std::string& alias, const std::string& path) : line_(alias + " = " + path) {
  std::string text = ReadAliasFile();
  if (!text.empty() && text.back() != '\n') text += '\n';
  ReplaceAliasFile(text + line_ + "\n");
}

ServerAlias::~ServerAlias() {
  std::istringstream in(ReadAliasFile());
  std::string kept;
  for (std::string line; std::getline(in, line);) {
    if (line != line_) kept += line + "\n";
  }
  try {
    ReplaceAliasFile(kept);
  } catch (const std::exception&) {
    // A destructor cannot report; the next test's own line is unaffected by a leftover one.
  }
}

ServerUser::ServerUser(std::string password) : password_(std::move(password)) {
  static int made = 0;
  name_ = "KORVANE_T" + std::to_string(::getpid()) + "_" + std::to_string(++made);
  const std::string file = folder_.File("admin.fdb");
  CreateDatabase(file, FixtureScript("users.sql"));
  GrantServerAccess(file);
  database_ = "localhost:" + file;
  RunIsql(database_, "CREATE USER " + name_ + " PASSWORD '" + password_ + "';");
}

ServerUser::~ServerUser() {
  try {
    RunIsql(database_, "DROP USER " + name_ + ";");
  } catch (const std::exception&) {
    // A destructor cannot report; the name is never used again.
  }
}

void ServerUser::GrantTables(const std::string& databaseFile, const std::vector<std::string>& tables) const {
  std::string sql;
  for (const std::string& table : tables) sql += "GRANT ALL ON " + table + " TO USER " + name_ + ";\n";
  RunIsql(databaseFile, sql);
}

}  // namespace korvane::testing
