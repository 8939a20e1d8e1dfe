#include "app/answer/JsonValue.h"

#include <gtest/gtest.h>

#include "support/ErrorOf.h"

namespace korvane {
namespace {

using testing::OutcomeOf;

std::string SuccessOf(const std::string& body) {
  const auto value = ParseJSONValue(body);
  return OutcomeOf([&] { return std::string(GetValueAsBoolean(value.get(), "success") ? "true" : "false"); });
}

TEST(JsonAnswer, SuccessFlagReadings) {
  struct Case {
    std::string body;
    std::string outcome;
  };
  const Case cases[] = {
      {"{\"success\":true}", "true"},
      {"\xEF\xBB\xBF{\"success\":true}\r\n", "true"},
      {"{\"success\":\"true\"}", "true"},
      {"{\"success\":\"TRUE\"}", "true"},
      {"{\"success\":1}", "true"},
      {"{\"success\":2}", "true"},
      {"{\"success\":\" 1.5 \"}", "true"},
      {"{\"success\":false}", "false"},
      {"{\"success\":\"false\"}", "false"},
      {"{\"success\":0}", "false"},
      {"{\"success\":\"0.0\"}", "false"},
      {"{\"success\":\"yes\"}", "error: 'yes' is not a valid boolean value"},
      {"{\"success\":\"\"}", "error: '' is not a valid boolean value"},
      {"{\"success\":null}", "error: Conversion from TJSONNull to Boolean is not supported"},
      {"{\"success\":{}}", "error: Conversion from TJSONObject to Boolean is not supported"},
      {"{\"success\":[true]}", "error: Conversion from TJSONArray to Boolean is not supported"},
      {"{\"success\":true,\"success\":false}", "true"},
      {"{\"Success\":true}", "error: Value 'success' not found"},
      {"", "error: Value 'success' not found"},
      {"<html><body>Bad gateway</body></html>", "error: Value 'success' not found"},
      {"{\"success\":true} trailing", "error: Value 'success' not found"},
      {"{\"success\":true}{}", "error: Value 'success' not found"},
      {"[{\"success\":true}]", "error: Value 'success' not found"},
      {"\"success\"", "error: Value 'success' not found"},
  };
  for (const auto& c : cases) EXPECT_EQ(SuccessOf(c.body), c.outcome) << c.body;
}

TEST(JsonAnswer, TextReadings) {
  const std::string body =
      R"({"success":true,"data":{"cap":20121,"ratio":1.50,"cf":{"x":1},"list":[1],"comune":null,)"
      R"("flag":true,"off":false,"denominazione":"Caff\u00e8 \"Roma\" \ud83d\ude00 \/ \t","nested":{"a":{"b":"deep"}},)"
      R"( " spaced " : 1, "lone":"\ud800"}})";
  const auto value = ParseJSONValue(body);
  ASSERT_NE(value, nullptr);
  auto text = [&](const char* path) { return OutcomeOf([&] { return GetValueAsString(value.get(), path); }); };
  EXPECT_EQ(text("data.cap"), "20121");
  EXPECT_EQ(text("data.ratio"), "1.50");
  EXPECT_EQ(text("data.comune"), "");
  EXPECT_EQ(text("data.flag"), "true");
  EXPECT_EQ(text("data.off"), "false");
  EXPECT_EQ(text("data.denominazione"), "Caff\xC3\xA8 \"Roma\" \xF0\x9F\x98\x80 / \t");
  EXPECT_EQ(text(" data . nested .a.b "), "deep");
  EXPECT_EQ(text("data.lone"), "\xEF\xBF\xBD");
  EXPECT_EQ(text("data. spaced "), "error: Value 'data. spaced ' not found");  // names compare exactly
  EXPECT_EQ(text("data.cf"), "error: Conversion from TJSONObject to string is not supported");
  EXPECT_EQ(text("data.list"), "error: Conversion from TJSONArray to string is not supported");
  EXPECT_EQ(text("data.missing"), "error: Value 'data.missing' not found");
  EXPECT_EQ(text("data.cap.x"), "error: Value 'data.cap.x' not found");
}

TEST(JsonAnswer, DataThatIsNoObjectHasNoMembers) {
  for (const char* body : {R"({"success":true,"data":null})", R"({"success":true,"data":[{"civico":"1"}]})"}) {
    const auto value = ParseJSONValue(body);
    EXPECT_EQ(OutcomeOf([&] { return GetValueAsString(value.get(), "data.civico"); }),
              "error: Value 'data.civico' not found")
        << body;
  }
}

TEST(JsonParse, RejectsWhatIsNotOneJsonValue) {
  const char* bad[] = {
      "",           " ",     "{",        "{\"a\":}",   "{\"a\" 1}",
      "{\"a\":1,}", "[1,]",  "[1 2]",    "01",         "1.",
      ".5",         "-",     "1e",       "+1",         "True",
      "nul",        "\"abc", "\"a\\x\"", "\"\\u12\"",  "\"tab\there\"",
      "{a:1}",      "'a'",   "[1]]",     "{\"a\":1}}", "\xEF\xBB\xBF",
      "NaN",
  };
  for (const char* text : bad) EXPECT_EQ(ParseJSONValue(text), nullptr) << text;
  const char* good[] = {"0", "-0.5e+10", "[]", "{}", " [ 1 , \"x\" , null ] ", "\"\"", "1E5"};
  for (const char* text : good) EXPECT_NE(ParseJSONValue(text), nullptr) << text;
}

TEST(JsonParse, NestingIsCappedWithoutCrashing) {
  auto nested = [](int depth) { return std::string(depth, '[') + std::string(depth, ']'); };
  EXPECT_NE(ParseJSONValue(nested(kMaxJsonDepth)), nullptr);
  EXPECT_EQ(ParseJSONValue(nested(kMaxJsonDepth + 1)), nullptr);
  EXPECT_EQ(ParseJSONValue(nested(600)), nullptr);
  EXPECT_EQ(ParseJSONValue(std::string(1'000'000, '[')), nullptr);
  std::string objects;
  for (int i = 0; i < 600; ++i) objects += "{\"a\":";
  EXPECT_EQ(ParseJSONValue(objects + "1" + std::string(600, '}')), nullptr);
}

TEST(JsonParse, KeepsNumbersAndDuplicateMembersAsWritten) {
  const auto value = ParseJSONValue(R"({"n":-12.50E+3,"n":2})");
  ASSERT_NE(value, nullptr);
  ASSERT_EQ(value->Members().size(), 2u);
  EXPECT_EQ(value->Members()[0].second->Text(), "-12.50E+3");
  EXPECT_EQ(value->Members()[1].second->Text(), "2");
  EXPECT_EQ(value->FindValue("n")->Text(), "-12.50E+3");
}

}  // namespace
}  // namespace korvane
