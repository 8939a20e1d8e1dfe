#include "winclient/Request.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/sha.h>

#include "winclient/ClientError.h"
#include "winclient/Settings.h"
#include "winclient/Text.h"

namespace korvane::winclient {
namespace {

using namespace std::string_literals;

std::string ErrorOf(const std::vector<std::string>& arguments) {
  try {
    RequestBody(arguments);
  } catch (const ClientError& error) {
    return error.what();
  }
  return "no error";
}

std::string OpenSslSha256(const std::string& data) {
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(data.data()), data.size(), digest);
  return LowerHex(std::string_view(reinterpret_cast<const char*>(digest), sizeof(digest)));
}

std::string OpenSslHmacSha256(const Digest& key, const std::string& data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()), reinterpret_cast<const unsigned char*>(data.data()),
       data.size(), digest, &length);
  return LowerHex(std::string_view(reinterpret_cast<const char*>(digest), length));
}

TEST(WinclientRequest, BodyIsEachArgumentEndedByNulWithEmptyOnesDropped) {
  EXPECT_EQ(RequestBody({"-UTENTE", "5", "", "-DITTA", "Contabilità"}),
            "-UTENTE\0"
            "5\0-DITTA\0Contabilità\0"s);
  EXPECT_EQ(RequestBody({"--version"}), "--version\0"s);
}

TEST(WinclientRequest, RefusesWhatMustNotLeaveTheDesktop) {
  const std::string token = "Richiesta non valida (-APITOKEN non ammesso: il token è quello del server)";
  EXPECT_EQ(ErrorOf({"-UTENTE", "5", "-APITOKEN", "segreto"}), token);
  EXPECT_EQ(ErrorOf({"-apiToken", "segreto"}), token);
  EXPECT_EQ(ErrorOf({"-ap\xC4\xB1token", "segreto"}), token);  // the dotless i upper-cases to I
  EXPECT_EQ(ErrorOf({"-APITOKENS", "x", "APITOKEN", "y"}), "no error");

  EXPECT_EQ(ErrorOf(std::vector<std::string>(kMaxArguments, "a")), "no error");
  std::vector<std::string> tooMany(kMaxArguments + 1, "a");
  EXPECT_EQ(ErrorOf(tooMany), "Richiesta non valida (più di 32 argomenti)");
  tooMany.insert(tooMany.begin(), 10, "");  // empty arguments do not count
  tooMany.pop_back();
  EXPECT_EQ(ErrorOf(tooMany), "no error");

  EXPECT_EQ(ErrorOf({std::string(kMaxBodyBytes - 1, 'x')}), "no error");
  EXPECT_EQ(ErrorOf({std::string(kMaxBodyBytes, 'x')}), "Richiesta troppo grande");
  // The service runs nothing for an empty body: it is not sent.
  EXPECT_EQ(ErrorOf({}), "Richiesta non valida (nessun parametro)");
  EXPECT_EQ(ErrorOf({"", ""}), "Richiesta non valida (nessun parametro)");
}

TEST(WinclientRequest, SignatureMatchesTheServiceContract) {
  const std::string body = RequestBody({"-UTENTE", "5", "-PIVA", "01234567890"});
  const std::string bodyHash = OpenSslSha256(body);
  EXPECT_EQ(bodyHash, "7c327189b42f704947b0831a0cadc07dcc9302047e9e5a7200a97974726fa3dc");
  const std::string text = SigningText("1796954785", "00112233445566778899aabbccddeeff", bodyHash);
  EXPECT_EQ(text, "korvane-v1\nPOST\n/v1/import\n1796954785\n00112233445566778899aabbccddeeff\n" + bodyHash);

  // The vector computed apart from this code, with another HMAC implementation.
  Digest key{};
  for (std::size_t i = 0; i < key.size(); ++i) key[i] = static_cast<unsigned char>(i);
  EXPECT_EQ(ParseDigest("000102030405060708090a0b0c0d0e0f101112131415161718191A1B1C1D1E1F", false), key);
  EXPECT_EQ(OpenSslHmacSha256(key, text), "c7bdde344af9a7eb5d191f6f57b9c6a0d38990d6c9a6f3ec063c66fba1561259");
}

TEST(WinclientRequest, HeadersCarryTheKeyNameTimeNonceAndSignature) {
  EXPECT_EQ(RequestHeaders("desktop-01", "1796954785", "0011", "abcd"),
            "Content-Type: application/octet-stream\r\n"
            "X-Korvane-Key: desktop-01\r\n"
            "X-Korvane-Time: 1796954785\r\n"
            "X-Korvane-Nonce: 0011\r\n"
            "X-Korvane-Signature: abcd\r\n");
}

TEST(WinclientText, MessageTextHasNoControlCharactersAndABound) {
  EXPECT_EQ(TextForMessage("Chiave del desktop non valida"), "Chiave del desktop non valida");
  EXPECT_EQ(TextForMessage("a\r\nb\tc\x7F"
                           "d\xC2\x85"
                           "e"),
            "a??b?c?d?e");
  EXPECT_EQ(TextForMessage("\xE8 \xC3\xA8"), "\xEF\xBF\xBD \xC3\xA8");  // not UTF-8: U+FFFD
  EXPECT_EQ(TextForMessage(std::string(kMessageTextLimit, 'x')), std::string(kMessageTextLimit, 'x'));
  EXPECT_EQ(TextForMessage(std::string(kMessageTextLimit, 'x') + "\xC3\xA8"),
            std::string(kMessageTextLimit, 'x') + "...");
}

}  // namespace
}  // namespace korvane::winclient
