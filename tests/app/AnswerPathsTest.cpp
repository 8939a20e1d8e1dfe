// The successor registry endpoints (IT-start, IT-advanced): the address chooses the answer
// format, and the insert reads the successor's answer with the same order, rules and messages
// as the /base answer.
#include "app/answer/AnswerPaths.h"

#include <gtest/gtest.h>

#include <utility>

#include "app/answer/SubjectRow.h"
#include "app/subject/SubjectInsert.h"
#include "config/QelDBUtility.h"
#include "db/IBDatabase.h"
#include "db/IBSQL.h"
#include "support/ErrorOf.h"
#include "support/FirebirdFixture.h"
#include "support/ProgramFolder.h"
#include "support/TempDir.h"

namespace korvane {
namespace {

using Rows = std::vector<std::string>;

TEST(AnswerPathsFor, TheLastPathSegmentChoosesTheFormat) {
  const std::pair<const char*, bool> cases[] = {
      {"https://company.openapi.com/IT-start/", true},
      {"https://test.company.openapi.com/IT-start", true},
      {"https://company.openapi.com/IT-advanced/", true},
      {"https://proxy:8443/v1/IT-start//", true},
      {"https://host/IT-start?x=1", true},
      {"https://imprese.openapi.it/base/", false},
      {"https://host/it-start/", false},
      {"https://host/IT-START/", false},
      {"https://host/IT-Advanced/", false},
      {"https://host/IT-start/v1/", false},
      {"https://host/IT-starter/", false},
      {"https://IT-start/", false},  // a host, not a path
      {"https://host/base/?next=/IT-start/", false},
      {"https://host", false},
  };
  for (const auto& [url, successor] : cases) {
    EXPECT_EQ(&AnswerPathsFor(registry::ParseUri(url)), successor ? &kSuccessorAnswerPaths : &kBaseAnswerPaths) << url;
  }
}

TEST(FindValue, ANameMayIndexAnArray) {
  const auto answer = ParseJSONValue(R"({"a":[{"b":1},[2,3],null],"o":{"b":4},"s":"x"})");
  const std::pair<const char*, const char*> cases[] = {
      {"a[0].b", "1"},
      {" a [1][1] ", "3"},
      {"a[2]", ""},
      {"a[3]", "not found"},
      {"a[99999999999999999999999999]", "not found"},
      {"a[-1]", "not found"},
      {"a[]", "not found"},
      {"a[0", "not found"},
      {"a[0]x", "not found"},
      {"a[1].b", "not found"},
      {"o[0].b", "4"},  // one object stands for a list of one
      {"o[1]", "not found"},
      {"o[0][0].b", "4"},
      {"s[0]", "not found"},
      {"o.b", "4"},
  };
  for (const auto& [path, outcome] : cases) {
    const TJSONValue* found = answer->FindValue(path);
    EXPECT_EQ(found ? found->Text() : std::string("not found"), outcome) << path;
  }
}

// One company of a successor answer as its members (name, JSON value); the registered office's
// members are written with the prefix "office.".
using Members = std::vector<std::pair<std::string, std::string>>;

const Members kExample = {
    {"taxCode", R"("12485671007")"},
    {"companyName", R"("OPENAPI S.P.A.")"},
    {"vatCode", R"("12485671007")"},
    {"office.toponym", R"("VIALE")"},
    {"office.street", R"("F TOMMASO MARINETTI")"},
    {"office.streetNumber", R"("221")"},
    {"office.streetName", R"("VIALE F TOMMASO MARINETTI 221")"},
    {"office.town", R"("ROMA")"},
    {"office.hamlet", "null"},
    {"office.province", R"("RM")"},
    {"office.zipCode", R"("00143")"},
    {"office.townCode", R"("H501")"},
    {"activityStatus", R"("ATTIVA")"},
    {"sdiCode", R"("USAL8PV")"},
    {"id", R"("60b4a85585e34e615c569ef5")"},
};

Members With(Members members, const std::string& name, const std::string& value) {
  for (auto& member : members) {
    if (member.first == name) member.second = value;
  }
  return members;
}

Members Without(Members members, const std::string& name) {
  std::erase_if(members, [&](const auto& member) { return member.first == name; });
  return members;
}

std::string Company(const Members& members) {
  std::string top, office;
  for (const auto& [name, value] : members) {
    std::string& list = name.starts_with("office.") ? office : top;
    list += (list.empty() ? "\"" : ",\"") + (name.starts_with("office.") ? name.substr(7) : name) + "\":" + value;
  }
  return "{" + top + R"(,"address":{"registeredOffice":{)" + office + "}}}";
}

std::string Answer(const std::string& data) {
  return R"({"data":)" + data + R"(,"success":true,"message":"","error":null})";
}
std::string Answer(const Members& company) { return Answer("[" + Company(company) + "]"); }

// Inserts customers into a real archive from parsed answers, in process.
class SuccessorInsertTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::CreateDatabase(archive_, testing::FixtureScript("archive.sql")); }

