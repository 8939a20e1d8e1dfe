// A single run keeps its answer and the values it wrote in the store of answers only when
// KORVANE_ANSWER_STORE names one, and a store it cannot use never changes its line or exit code.
#include <gtest/gtest.h>

#include <filesystem>

#include "store/AnswerStore.h"
#include "support/ProgramFolder.h"
#include "support/RegistrySimulator.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"

namespace korvane {
namespace {

using testing::ProgramFolder;
using testing::RegistrySimulator;

class SingleRunStoreTest : public ::testing::Test {
 protected:
  testing::ProgramResult Import(const std::string& vatNumber, const std::string& store) {
    std::map<std::string, std::string> environment{{"SSL_CERT_FILE", registry_.CaFile()},
                                                   {"KORVANE_REGISTRY_URL", registry_.Url("/base/")},
                                                   {"KORVANE_LEDGER", dir_.File("richieste.tsv")}};
    if (!store.empty()) environment["KORVANE_ANSWER_STORE"] = store;
    return testing::RunProgram(
        folder_.Program(), {"-UTENTE", "5", "-DITTA", "01", "-PIVA", vatNumber, "-APITOKEN", "segreto"}, environment);
  }

  testing::TempDir dir_;
  ProgramFolder folder_{KORVANE_BINARY};
  RegistrySimulator registry_{KORVANE_SIMULATOR, {"12485671007", "00743110157", "01234560017"}};
};

TEST_F(SingleRunStoreTest, TheAnswerAndTheValuesWrittenAreKeptOnlyWhenTheStoreIsNamed) {
  const std::string store = dir_.File("risposte.sqlite");
  const auto kept = Import("12485671007", store);
  EXPECT_EQ(kept.out, "0124\r\n");
  EXPECT_EQ(kept.exitCode, 0);
  {
    const store::AnswerStore answers(store);
    const auto answer = answers.LatestAnswer("12485671007", 0);
    ASSERT_TRUE(answer);
    EXPECT_NE(answer->body.find("\"success\""), std::string::npos);
    EXPECT_FALSE(answer->ledgerKey.empty());
    const auto base = answers.LastWritten("01", folder_.Archive(), 'C', "0124");
    ASSERT_TRUE(base);
    EXPECT_EQ(base->vatNumber, "12485671007");
  }
  // Without the variable nothing is kept, not even the default store is opened.
  const auto notKept = Import("00743110157", "");
  EXPECT_EQ(notKept.out, "0125\r\n");
  EXPECT_FALSE(store::AnswerStore(store).LatestAnswer("00743110157", 0));

  // A store that cannot be used: the same line and exit code as without one.
  std::filesystem::create_directory(dir_.File("cartella"));
  const auto unusable = Import("01234560017", dir_.File("cartella"));
  EXPECT_EQ(unusable.out, "0126\r\n");
  EXPECT_EQ(unusable.err, "");
  EXPECT_EQ(unusable.exitCode, 0);
  EXPECT_EQ(folder_.Customers(), (std::vector<std::string>{"0123", "0124", "0125", "0126"}));
}

}  // namespace
}  // namespace korvane
