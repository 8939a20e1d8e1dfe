#pragma once

#include <map>
#include <string>
#include <vector>

#include "support/RunProgram.h"
#include "support/TempDir.h"

namespace korvane::testing {

class TlsTestServer;

// A customer stored in the archive: its columns from RAGSOC to CODICEPAESE joined by "|"; nothing
// when the code is not stored.
std::vector<std::string> StoredCustomer(const std::string& archive, const std::string& codice);

// A registry answer: status 200 and this JSON body.
std::string JsonAnswer(const std::string& body);
// A registry answer with "success" true and every field an insert reads.
std::string CompleteAnswer();

// Where a ProgramFolder's databases lie and how the program reaches them.
struct ProgramFolderOptions {
  // The archive through the local server ("Archivio" is "localhost:<path>").
  bool throughServer = false;
  // The users database through the local server, by a dati.ini beside it whose
  // "PercorsoDatabase" is "localhost:<path>".
  bool usersThroughServer = false;
  // A folder (UTF-8, may hold "/") that holds the program folder, and another of the same name
  // that holds the archive.
  std::string folderName = {};
  // A folder (any bytes, may hold "/") that holds the program folder alone; the archive's folder
  // is then as without it. The folder is made under a plain name and given this one last, so the
  // database tools never meet it; with `usersThroughServer` the users database then lies beside
  // the archive, named by the dati.ini in the program folder.
  std::string programFolderName = {};
};

// A program folder <root>/bin with a copy of the built program and its users database in
// bin/user: user 5, whose company 01 has an archive with the one customer 0123. The archive is
// opened through the embedded engine, or through the local server when `throughServer`.
class ProgramFolder {
 public:
  explicit ProgramFolder(const std::string& builtProgram, bool throughServer = false);
  ProgramFolder(const std::string& builtProgram, const ProgramFolderOptions& options);

  const std::string& Program() const { return program_; }
  // The archive's database file, as the tests read it (always through the embedded engine).
  const std::string& Archive() const { return archive_; }
  const std::string& Users() const { return users_; }

  // The switches of an ordinary run (a token on the command line unless `withToken` is false),
  // then `extra`.
  static std::vector<std::string> Arguments(const std::vector<std::string>& extra = {}, bool withToken = true);
  // Trusts the test CA and points the run at `registry`'s path /base/; a folder whose databases
  // go through the server adds the server's login (ServerLoginEnvironment).
  std::map<std::string, std::string> Environment(const TlsTestServer& registry) const;

  // Imports a customer with this VAT number (token "segreto") from the registry at `registryUrl`,
  // trusting the certificate authority in the PEM file `caFile`.
  ProgramResult Import(const std::string& registryUrl, const std::string& caFile, const std::string& piva) const;

  // The codes of CLIENTI, in order.
  std::vector<std::string> Customers() const;
  std::vector<std::string> Customer(const std::string& codice) const { return StoredCustomer(archive_, codice); }

 private:
  TempDir root_;
  TempDir data_;
  std::string program_;
  std::string users_;
  std::string archive_;
  std::string caFile_;
  bool throughServer_ = false;
};

}  // namespace korvane::testing