  // The stored row (RAGSOC to CODICEPAESE joined by "|"), or "error: " and the message.
  std::string Insert(const std::string& answer, const AnswerPaths& paths = kSuccessorAnswerPaths) {
    const std::string codice = "S" + std::to_string(++inserted_);
    const auto risposta = ParseJSONValue(answer);
    const std::string error = testing::ErrorOf([&] {
      const SubjectRow row = ReadSubjectRow(risposta.get(), paths);
      TIBDatabase archivio;
      OpenIBDatabaseFile(archivio, archive_);
      platform::RunGate gate;
      SubjectInsert(archivio, TTipoSoggetto::tsCliente, gate).Write("12485671007", row, codice);
    });
    if (!error.empty()) return "error: " + error;
    const Rows row = testing::StoredCustomer(archive_, codice);
    return row.size() == 1 ? row[0] : "rows: " + std::to_string(row.size());
  }

  testing::TempDir dir_;
  std::string archive_ = dir_.File("archivio.fdb");
  int inserted_ = 0;
};

TEST_F(SuccessorInsertTest, AnswersGiveTheirRow) {
  const std::string name70 = std::string(63, 'X') + "ÈYZ" + std::string(4, 'W');
  const Members other = With(With(kExample, "companyName", R"("ALTRA S.R.L.")"), "office.town", R"("MILANO")");
  const std::pair<std::string, std::string> cases[] = {
      {Answer(kExample), "OPENAPI S.P.A.|12485671007|12485671007|VIALE F TOMMASO MARINETTI|221|ROMA|RM|00143|IT"},
      // a null is empty text; numbers keep their text and the house number is still removed
      {Answer(With(With(With(kExample, "office.streetNumber", "12"), "office.streetName", R"(" VIA ROMA 12 ")"),
                   "office.zipCode", "20121")),
       "OPENAPI S.P.A.|12485671007|12485671007|VIA ROMA|12|ROMA|RM|20121|IT"},
      {Answer(With(With(With(kExample, "office.streetNumber", "null"), "office.town", "null"), "taxCode", "1.50")),
       "OPENAPI S.P.A.|1.50|12485671007|VIALE F TOMMASO MARINETTI 221|||RM|00143|IT"},
      // cuts count characters, not bytes
      {Answer(With(With(With(kExample, "companyName", "\"" + name70 + "\""), "office.province", R"("Forlì-Cesena")"),
                   "office.town", R"("Città di Castello")")),
       name70.substr(0, 65) + "|12485671007|12485671007|VIALE F TOMMASO MARINETTI|221|Città di Castello|Fo|00143|IT"},
      {Answer(With(kExample, "office.province", R"("ÀB")")),
       "OPENAPI S.P.A.|12485671007|12485671007|VIALE F TOMMASO MARINETTI|221|ROMA|ÀB|00143|IT"},
      // the first company counts
      {Answer("[" + Company(other) + "," + Company(kExample) + "]"),
       "ALTRA S.R.L.|12485671007|12485671007|VIALE F TOMMASO MARINETTI|221|MILANO|RM|00143|IT"},
      // one object in place of the list (as IT-advanced is documented) is the company
      {Answer(Company(other)), "ALTRA S.R.L.|12485671007|12485671007|VIALE F TOMMASO MARINETTI|221|MILANO|RM|00143|IT"},
  };
  for (const auto& [answer, outcome] : cases) EXPECT_EQ(Insert(answer), outcome) << answer;
}

