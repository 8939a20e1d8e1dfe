#include "support/ProgramFolder.h"

#include <filesystem>

#include "support/FirebirdFixture.h"
#include "support/TestCertificates.h"
#include "support/TlsTestServer.h"

namespace korvane::testing {

std::vector<std::string> StoredCustomer(const std::string& archive, const std::string& codice) {
  return QueryColumn(archive,
                     "SELECT RAGSOC||'|'||CF||'|'||PI||'|'||INDIRIZZO||'|'||NUMEROCIVICO||'|'||CITTA||'|'||"
                     "PROVINCIA||'|'||CAP||'|'||CODICEPAESE FROM CLIENTI WHERE CODICE = '" + codice + "'");
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
    : program_(root_.File("bin/korvane")),
      users_(root_.File("bin/user/user.fdb")),
      archive_(data_.File("archivio.fdb")),
      caFile_(root_.File("ca.pem")) {
  std::filesystem::create_directories(root_.File("bin/user"));
  std::filesystem::copy_file(builtProgram, program_);
  CreateDatabase(archive_, FixtureScript("archive.sql"));
  RunIsql(archive_, "INSERT INTO CLIENTI (CODICE) VALUES ('0123');\n");
  if (throughServer) GrantServerAccess(archive_);
  const std::string archivio = throughServer ? "localhost:" + archive_ : archive_;
  CreateDatabase(users_, FixtureScript("users.sql"));
  RunIsql(users_, "INSERT INTO UTENTI VALUES (5, 'Anna', '01', 'x');\n"
                  "INSERT INTO TABSOFTDES VALUES (5, '01', 'Archivio', '" + archivio + "');\n");
  TestCertificates::Get().WriteCaPem(caFile_);
}

std::vector<std::string> ProgramFolder::Arguments(const std::vector<std::string>& extra, bool withToken) {
  std::vector<std::string> arguments = {"-UTENTE", "5", "-DITTA", "01", "-PIVA", "01234567890"};
  if (withToken) arguments.insert(arguments.end(), {"-APITOKEN", "segreto"});
  arguments.insert(arguments.end(), extra.begin(), extra.end());
  return arguments;
}

ProgramResult ProgramFolder::Import(const std::string& registryUrl, const std::string& caFile,
                                    const std::string& piva) const {
  return RunProgram(program_, {"-UTENTE", "5", "-DITTA", "01", "-PIVA", piva, "-APITOKEN", "segreto"},
                    {{"SSL_CERT_FILE", caFile}, {"KORVANE_REGISTRY_URL", registryUrl}});
}

std::map<std::string, std::string> ProgramFolder::Environment(const TlsTestServer& registry) const {
  return {{"SSL_CERT_FILE", caFile_}, {"KORVANE_REGISTRY_URL", registry.Url("/base/")}};
}

std::vector<std::string> ProgramFolder::Customers() const {
  return QueryColumn(archive_, "SELECT CODICE FROM CLIENTI ORDER BY CODICE");
}

}  // namespace korvane::testing
