// The company's activity status in either answer format: only "CESSATA" reads as ceased.
#include <gtest/gtest.h>

#include "app/AnswerPaths.h"

namespace korvane {
namespace {

TEST(CompanyCeased, TheStatusOfEitherFormat) {
  // The status as its JSON value; "none" leaves it out.
  const std::pair<std::string, bool> statuses[] = {
      {R"("CESSATA")", true},   {R"(" cessata ")", true}, {R"("Cessata")", true},
      {R"("ATTIVA")", false},   {R"("INATTIVA")", false}, {R"("SOSPESA")", false},
      {R"("IN LIQUIDAZIONE")", false}, {R"("CESSATA IL 2020")", false}, {R"("")", false},
      {"null", false},          {R"(["CESSATA"])", false}, {"none", false},
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

}  // namespace
}  // namespace korvane