TEST_F(SuccessorInsertTest, AMissingOrUnreadableValueNamesItsSuccessorPath) {
  const std::string firstPath = "error: Value 'data[0].address.registeredOffice.streetNumber' not found";
  const std::pair<std::string, std::string> cases[] = {
      {Answer(Without(kExample, "office.streetNumber")), firstPath},
      {Answer(Without(kExample, "companyName")), "error: Value 'data[0].companyName' not found"},
      {Answer(Without(kExample, "taxCode")), "error: Value 'data[0].taxCode' not found"},
      {Answer(Without(kExample, "office.streetName")),
       "error: Value 'data[0].address.registeredOffice.streetName' not found"},
      {Answer(Without(kExample, "office.town")), "error: Value 'data[0].address.registeredOffice.town' not found"},
      {Answer(Without(kExample, "office.province")),
       "error: Value 'data[0].address.registeredOffice.province' not found"},
      {Answer(Without(kExample, "office.zipCode")),
       "error: Value 'data[0].address.registeredOffice.zipCode' not found"},
      {Answer(With(kExample, "taxCode", R"({"a":1})")),
       "error: Conversion from TJSONObject to string is not supported"},
      {Answer("[]"), firstPath},
      {Answer("{}"), firstPath},
      {Answer("null"), firstPath},
      {Answer(R"(["x"])"), firstPath},
      {Answer("[null," + Company(kExample) + "]"), firstPath},
      {R"({"success":true})", firstPath},
  };
  for (const auto& [answer, outcome] : cases) EXPECT_EQ(Insert(answer), outcome) << answer;
  EXPECT_EQ(testing::QueryColumn(archive_, "SELECT COUNT(*) FROM CLIENTI"), Rows{"0"});
}

TEST_F(SuccessorInsertTest, EachFormatReadsOnlyItsOwnPaths) {
  const std::string base = R"({"success":true,"data":{"civico":"1","denominazione":"X","cf":"X","indirizzo":"X",)"
                           R"("comune":"X","provincia":"X","cap":"X"}})";
  EXPECT_EQ(Insert(Answer(kExample), kBaseAnswerPaths), "error: Value 'data.civico' not found");
  EXPECT_EQ(Insert(base), "error: Value 'data[0].address.registeredOffice.streetNumber' not found");
  EXPECT_EQ(Insert(base, kBaseAnswerPaths), "X|X|12485671007|X|1|X|X|X|IT");
}

// The company's activity status in either answer format: only "CESSATA" reads as ceased.

TEST(CompanyCeased, TheStatusOfEitherFormat) {
  // The status as its JSON value; "none" leaves it out.
  const std::pair<std::string, bool> statuses[] = {
      {R"("CESSATA")", true},
      {R"(" cessata ")", true},
      {R"("Cessata")", true},
      {R"("ATTIVA")", false},
      {R"("INATTIVA")", false},
      {R"("SOSPESA")", false},
      {R"("IN LIQUIDAZIONE")", false},
      {R"("CESSATA IL 2020")", false},
      {R"("")", false},
      {"null", false},
      {R"(["CESSATA"])", false},
      {"none", false},
  };
  for (const auto& [status, ceased] : statuses) {
    const std::string member = status == "none" ? "" : ",\"stato_attivita\":" + status;
    const std::string successorMember = status == "none" ? "" : ",\"activityStatus\":" + status;
    const auto base = ParseJSONValue(R"({"success":true,"data":{"cf":"1")" + member + "}}");
    const auto list = ParseJSONValue(R"({"success":true,"data":[{"taxCode":"1")" + successorMember + "}]}");
    const auto object = ParseJSONValue(R"({"success":true,"data":{"taxCode":"1")" + successorMember + "}}");
    EXPECT_EQ(CompanyCeased(base.get(), kBaseAnswerPaths), ceased) << status;
    EXPECT_EQ(CompanyCeased(list.get(), kSuccessorAnswerPaths), ceased) << status;
    EXPECT_EQ(CompanyCeased(object.get(), kSuccessorAnswerPaths), ceased) << status << " (data as an object)";
    // Each format reads only its own path.
    EXPECT_FALSE(CompanyCeased(base.get(), kSuccessorAnswerPaths)) << status;
    EXPECT_FALSE(CompanyCeased(list.get(), kBaseAnswerPaths)) << status;
  }
  EXPECT_FALSE(CompanyCeased(nullptr, kBaseAnswerPaths));
  const auto second = ParseJSONValue(R"({"data":[{"activityStatus":"ATTIVA"},{"activityStatus":"CESSATA"}]})");
  EXPECT_FALSE(CompanyCeased(second.get(), kSuccessorAnswerPaths));  // the first company counts
}

