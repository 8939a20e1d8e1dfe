#include "support/ProgramFolder.h"

#include <filesystem>
#include <fstream>

#include "platform/CodePages.h"

#include "support/FirebirdFixture.h"
#include "support/TestCertificates.h"
#include "support/TlsTestServer.h"

namespace korvane::testing {

std::vector<std::string> StoredCustomer(const std::string& archive, const std::string& codice) {
  return QueryColumn(archive,
                     "SELECT RAGSOC||'|'||CF||'|'||PI||'|'||INDIRIZZO||'|'||NUMEROCIVICO||'|'||CITTA||'|'||"
                     "PROVINCIA||'|'||CAP||'|'||CODICEPAESE FROM CLIENTI WHERE CODICE = '" +
                         codice + "'");
}

std::string JsonAnswer(const std::string& body) {
  return "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\n\r\n" + body;
}

std::string CompleteAnswer() {
  return JsonAnswer(R"({"success":true,"data":{"denominazione":"Rossi S.r.l.","cf":"01234567890",)"
                    R"("indirizzo":"Via Roma 12","civico":"12","comune":"Milano","provincia":"MI","cap":"20121"}})");
}

ProgramFolder::ProgramFolder(const std::string& builtProgram, bool throughServer)
    : ProgramFolder(builtProgram, ProgramFolderOptions{.throughServer = throughServer}) {}

ProgramFolder::ProgramFolder(const std::string& builtProgram, const ProgramFolderOptions& options)
    : throughServer_(options.throughServer || options.usersThroughServer) {
  const bool renamed = !options.programFolderName.empty();
  const std::filesystem::path programRoot = renamed                      ? root_.Path() / "program-folder"
                                            : options.folderName.empty() ? root_.Path()
                                                                         : root_.Path() / options.folderName;
  const std::filesystem::path dataRoot = options.folderName.empty() ? data_.Path() : data_.Path() / options.folderName;
  program_ = (programRoot / "bin/korvane").string();
  // A users database reached through the server by a renamed folder's dati.ini lies elsewhere:
  // the file names the one it had before the rename.
  users_ = (renamed && options.usersThroughServer ? dataRoot / "user.fdb" : programRoot / "bin/user/user.fdb").string();
  archive_ = (dataRoot / "archivio.fdb").string();
  caFile_ = root_.File("ca.pem");
  std::filesystem::create_directories(programRoot / "bin/user");
  std::filesystem::create_directories(dataRoot);
  std::filesystem::copy_file(builtProgram, program_);
  CreateDatabase(archive_, FixtureScript("archive.sql"));
  RunIsql(archive_, "INSERT INTO CLIENTI (CODICE) VALUES ('0123');\n");
  CreateDatabase(users_, FixtureScript("users.sql"));
  // The server's user must pass through every folder above a file it opens.
  const auto openToServer = [](const std::filesystem::path& top, const std::string& file) {
    for (std::filesystem::path folder = std::filesystem::path(file).parent_path();
         folder != top && folder != folder.parent_path();) {
      folder = folder.parent_path();
      std::filesystem::permissions(folder, std::filesystem::perms::others_exec, std::filesystem::perm_options::add);
    }
    GrantServerAccess(file);
  };
  if (options.throughServer) openToServer(data_.Path(), archive_);
  if (options.usersThroughServer) {
    openToServer(renamed ? data_.Path() : root_.Path(), users_);
    std::ofstream((programRoot / "bin/user/dati.ini").string(), std::ios::binary)
        << "[CONFIG]\r\nPercorsoDatabase=localhost:" << users_ << "\r\n";
  }
  // "Archivio" is Windows-1252 text in the users database.
  const std::string archivio = platform::Utf8ToCp1252(options.throughServer ? "localhost:" + archive_ : archive_);
  RunIsql(users_,
          "INSERT INTO UTENTI VALUES (5, 'Anna', '01', 'x');\n"
          "INSERT INTO TABSOFTDES VALUES (5, '01', 'Archivio', '" +
              archivio + "');\n");
  TestCertificates::Get().WriteCaPem(caFile_);
  if (renamed) {
    const std::filesystem::path named = root_.Path() / options.programFolderName;
    std::filesystem::create_directories(named.parent_path());
    std::filesystem::rename(programRoot, named);
    program_ = (named / "bin/korvane").string();
    if (!options.usersThroughServer) users_ = (named / "bin/user/user.fdb").string();
  }
}

std::vector<std::string> ProgramFolder::Arguments(const std::vector<std::string>& extra, bool withToken) {
  std::vector<std::string> arguments = {"-UTENTE", "5", "-DITTA", "01", "-PIVA", "01234567890"};
  if (withToken) arguments.insert(arguments.end(), {"-APITOKEN", "segreto"});
  arguments.insert(arguments.end(), extra.begin(), extra.end());
  return arguments;
}

ProgramResult ProgramFolder::Import(const std::string& registryUrl, const std::string& caFile,
                                    const std::string& piva) const {
  std::map<std::string, std::string> environment{{"SSL_CERT_FILE", caFile}, {"KORVANE_REGISTRY_URL", registryUrl}};
  if (throughServer_) environment.merge(ServerLoginEnvironment());
  return RunProgram(program_, {"-UTENTE", "5", "-DITTA", "01", "-PIVA", piva, "-APITOKEN", "segreto"}, environment);
}

std::map<std::string, std::string> ProgramFolder::Environment(const TlsTestServer& registry) const {
  std::map<std::string, std::string> environment{{"SSL_CERT_FILE", caFile_},
                                                 {"KORVANE_REGISTRY_URL", registry.Url("/base/")}};
  if (throughServer_) environment.merge(ServerLoginEnvironment());
  return environment;
}

std::vector<std::string> ProgramFolder::Customers() const {
  return QueryColumn(archive_, "SELECT CODICE FROM CLIENTI ORDER BY CODICE");
}

}  // namespace korvane::testing
