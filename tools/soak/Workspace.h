#pragma once

// The soak's folder and everything a run needs in it: one users database and one archive per
// company (made once and used by every run), and one program folder per slot, whose dati.ini and
// whose user's "Archivio" values send the run's database connections through its slot's relay.

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "Firebird.h"
#include "Plan.h"

namespace korvane::soak {

// A row of CLIENTI or FORNITO as the soak reads it.
struct StoredRow {
  int company = 0;
  int table = 0;
  std::string codice;
  std::string ragsoc;
  std::string pi;
  std::string cf;
  std::string indirizzo;
  std::string numeroCivico;
  std::string citta;
  std::string provincia;
  std::string cap;
  std::string codicePaese;
  bool dated = false;  // both dates set
};

// The company name of the rows the soak stores before the first run.
inline constexpr const char* kSeedTag = "Seed row";

class Workspace {
 public:
  // A new folder under `parent` that the database server may use. Makes its lock folder the
  // embedded engine's for this process (and so for the soak's own embedded attachments).
  explicit Workspace(const std::string& parent, bool keep);
  ~Workspace();
  Workspace(const Workspace&) = delete;
  Workspace& operator=(const Workspace&) = delete;

  // Makes the databases and the program folders; `relayPorts` has one port per slot.
  void Populate(const std::string& program, const std::vector<int>& relayPorts);

  const std::string& Folder() const { return folder_; }
  std::string CaFile() const { return folder_ + "/ca.pem"; }
  std::string CertificateFolder() const { return folder_ + "/certs"; }
  // The embedded engine's lock folder of the soak and its runs (FIREBIRD_LOCK).
  std::string LockFolder() const { return folder_ + "/firebird"; }
  std::string TraceFile(int run) const { return folder_ + "/traces/" + std::to_string(run) + ".trace"; }
  std::string ProgramOf(int slot) const;
  static int UserOf(int slot) { return slot + 1; }

  // The soak's own attachments, straight to the server: the users database and each served
  // archive (none for embedded ones).
  Attachment& Users() { return *users_; }
  Attachment* ServedArchive(int company) { return archives_[static_cast<std::size_t>(company)].get(); }

  // Kept at the end for the runs that broke an invariant: the archives, the program folders and
  // those runs' traces (the other traces go, unless the whole folder was to be kept).
  void KeepFor(const std::set<int>& runs);
  bool Kept() const { return keep_; }

  // The company of the list and refresh sessions and its archive, served through each slot's
  // relay: a company of its own, apart from Companies(), whose archives the runs' checks read
  // whole. It has no setting but its codes' width.
  static constexpr const char* kListCompany = "LS";
  std::string ListArchive() const { return folder_ + "/archive-" + kListCompany + ".fdb"; }
  Attachment& ServedListArchive() { return *listArchive_; }

  // Every row of both tables of every company. Embedded archives are opened here: no run may be
  // using them.
  std::vector<StoredRow> ReadAllRows();

 private:
  std::string ArchiveFile(int company) const;

  std::string folder_;
  bool keep_;
  std::unique_ptr<Attachment> users_;
  std::vector<std::unique_ptr<Attachment>> archives_;
  std::unique_ptr<Attachment> listArchive_;
};

}  // namespace korvane::soak