// Several companies for one number (a VAT group, a ceased and an active entry): the ceased ones
// are set aside, one left is imported, none left is the first, more than one is refused.
TEST(ChooseCompany, CeasedEntriesAreSetAside) {
  const std::string active = Company(kExample);
  const std::string ceased = Company(With(kExample, "activityStatus", R"(" Cessata ")"));
  const std::string noStatus = Company(Without(kExample, "activityStatus"));
  const std::string refused = "Più imprese attive con la P.IVA IT12485671007 (indicare il codice fiscale)";
  const std::pair<std::string, std::string> cases[] = {
      {"[" + active + "]", "0 "},
      {"[" + ceased + "]", "0 "},
      {active, "0 "},  // one object in place of the list
      {"[]", "0 "},
      {"null", "0 "},
      {"[" + active + "," + ceased + "]", "0 entry 0 of 2 companies: the only active one"},
      {"[" + ceased + "," + active + "]", "1 entry 1 of 2 companies: the only active one"},
      {"[" + ceased + "," + ceased + "," + active + "]", "2 entry 2 of 3 companies: the only active one"},
      {"[" + ceased + "," + ceased + "]", "0 entry 0 of 2 companies: none is active, the first counts"},
      {"[null," + active + "]", "1 entry 1 of 2 companies: the only active one"},
      {R"(["x",)" + ceased + "]", "0 entry 0 of 2 companies: none is active, the first counts"},
      {"[" + active + "," + active + "]", refused},
      {"[" + ceased + "," + active + "," + noStatus + "]", refused},  // no status is not ceased
      {"[" + noStatus + "," + noStatus + "]", refused},
  };
  for (const auto& [data, outcome] : cases) {
    const auto answer = ParseJSONValue(Answer(data));
    std::string chosen;
    const std::string error = testing::ErrorOf([&] {
      const ChosenCompany choice = ChooseCompany(answer.get(), kSuccessorAnswerPaths, "IT12485671007");
      chosen = std::to_string(choice.entry) + " " + choice.reason;
    });
    EXPECT_EQ(error.empty() ? chosen : error, outcome) << data;
  }
  // /base holds one company, whatever its "data" is.
  const auto base = ParseJSONValue(Answer("[" + active + "," + active + "]"));
  EXPECT_EQ(ChooseCompany(base.get(), kBaseAnswerPaths, "1").entry, 0u);
  EXPECT_EQ(ChooseCompany(nullptr, kSuccessorAnswerPaths, "1").entry, 0u);
}

TEST(CompanyAnswerPaths, AnotherEntryIsReadAtItsIndex) {
  const CompanyAnswerPaths third(kSuccessorAnswerPaths, 2);
  EXPECT_EQ(third.Paths().companyName, "data[2].companyName");
  EXPECT_EQ(third.Paths().streetNumber, "data[2].address.registeredOffice.streetNumber");
  EXPECT_EQ(third.Paths().pec, "data[2].pec");
  EXPECT_EQ(third.Paths().companies, "data");
  EXPECT_EQ(CompanyAnswerPaths(kSuccessorAnswerPaths, 0).Paths().companyName, "data[0].companyName");
  EXPECT_EQ(CompanyAnswerPaths(kBaseAnswerPaths, 2).Paths().companyName, "data.denominazione");

  const Members other = With(With(kExample, "companyName", R"("ALTRA S.R.L.")"), "activityStatus", R"("CESSATA")");
  const auto answer = ParseJSONValue(Answer("[" + Company(other) + "," + Company(kExample) + "]"));
  const ChosenCompany choice = ChooseCompany(answer.get(), kSuccessorAnswerPaths, "12485671007");
  const CompanyAnswerPaths chosen(kSuccessorAnswerPaths, choice.entry);
  EXPECT_EQ(ReadSubjectRow(answer.get(), chosen.Paths()).companyName, "OPENAPI S.P.A.");
  EXPECT_FALSE(CompanyCeased(answer.get(), chosen.Paths()));
  const auto missing = ParseJSONValue(Answer("[" + Company(other) + "," + Company(Without(kExample, "taxCode")) + "]"));
  EXPECT_EQ(testing::ErrorOf([&] { ReadSubjectRow(missing.get(), chosen.Paths()); }),
            "Value 'data[1].taxCode' not found");
}

}  // namespace
}  // namespace korvane
