// The successor registry endpoints (IT-start, IT-advanced) as runs of the built program meet
// them: the address chooses the request and the answer's format.
#include <gtest/gtest.h>

#include "support/ProgramFolder.h"
#include "support/TempDir.h"
#include "support/TestCertificates.h"
#include "support/TlsTestServer.h"

namespace korvane {
namespace {

using testing::TlsTestServer;
using Rows = std::vector<std::string>;

// One company in the successor format, as the provider documents it.
const std::string kSuccessorAnswer =
    R"({"data":[{"taxCode":"12485671007","companyName":"OPENAPI S.P.A.","vatCode":"12485671007",)"
    R"("activityStatus":"ATTIVA","sdiCode":"USAL8PV","id":"60b4a85585e34e615c569ef5",)"
    R"("address":{"registeredOffice":{"toponym":"VIALE","street":"F TOMMASO MARINETTI","streetNumber":"221",)"
    R"("streetName":"VIALE F TOMMASO MARINETTI 221","town":"ROMA","hamlet":null,"province":"RM",)"
    R"("zipCode":"00143","townCode":"H501"}}}],"success":true,"message":"","error":null})";

// The built program against a scripted registry: the address chooses the format and the request.
TEST(SuccessorEndToEnd, TheAddressChoosesRequestAndFormat) {
  testing::ProgramFolder folder(KORVANE_BINARY);
  testing::TempDir certificates;
  const std::string caFile = certificates.File("ca.pem");
  testing::TestCertificates::Get().WriteCaPem(caFile);
  const auto json = [](const std::string& status, const std::string& body) {
    return "HTTP/1.1 " + status +
           "\r\nContent-Type: application/json; charset=utf-8\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body;
  };
  const std::string successor = json("200 OK", kSuccessorAnswer);
  const std::string base = json("200 OK", R"({"success":true,"data":{"denominazione":"Bàse S.r.l.","cf":"12485671007",)"
                                          R"("indirizzo":"Via Roma 1","civico":"1","comune":"Roma","provincia":"RM",)"
                                          R"("cap":"00100"}})");
  struct Case {
    std::string path, answer, requestLine, out;
  };
  const Case cases[] = {
      {"/IT-start", successor, "GET /IT-start/12485671007 HTTP/1.1", "0124"},
      {"/v1/IT-advanced/", successor, "GET /v1/IT-advanced/12485671007 HTTP/1.1", "0125"},
      {"/base/", base, "GET /base/12485671007 HTTP/1.1", "0126"},
      {"/base/", successor, "GET /base/12485671007 HTTP/1.1", "Value 'data.civico' not found"},
      {"/it-start/", successor, "GET /it-start/12485671007 HTTP/1.1", "Value 'data.civico' not found"},
      {"/IT-start/",
       json("402 Payment Required", R"({"success":false,"message":"Billing error message: Insufficient Credit )"
                                    R"(in Wallet: ...","error":610,"data":null})"),
       "GET /IT-start/12485671007 HTTP/1.1", "HTTP/1.1 402 Payment Required"},
  };
  for (const auto& c : cases) {
    TlsTestServer registry({TlsTestServer::ExpectRequest(), TlsTestServer::Send(c.answer), TlsTestServer::Close()});
    const auto result = folder.Import(registry.Url(c.path), caFile, "12485671007");
    EXPECT_EQ(result.out, c.out + "\r\n") << c.path;
    EXPECT_EQ(result.exitCode, c.out.starts_with("01") ? 0 : 1) << c.path;
    EXPECT_EQ(registry.Request().substr(0, registry.Request().find("\r\n")), c.requestLine);
  }
  const std::string example = "OPENAPI S.P.A.|12485671007|12485671007|VIALE F TOMMASO MARINETTI|221|ROMA|RM|00143|IT";
  EXPECT_EQ(folder.Customer("0124"), Rows{example});
  EXPECT_EQ(folder.Customer("0125"), Rows{example});
  EXPECT_EQ(folder.Customer("0126"), Rows{"Bàse S.r.l.|12485671007|12485671007|Via Roma|1|Roma|RM|00100|IT"});
  EXPECT_EQ(folder.Customers(), (Rows{"0123", "0124", "0125", "0126"}));
}

}  // namespace
}  // namespace korvane
