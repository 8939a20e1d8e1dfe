#include "app/refresh/FieldMerge.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/Exception.h"
#include "support/TempDir.h"

namespace korvane {
namespace {

struct MergeCase {
  const char* name;
  FieldValues values;
  MergeAction expected;
};

TEST(FieldMerge, EachRuleOfTheThreeWayMerge) {
  const std::optional<std::string> none;
  const MergeCase cases[] = {
      {"archive as written, registry moved on", {"Via Roma", "Via Roma", "Via Milano"}, MergeAction::Updated},
      {"archive empty, base known", {"Via Roma", "", "Via Milano"}, MergeAction::Filled},
      {"archive empty, no base", {none, "", "Via Milano"}, MergeAction::Filled},
      {"corrected by hand", {"ROSSI SRL", "Rossi S.r.l.", "ROSSI SPA"}, MergeAction::HandCorrected},
      {"corrected by hand to the registry's old value", {"A", "B", "C"}, MergeAction::HandCorrected},
      {"no base, archive differs", {none, "Rossi S.r.l.", "ROSSI SPA"}, MergeAction::NoBase},
      {"registry empty never blanks", {"Via Roma", "Via Roma", ""}, MergeAction::NotBlanked},
      {"registry missing never blanks", {"Via Roma", "Via Roma", none}, MergeAction::NotBlanked},
      {"registry missing, no base", {none, "Via Roma", none}, MergeAction::NotBlanked},
      {"both empty", {none, "", none}, MergeAction::Same},
      {"archive already holds the registry's", {"Via Roma", "Via Milano", "Via Milano"}, MergeAction::Same},
      {"no base, archive already holds it", {none, "Via Milano", "Via Milano"}, MergeAction::Same},
      {"locked, would update", {"Via Roma", "Via Roma", "Via Milano", true}, MergeAction::Locked},
      {"locked, would fill", {none, "", "Via Milano", true}, MergeAction::Locked},
      {"locked, registry empty still not blanked", {"Via Roma", "Via Roma", "", true}, MergeAction::NotBlanked},
      {"letter case is a difference", {"Via Roma", "Via Roma", "VIA ROMA"}, MergeAction::Updated},
  };
  for (const MergeCase& c : cases) {
    EXPECT_EQ(MergeField(c.values), c.expected) << c.name;
  }
}

TEST(FieldMerge, OnlyUpdatesAndFillsWrite) {
  for (const MergeAction action : {MergeAction::Same, MergeAction::HandCorrected, MergeAction::NotBlanked,
                                   MergeAction::NoBase, MergeAction::Locked}) {
    EXPECT_FALSE(MergeWrites(action)) << MergeActionWord(action);
  }
  EXPECT_TRUE(MergeWrites(MergeAction::Updated));
  EXPECT_TRUE(MergeWrites(MergeAction::Filled));
}

TEST(FieldMerge, ActivityOfTheRegistrysStatus) {
  const std::pair<const char*, CompanyActivity> cases[] = {
      {"ATTIVA", CompanyActivity::Active},
      {"", CompanyActivity::Active},
      {"INATTIVA", CompanyActivity::Active},
      {" cessata ", CompanyActivity::Ceased},
      {"Sospesa", CompanyActivity::Suspended},
      {"IN LIQUIDAZIONE", CompanyActivity::InLiquidation},
      {"liquidazione\n", CompanyActivity::InLiquidation},
  };
  for (const auto& [status, expected] : cases) EXPECT_EQ(ActivityOf(status), expected) << status;
}

TEST(FieldMerge, RecipientCodeAndPec) {
  EXPECT_TRUE(PecRequired("0000000"));
  EXPECT_TRUE(PecRequired(""));
  EXPECT_FALSE(PecRequired("M5UXCR1"));
  EXPECT_TRUE(RecipientPairInconsistent("M5UXCR1", "rossi@pec.it"));
  EXPECT_FALSE(RecipientPairInconsistent("0000000", "rossi@pec.it"));
  EXPECT_FALSE(RecipientPairInconsistent("", "rossi@pec.it"));
  EXPECT_FALSE(RecipientPairInconsistent("M5UXCR1", "  "));
}

TEST(FieldLocks, ReadsCodesAndFieldsAndRefusesHalfLines) {
  const FieldLocks locks = FieldLocks::FromText(
      "\xEF\xBB\xBF# campi da non toccare\r\nC0012;ragsoc\r\n\r\n  C0013 ; INDIRIZZO  \r\n", "blocchi.csv");
  EXPECT_TRUE(locks.Locked("C0012", "RAGSOC"));
  EXPECT_TRUE(locks.Locked("C0013", "indirizzo"));
  EXPECT_FALSE(locks.Locked("C0012", "INDIRIZZO"));
  EXPECT_FALSE(locks.Locked("c0012", "RAGSOC"));

  for (const char* bad : {"C0012\n", "C0012;\n", ";RAGSOC\n", "C0012;RAGSOC;CAP\n"}) {
    try {
      FieldLocks::FromText(std::string("# ok\n") + bad, "blocchi.csv");
      ADD_FAILURE() << bad;
    } catch (const Exception& error) {
      EXPECT_EQ(error.Message(), "File dei campi bloccati non valido (blocchi.csv, riga 2)");
    }
  }
}

TEST(FieldLocks, AMissingFileIsAnError) {
  testing::TempDir folder;
  const std::string path = folder.File("assente.csv");
  try {
    FieldLocks::FromFile(path);
    ADD_FAILURE();
  } catch (const Exception& error) {
    EXPECT_EQ(error.Message(), "File dei campi bloccati non leggibile (" + path + ": No such file or directory)");
  }
  std::ofstream(folder.File("blocchi.csv")) << "C1;CAP\n";
  EXPECT_TRUE(FieldLocks::FromFile(folder.File("blocchi.csv")).Locked("C1", "CAP"));
}

}  // namespace
}  // namespace korvane
