#pragma once

#include <string>
#include <vector>

#include "support/RunProgram.h"
#include "support/TempDir.h"

namespace korvane::testing {

// A customer stored in the archive: its columns from RAGSOC to CODICEPAESE joined by "|"; nothing
// when the code is not stored.
std::vector<std::string> StoredCustomer(const std::string& archive, const std::string& codice);

// A program folder for end-to-end runs of the built program: a copy of it in <root>/bin, its users
// database in bin/user with user 1, and the archive of that user's company 01 (empty tables, so
// customer codes count up from 0001).
class ProgramFolder {
 public:
  explicit ProgramFolder(const std::string& builtProgram);

  // Imports a customer with this VAT number (token "segreto") from the registry at `registryUrl`,
  // trusting the certificate authority in the PEM file `caFile`.
  ProgramResult Import(const std::string& registryUrl, const std::string& caFile, const std::string& piva) const;

  std::vector<std::string> Customer(const std::string& codice) const { return StoredCustomer(archive_, codice); }
  std::vector<std::string> CustomerCodes() const;

 private:
  TempDir root_;
  std::string program_;
  std::string archive_;
};

}  // namespace korvane::testing
