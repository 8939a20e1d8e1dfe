#include "app/refresh/SubjectComparison.h"

#include <gtest/gtest.h>

#include "app/refresh/DifferencesReport.h"
#include "app/run/WrittenBase.h"
#include "config/QelDBUtility.h"
#include "db/IBDatabase.h"
#include "support/FirebirdFixture.h"
#include "support/TempDir.h"

namespace korvane {
namespace {

const config::EInvoiceColumns kEInvoice{config::CompanyColumn{"CODDEST", 7}, config::CompanyColumn{"PEC", 64}};

std::unique_ptr<TJSONValue> Answer(const std::string& data) { return ParseJSONValue(R"({"data":{)" + data + "}}"); }

std::vector<std::string> Columns() {
  return {"RAGSOC", "CF", "INDIRIZZO", "NUMEROCIVICO", "CITTA", "PROVINCIA", "CAP", "CODDEST", "PEC"};
}

// A real archive with the company's two e-invoicing columns, and the subjects each test puts in.
class SubjectComparisonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::CreateDatabase(archive_, testing::FixtureScript("archive.sql"));
    testing::RunIsql(archive_, "ALTER TABLE CLIENTI ADD CODDEST VARCHAR(7), ADD PEC VARCHAR(64);");
  }

  SubjectComparison Compare(const std::string& code, const std::string& answer,
                            const std::optional<store::WrittenSubject>& base, const FieldLocks& locks = {}) {
    TIBDatabase archive;
    OpenIBDatabaseFile(archive, archive_);
    const auto row = ReadSubjectColumns(archive, "CLIENTI", code, Columns());
    if (!row) throw std::runtime_error("no row " + code);
    const auto parsed = Answer(answer);
    return CompareSubject(code, "01234567890", ReadRegistryFields(parsed.get(), kBaseAnswerPaths, kEInvoice), *row,
                          base, locks, kEInvoice);
  }

  static std::map<std::string, MergeAction> Actions(const SubjectComparison& comparison) {
    std::map<std::string, MergeAction> actions;
    for (const FieldComparison& field : comparison.fields) actions[field.field] = field.action;
    return actions;
  }

  testing::TempDir dir_;
  std::string archive_ = dir_.File("archivio.fdb");
};

constexpr const char* kRossi =
    R"("denominazione":"ROSSI SPA","cf":"01234567890","indirizzo":"Via Milano 7","civico":"7",)"
    R"("comune":"Torino","provincia":"TO","cap":"10100","stato_attivita":"ATTIVA")";

store::WrittenSubject Base(std::vector<std::pair<std::string, std::string>> values) {
  return {"D1", "archivio.fdb", 'C', "C1", "01234567890", 0, std::move(values)};
}

