#include "Workspace.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace korvane::soak {

namespace fs = std::filesystem;

namespace {

const char* const kArchiveSchema[] = {
    "CREATE TABLE TABX (NOME VARCHAR(64), TESTO VARCHAR(255), UTENTE VARCHAR(20))",
    "CREATE TABLE CLIENTI (CODICE VARCHAR(20) NOT NULL PRIMARY KEY, RAGSOC VARCHAR(64), CF VARCHAR(16), "
    "PI VARCHAR(20), INDIRIZZO VARCHAR(64), NUMEROCIVICO VARCHAR(8), CITTA VARCHAR(64), PROVINCIA VARCHAR(2), "
    "CAP VARCHAR(10), CODICEPAESE VARCHAR(4), DATACREAZIONE DATE, DATAULTIMOAGGIORNAMENTO DATE)",
    "CREATE TABLE FORNITO (CODICE VARCHAR(20) NOT NULL PRIMARY KEY, RAGSOC VARCHAR(64), CF VARCHAR(16), "
    "PI VARCHAR(20), INDIRIZZO VARCHAR(64), NUMEROCIVICO VARCHAR(8), CITTA VARCHAR(64), PROVINCIA VARCHAR(2), "
    "CAP VARCHAR(10), CODICEPAESE VARCHAR(4), DATACREAZIONE DATE, DATAULTIMOAGGIORNAMENTO DATE)",
};

const char* const kUsersSchema[] = {
    "CREATE TABLE UTENTI (CODICE INTEGER NOT NULL PRIMARY KEY, NOMEUTENTE VARCHAR(64), DITTA VARCHAR(20), "
    "PWDUTENTE VARCHAR(64))",
    "CREATE TABLE TABSOFTDES (UTENTE INTEGER, INTESTAZIONE VARCHAR(20), PARAMETRO VARCHAR(64), VALORE VARCHAR(1024))",
};

void GiveToServer(const std::string& path, mode_t mode) {
  const passwd* firebird = getpwnam("firebird");
  if (firebird == nullptr) throw std::runtime_error("there is no firebird user (is the database server installed?)");
  if (chown(path.c_str(), firebird->pw_uid, firebird->pw_gid) != 0 || chmod(path.c_str(), mode) != 0) {
    throw std::runtime_error("cannot hand " + path + " to the database server's user");
  }
}

std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (const char ch : text) {
    quoted += ch;
    if (ch == '\'') quoted += '\'';
  }
  return quoted + "'";
}

std::string Text(const Value& value) { return value.value_or(""); }

}  // namespace

Workspace::Workspace(const std::string& parent, bool keep) : keep_(keep) {
  std::string pattern = parent + "/korvane-soak-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a folder under " + parent);
  folder_ = pattern;
  GiveToServer(folder_, 0770);
  fs::create_directories(CertificateFolder());
  fs::create_directories(LockFolder());
  setenv("FIREBIRD_LOCK", LockFolder().c_str(), 1);
  fs::create_directories(folder_ + "/traces");
}

Workspace::~Workspace() {
  users_.reset();
  archives_.clear();
  listArchive_.reset();
  if (keep_) return;
  std::error_code ignored;
  fs::remove_all(folder_, ignored);
}

void Workspace::KeepFor(const std::set<int>& runs) {
  if (keep_) return;
  keep_ = true;
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(folder_ + "/traces", ignored)) {
    const std::string name = entry.path().stem().string();
    const bool numbered =
        !name.empty() && name.find_first_not_of("0123456789") == std::string::npos && name.size() < 10;
    if (!numbered || runs.count(std::stoi(name)) == 0) fs::remove(entry.path(), ignored);
  }
}

std::string Workspace::ArchiveFile(int company) const {
  return folder_ + "/archive-" + Companies()[static_cast<std::size_t>(company)].ditta + ".fdb";
}

std::string Workspace::ProgramOf(int slot) const { return folder_ + "/slot-" + std::to_string(slot) + "/korvane"; }

