#include "support/ProgramFolder.h"

#include <filesystem>

#include "support/FirebirdFixture.h"

namespace korvane::testing {

std::vector<std::string> StoredCustomer(const std::string& archive, const std::string& codice) {
  return QueryColumn(archive,
                     "SELECT RAGSOC||'|'||CF||'|'||PI||'|'||INDIRIZZO||'|'||NUMEROCIVICO||'|'||CITTA||'|'||"
                     "PROVINCIA||'|'||CAP||'|'||CODICEPAESE FROM CLIENTI WHERE CODICE = '" + codice + "'");
}

ProgramFolder::ProgramFolder(const std::string& builtProgram)
    : program_(root_.File("bin/korvane")), archive_(root_.File("archivio.fdb")) {
  std::filesystem::create_directories(root_.File("bin/user"));
  std::filesystem::copy_file(builtProgram, program_);
  const std::string users = root_.File("bin/user/user.fdb");
  CreateDatabase(users, FixtureScript("users.sql"));
  RunIsql(users, "INSERT INTO UTENTI VALUES (1, 'Anna', '01', 'x');\n"
                 "INSERT INTO TABSOFTDES VALUES (1, '01', 'Archivio', '" + archive_ + "');\n");
  CreateDatabase(archive_, FixtureScript("archive.sql"));
}

ProgramResult ProgramFolder::Import(const std::string& registryUrl, const std::string& caFile,
                                    const std::string& piva) const {
  return RunProgram(program_, {"-UTENTE", "1", "-DITTA", "01", "-PIVA", piva, "-APITOKEN", "segreto"},
                    {{"SSL_CERT_FILE", caFile}, {"KORVANE_REGISTRY_URL", registryUrl}});
}

std::vector<std::string> ProgramFolder::CustomerCodes() const {
  return QueryColumn(archive_, "SELECT CODICE FROM CLIENTI ORDER BY CODICE");
}

}  // namespace korvane::testing
