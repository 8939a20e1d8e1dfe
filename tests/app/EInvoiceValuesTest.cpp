#include "app/answer/EInvoiceValues.h"

#include <gtest/gtest.h>

namespace korvane {
namespace {

// The answer of a format with `member` (a JSON member text, or nothing) where that format keeps
// the company's other values.
std::unique_ptr<TJSONValue> Answer(const std::string& format, const std::string& member) {
  const std::string company = "{\"taxCode\":\"01234567890\"" + (member.empty() ? "" : "," + member) + "}";
  if (format == "base") return ParseJSONValue("{\"success\":true,\"data\":" + company + "}");
  if (format == "IT-start") return ParseJSONValue("{\"success\":true,\"data\":[" + company + "]}");
  // IT-advanced is documented with "data" as one object.
  return ParseJSONValue("{\"success\":true,\"data\":" + company + "}");
}

const AnswerPaths& PathsOf(const std::string& format) {
  return format == "base" ? kBaseAnswerPaths : kSuccessorAnswerPaths;
}

std::string Outcome(const EInvoiceValue& value) { return value.text ? "= " + *value.text : value.leftOutBecause; }

TEST(RecipientCodeOf, TakesSixOrSevenLettersAndDigitsUpperCased) {
  struct Case {
    std::string value, outcome;
  };
  const Case cases[] = {
      {R"("M5UXCR1")", "= M5UXCR1"},
      {R"("m5uxcr1")", "= M5UXCR1"},
      {R"("  kRRh6b9 ")", "= KRRH6B9"},
      {R"("\tUFABCD\n")", "= UFABCD"},  // six: an office of a public administration
      {R"("0000000")", "= 0000000"},
      {R"("ABC12")", "'ABC12' is not 6 or 7 letters and digits"},
      {R"("ABCD1234")", "'ABCD1234' is not 6 or 7 letters and digits"},
      {R"("ABC-123")", "'ABC-123' is not 6 or 7 letters and digits"},
      {R"("ABC 123")", "'ABC 123' is not 6 or 7 letters and digits"},
      {R"("ABCDÈ12")", "'ABCDÈ12' is not 6 or 7 letters and digits"},
      // A control character anywhere leaves the value out: never trimmed into another code.
      {R"("ABC\u000112")", "'ABC?12' holds a control character"},
      {R"("M5UXCR\u0000")", "'M5UXCR?' holds a control character"},
      {R"(" \u0000M5UXCR1")", "'?M5UXCR1' holds a control character"},
      {R"("M5UXCR1\u001b")", "'M5UXCR1?' holds a control character"},
      {R"("M5UXCR1\u007f ")", "'M5UXCR1?' holds a control character"},
      {R"("")", "'' is not 6 or 7 letters and digits"},
      {R"("   ")", "'' is not 6 or 7 letters and digits"},
      {"null", "null in the answer"},
      {"1234567", "not a text"},  // a number may have lost its leading zeros
      {R"(["M5UXCR1"])", "not a text"},
      {"true", "not a text"},
  };
  for (const std::string format : {"base", "IT-start", "IT-advanced"}) {
    const std::string member = format == "base" ? "codice_destinatario" : "sdiCode";
    for (const Case& c : cases) {
      const auto answer = Answer(format, "\"" + member + "\":" + c.value);
      ASSERT_NE(answer, nullptr) << c.value;
      EXPECT_EQ(Outcome(RecipientCodeOf(answer.get(), PathsOf(format))), c.outcome) << format << " " << c.value;
    }
    EXPECT_EQ(Outcome(RecipientCodeOf(Answer(format, "").get(), PathsOf(format))), "not in the answer") << format;
    // Each format reads its own member only.
    const std::string other = format == "base" ? "sdiCode" : "codice_destinatario";
    EXPECT_EQ(Outcome(RecipientCodeOf(Answer(format, "\"" + other + "\":\"M5UXCR1\"").get(), PathsOf(format))),
              "not in the answer")
        << format;
  }
  EXPECT_EQ(Outcome(RecipientCodeOf(nullptr, kBaseAnswerPaths)), "not in the answer");
  // IT-start: the first company counts.
  const auto two = ParseJSONValue(R"({"data":[{"sdiCode":"AAAAAAA"},{"sdiCode":"BBBBBBB"}]})");
  EXPECT_EQ(Outcome(RecipientCodeOf(two.get(), kSuccessorAnswerPaths)), "= AAAAAAA");
}

TEST(PecOf, TakesOneWholeAddressThatFitsTheColumn) {
  struct Case {
    std::string value;
    std::int32_t length;
    std::string outcome;
  };
  const Case cases[] = {
      {R"("rossi@pec.example.it")", 64, "= rossi@pec.example.it"},
      {R"("  Rossi.Srl@Legalmail.IT ")", 64, "= Rossi.Srl@Legalmail.IT"},  // letter case kept
      {R"("rossi@pec.it")", 12, "= rossi@pec.it"},                         // exactly the column
      {R"("rossi@pec.it")", 11, "'rossi@pec.it' is longer than the column's 11 characters"},
      {R"("caffè@pec.it")", 12, "= caffè@pec.it"},  // one character in the archive's code page
      {R"("rossi.pec.it")", 64, "'rossi.pec.it' is not one address"},
      {R"("rossi@@pec.it")", 64, "'rossi@@pec.it' is not one address"},
      {R"("a@b.it@c.it")", 64, "'a@b.it@c.it' is not one address"},
      {R"("@pec.it")", 64, "'@pec.it' is not one address"},
      {R"("rossi@")", 64, "'rossi@' is not one address"},
      {R"("rossi@pec")", 64, "'rossi@pec' is not one address"},
      {R"("ros.si@pec")", 64, "'ros.si@pec' is not one address"},
      {R"("rossi @pec.it")", 64, "'rossi @pec.it' is not one address"},
      {R"("a@pec.it, b@pec.it")", 64, "'a@pec.it, b@pec.it' is not one address"},
      {R"("a@pec.it\tb")", 64, "'a@pec.it?b' holds a control character"},
      {R"("rossi@pec.it\u0000")", 64, "'rossi@pec.it?' holds a control character"},
      {R"("\u0007rossi@pec.it\r\n")", 64, "'?rossi@pec.it' holds a control character"},
      {R"("a@pec\u00a0.it")", 64, "'a@pec\u00a0.it' is not one address"},
      {R"("a@pec\u2028.it")", 64, "'a@pec?.it' is not one address"},
      {R"("łukasz@pec.it")", 64, "'łukasz@pec.it' has characters the archive cannot hold"},
      {R"("")", 64, "'' is not one address"},
      {"null", 64, "null in the answer"},
      {"42", 64, "not a text"},
      {R"({"pec":"a@pec.it"})", 64, "not a text"},
  };
  for (const std::string format : {"base", "IT-start", "IT-advanced"}) {
    for (const Case& c : cases) {
      const auto answer = Answer(format, "\"pec\":" + c.value);
      ASSERT_NE(answer, nullptr) << c.value;
      EXPECT_EQ(Outcome(PecOf(answer.get(), PathsOf(format), c.length)), c.outcome) << format << " " << c.value;
    }
    EXPECT_EQ(Outcome(PecOf(Answer(format, "").get(), PathsOf(format), 64)), "not in the answer") << format;
  }
}

TEST(EInvoiceColumnValues, OnlyTheColumnsInForceAndTheirUsableValues) {
  const auto answer = ParseJSONValue(R"({"data":{"codice_destinatario":" abc1234 ","pec":"rossi@pec.it"}})");
  const auto values = [&](const config::EInvoiceColumns& columns) {
    std::string text;
    for (const CompanyColumnValue& value : EInvoiceColumnValues(answer.get(), kBaseAnswerPaths, columns)) {
      text += value.column + " :" + value.parameter + " = " + value.value + "; ";
    }
    return text;
  };
  const config::CompanyColumn code{"CodiceSDI", 7};
  const config::CompanyColumn pec{"PEC \"legale\"", 40};
  EXPECT_EQ(values({}), "");
  EXPECT_EQ(values({code, std::nullopt}), "CodiceSDI :CODICEDESTINATARIO = ABC1234; ");
  EXPECT_EQ(values({std::nullopt, pec}), "PEC \"legale\" :PEC = rossi@pec.it; ");
  EXPECT_EQ(values({code, pec}), "CodiceSDI :CODICEDESTINATARIO = ABC1234; PEC \"legale\" :PEC = rossi@pec.it; ");
  EXPECT_EQ(values({code, config::CompanyColumn{"PEC", 11}}), "CodiceSDI :CODICEDESTINATARIO = ABC1234; ");
}

}  // namespace
}  // namespace korvane