TEST_F(SubjectComparisonTest, EachRuleOnARealRow) {
  testing::RunIsql(archive_,
                   "INSERT INTO CLIENTI (CODICE, RAGSOC, CF, INDIRIZZO, NUMEROCIVICO, CITTA, PROVINCIA, CAP, PEC) "
                   "VALUES ('C1', 'Rossi S.r.l.', '01234567890', 'Via Roma', '3', 'Milano', 'MI', NULL, "
                   "'rossi@pec.it');");
  const SubjectComparison moved = Compare("C1", kRossi,
                                          Base({{"RAGSOC", "ROSSI SRL"},
                                                {"INDIRIZZO", "Via Roma"},
                                                {"NUMEROCIVICO", "3"},
                                                {"CITTA", "Milano"},
                                                {"PROVINCIA", "MI"},
                                                {"CAP", "20100"}}));
  const std::map<std::string, MergeAction> expected{
      {"RAGSOC", MergeAction::HandCorrected}, {"CF", MergeAction::Same},       {"INDIRIZZO", MergeAction::Updated},
      {"NUMEROCIVICO", MergeAction::Updated}, {"CITTA", MergeAction::Updated}, {"PROVINCIA", MergeAction::Updated},
      {"CAP", MergeAction::Filled},           {"CODDEST", MergeAction::Same},  {"PEC", MergeAction::NotBlanked},
  };
  EXPECT_EQ(Actions(moved), expected);
  // The house number is taken out of the address as the import takes it.
  const std::vector<std::pair<std::string, std::string>> changes{
      {"CAP", "10100"}, {"CITTA", "Torino"}, {"INDIRIZZO", "Via Milano"}, {"NUMEROCIVICO", "7"}, {"PROVINCIA", "TO"}};
  EXPECT_EQ(moved.Changes(), changes);

  // Without a base only the empty CAP is filled; the lock keeps even that from being written.
  const SubjectComparison typed = Compare("C1", kRossi, std::nullopt);
  EXPECT_EQ(Actions(typed)["INDIRIZZO"], MergeAction::NoBase);
  EXPECT_EQ(typed.Changes(), (std::vector<std::pair<std::string, std::string>>{{"CAP", "10100"}}));
  EXPECT_TRUE(Compare("C1", kRossi, std::nullopt, FieldLocks::FromText("C1;cap\n", "blocchi")).Changes().empty());
}

TEST_F(SubjectComparisonTest, ComparesWithTheImportsCutsAndReadsTheActivityAndThePair) {
  const std::string longName(70, 'A');
  testing::RunIsql(archive_, "INSERT INTO CLIENTI (CODICE, RAGSOC, CODDEST, PEC) VALUES ('C2', '" +
                                 std::string(64, 'A') + "', 'M5UXCR1', 'vecchia@pec.it');");
  const SubjectComparison ceased =
      Compare("C2",
              R"("denominazione":")" + longName +
                  R"(","cf":"","indirizzo":"","civico":"","comune":"",)"
                  R"("provincia":"","cap":"","stato_attivita":" Cessata","codice_destinatario":"M5UXCR1")",
              std::nullopt);
  EXPECT_EQ(Actions(ceased)["RAGSOC"], MergeAction::Same);
  EXPECT_EQ(ceased.activity, CompanyActivity::Ceased);
  EXPECT_TRUE(ceased.recipientPairInconsistent);
  EXPECT_TRUE(ceased.Changes().empty());

  TIBDatabase archive;
  OpenIBDatabaseFile(archive, archive_);
  EXPECT_FALSE(ReadSubjectColumns(archive, "CLIENTI", "C9", Columns()));
}

TEST(DifferencesReport, ListsDifferencesThenTheCompaniesNotActive) {
  const SubjectComparison ceased{
      "C2", "02", CompanyActivity::Ceased, {{"CAP", "", "1", std::nullopt, MergeAction::Same}}, false, ""};
  const SubjectComparison active{"C1",
                                 "01",
                                 CompanyActivity::Active,
                                 {{"RAGSOC", "Rossi; S.r.l.", "ROSSI SPA", "ROSSI SRL", MergeAction::HandCorrected},
                                  {"CF", "x", "x", "x", MergeAction::Same},
                                  {"PEC", "a@pec.it", std::nullopt, std::nullopt, MergeAction::NotBlanked}},
                                 true,
                                 ""};
  EXPECT_EQ(DifferencesReportText({ceased, active}),
            "\xEF\xBB\xBF"
            "Codice;P.IVA;Campo;Valore in archivio;Valore dal registro;Base;Azione;Attivit\xC3\xA0\r\n"
            "C1;01;RAGSOC;\"Rossi; S.r.l.\";ROSSI SPA;ROSSI SRL;corretto a mano;attiva\r\n"
            "C1;01;PEC;a@pec.it;;;non svuotato;attiva\r\n"
            "C1;01;;;;;codice destinatario e PEC incoerenti;attiva\r\n"
            "C2;02;;;;;;cessata\r\n");
}

}  // namespace
}  // namespace korvane