void Workspace::Populate(const std::string& program, const std::vector<int>& relayPorts) {
  // One archive made through the embedded engine, copied for each company.
  const std::string model = folder_ + "/model.fdb";
  {
    Attachment created = Attachment::Create(model);
    created.Execute({std::begin(kArchiveSchema), std::end(kArchiveSchema)});
  }
  const std::vector<Company>& companies = Companies();
  for (std::size_t c = 0; c < companies.size(); ++c) {
    const Company& company = companies[c];
    const std::string file = ArchiveFile(static_cast<int>(c));
    fs::copy_file(model, file);
    if (!company.embedded) GiveToServer(file, 0660);
    std::vector<std::string> rows;
    for (int t = 0; t < kTables; ++t) {
      const std::string word = kTableWords[t];
      rows.push_back("INSERT INTO TABX VALUES ('CaratteriRiempimento" + word + "', '" +
                     std::to_string(company.codeWidth[t]) + "', NULL)");
      if (company.existing[t] != ExistingRule::Off) {
        rows.push_back("INSERT INTO TABX VALUES ('PartitaIvaPresente" + word + "', " + Quoted(company.existingText[t]) +
                       ", NULL)");
      }
      if (company.refuseCeased[t]) {
        rows.push_back("INSERT INTO TABX VALUES ('ImpresaCessata" + word + "', " + Quoted(company.ceasedText[t]) +
                       ", NULL)");
      }
      // A code that is not a number plays no part in the next code; a low number starts them.
      std::string seeded = "A0001";
      for (const PoolNumber& number : VatPool()) {
        if (!number.seeded) continue;
        rows.push_back("INSERT INTO " + std::string(kTableNames[t]) +
                       " (CODICE, RAGSOC, CF, PI, CODICEPAESE, DATACREAZIONE, DATAULTIMOAGGIORNAMENTO) VALUES (" +
                       Quoted(seeded) + ", " + Quoted(kSeedTag) + ", " + Quoted(number.digits) + ", " +
                       Quoted(number.seededAs) + ", 'IT', CURRENT_DATE, CURRENT_DATE)");
        seeded[4]++;
      }
      rows.push_back("INSERT INTO " + std::string(kTableNames[t]) +
                     " (CODICE, RAGSOC, PI, CODICEPAESE, DATACREAZIONE, DATAULTIMOAGGIORNAMENTO) VALUES ('7', " +
                     Quoted(kSeedTag) + ", '99999999999', 'IT', CURRENT_DATE, CURRENT_DATE)");
    }
    if (!company.checkText.empty()) {
      rows.push_back("INSERT INTO TABX VALUES ('ControlloPartitaIva', " + Quoted(company.checkText) + ", NULL)");
    }
    if (company.embedded) {
      Attachment(file).Execute(rows);
      archives_.push_back(nullptr);
    } else {
      auto archive = std::make_unique<Attachment>("localhost:" + file);
      archive->Execute(rows);
      archives_.push_back(std::move(archive));
    }
  }
  fs::copy_file(model, ListArchive());
  GiveToServer(ListArchive(), 0660);
  listArchive_ = std::make_unique<Attachment>("localhost:" + ListArchive());
  listArchive_->Execute({"INSERT INTO TABX VALUES ('CaratteriRiempimentoClienti', '6', NULL)"});
  fs::remove(model);

  // The users database, through the server: every slot's runs use it at once.
  const std::string users = folder_ + "/users.fdb";
  {
    Attachment created = Attachment::Create(users);
    created.Execute({std::begin(kUsersSchema), std::end(kUsersSchema)});
  }
  GiveToServer(users, 0660);
  users_ = std::make_unique<Attachment>("localhost:" + users);
  std::vector<std::string> rows;
  for (std::size_t slot = 0; slot < relayPorts.size(); ++slot) {
    const int user = UserOf(static_cast<int>(slot));
    rows.push_back("INSERT INTO UTENTI VALUES (" + std::to_string(user) + ", 'Soak slot " + std::to_string(slot) +
                   "', '01', 'x')");
    const std::string relay = "127.0.0.1/" + std::to_string(relayPorts[slot]) + ":";
    for (std::size_t c = 0; c < companies.size(); ++c) {
      const std::string file = ArchiveFile(static_cast<int>(c));
      rows.push_back("INSERT INTO TABSOFTDES VALUES (" + std::to_string(user) + ", '" + companies[c].ditta +
                     "', 'Archivio', " + Quoted(companies[c].embedded ? file : relay + file) + ")");
    }
    rows.push_back("INSERT INTO TABSOFTDES VALUES (" + std::to_string(user) + ", '" + kListCompany + "', 'Archivio', " +
                   Quoted(relay + ListArchive()) + ")");

    // The program folder: the program and the user folder whose dati.ini names the users
    // database through the slot's relay.
    const std::string slotFolder = folder_ + "/slot-" + std::to_string(slot);
    fs::create_directories(slotFolder + "/user");
    const std::string copy = ProgramOf(static_cast<int>(slot));
    if (link(program.c_str(), copy.c_str()) != 0) fs::copy_file(program, copy);
    std::ofstream ini(slotFolder + "/user/dati.ini", std::ios::binary);
    ini << "[CONFIG]\r\nPercorsoDatabase=" << relay << users << "\r\n";
    if (!ini.flush()) throw std::runtime_error("cannot write " + slotFolder + "/user/dati.ini");
  }
  users_->Execute(rows);
}

std::vector<StoredRow> Workspace::ReadAllRows() {
  std::vector<StoredRow> all;
  const std::vector<Company>& companies = Companies();
  for (std::size_t c = 0; c < companies.size(); ++c) {
    std::unique_ptr<Attachment> embedded;
    Attachment* archive = archives_[c].get();
    if (archive == nullptr) {
      embedded = std::make_unique<Attachment>(ArchiveFile(static_cast<int>(c)));
      archive = embedded.get();
    }
    for (int t = 0; t < kTables; ++t) {
      const std::vector<Row> rows = archive->Query(
          "SELECT CODICE, RAGSOC, PI, CF, INDIRIZZO, NUMEROCIVICO, CITTA, PROVINCIA, CAP, CODICEPAESE, "
          "CASE WHEN DATACREAZIONE IS NOT NULL AND DATAULTIMOAGGIORNAMENTO IS NOT NULL THEN 1 ELSE 0 END FROM " +
          std::string(kTableNames[t]));
      for (const Row& row : rows) {
        StoredRow stored;
        stored.company = static_cast<int>(c);
        stored.table = t;
        stored.codice = Text(row[0]);
        stored.ragsoc = Text(row[1]);
        stored.pi = Text(row[2]);
        stored.cf = Text(row[3]);
        stored.indirizzo = Text(row[4]);
        stored.numeroCivico = Text(row[5]);
        stored.citta = Text(row[6]);
        stored.provincia = Text(row[7]);
        stored.cap = Text(row[8]);
        stored.codicePaese = Text(row[9]);
        stored.dated = Text(row[10]) == "1";
        all.push_back(std::move(stored));
      }
    }
  }
  return all;
}

}  // namespace korvane::soak
