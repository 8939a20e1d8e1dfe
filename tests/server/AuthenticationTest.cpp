#include "server/Authentication.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

#include <fstream>

#include "server/DesktopKeys.h"
#include "server/Refusal.h"
#include "server/Signature.h"
#include "support/DesktopClient.h"
#include "support/ErrorOf.h"
#include "support/TempDir.h"

namespace korvane::server {
namespace {

using testing::ErrorOf;

constexpr std::int64_t kNow = 1'800'000'000;

// The service's signature and the desktop's (written apart) agree, on a fixed vector too.
TEST(Signature, TheServiceAndTheDesktopSignAlike) {
  const std::string keyHex(64, 'a');
  const std::string body(
      "-UTENTE\0"
      "17\0",
      11);
  const std::string text = SignedText("POST", "/v1/import", "1800000000", std::string(32, '0'), body);
  EXPECT_EQ(text, "korvane-v1\nPOST\n/v1/import\n1800000000\n00000000000000000000000000000000\n" + Sha256Hex(body));
  EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Signature(*KeyFromHex(keyHex), text),
            testing::DesktopSignature(keyHex, "POST", "/v1/import", "1800000000", std::string(32, '0'), body));
  // The same computed by the openssl command line tool, for the format's sake.
  EXPECT_EQ(Signature(*KeyFromHex(keyHex), text), "ad131d43baeab3aab92f28986f4f7ff237eaab5f4c6a6221f57c6aa96455d777");
}

TEST(Signature, KeysAreSixtyFourHexDigits) {
  EXPECT_TRUE(KeyFromHex(std::string(64, 'F')));
  EXPECT_FALSE(KeyFromHex(std::string(63, 'f')));
  EXPECT_FALSE(KeyFromHex(std::string(62, 'f') + "g0"));
  EXPECT_TRUE(SameSecret("abc", "abc"));
  EXPECT_FALSE(SameSecret("abc", "abd"));
  EXPECT_FALSE(SameSecret("abc", "abcd"));
}

class AuthenticationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DesktopKeys keys;
    key_ = keys.Add("desk01", "2026-12-10T09:00:00Z");
    keys.Add("desk02", "2026-12-10T09:00:00Z");
    keys.Revoke("desk02", "2026-12-10T10:00:00Z");
    keys.Save(keysFile_);
  }

  // The log's reason for a refusal, or the key's name.
  std::string Outcome(const SignedHeaders& headers, const std::string& body, std::int64_t now = kNow,
                      const std::string& path = "/v1/import") {
    try {
      return Authenticate(keysFile_, nonces_, "POST", path, headers, body, now);
    } catch (const Refusal& refusal) {
      EXPECT_EQ(refusal.Status(), 401);
      EXPECT_EQ(refusal.Message(), "Chiave del desktop non valida");
      return "401 " + refusal.Reason();
    }
  }

  SignedHeaders Signed(const std::string& body, std::int64_t time = kNow, const std::string& name = "desk01",
                       const std::string& nonce = {}) {
    const auto request = testing::SignedImport(name, key_, {}, time, nonce);
    SignedHeaders headers{request.headers[0].second, request.headers[1].second, request.headers[2].second, {}};
    headers.signature = testing::DesktopSignature(key_, "POST", "/v1/import", headers.time, headers.nonce, body);
    return headers;
  }

  testing::TempDir dir_;
  std::string keysFile_ = dir_.File("desktop-keys");
  std::string key_;
  SeenNonces nonces_{"", kNow};
};

TEST_F(AuthenticationTest, AGoodSignatureNamesItsKey) {
  EXPECT_EQ(Outcome(Signed("body"), "body"), "desk01");
  EXPECT_EQ(Outcome(Signed("body", kNow - 300), "body"), "desk01");
  EXPECT_EQ(Outcome(Signed("body", kNow + 300), "body"), "desk01");
}

TEST_F(AuthenticationTest, EveryWayToFailIsTheSameRefusal) {
  const SignedHeaders good = Signed("body");
  SignedHeaders wrongKey = good;
  wrongKey.signature =
      testing::DesktopSignature(std::string(64, '1'), "POST", "/v1/import", good.time, good.nonce, "body");
  SignedHeaders upperHex = good;
  for (char& c : upperHex.signature) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  SignedHeaders noName = good;
  noName.keyName.clear();
  SignedHeaders badName = good;
  badName.keyName = "desk 01";
  SignedHeaders shortNonce = good;
  shortNonce.nonce.pop_back();
  SignedHeaders badTime = good;
  badTime.time = "-1800000000";

  EXPECT_EQ(Outcome(good, "other body"), "401 wrong signature");
  EXPECT_EQ(Outcome(good, "body", kNow, "/v1/other"), "401 wrong signature");
  EXPECT_EQ(Outcome(wrongKey, "body"), "401 wrong signature");
  EXPECT_EQ(Outcome(upperHex, "body"), "401 missing or malformed signature");
  EXPECT_EQ(Outcome(noName, "body"), "401 no key name");
  EXPECT_EQ(Outcome(badName, "body"), "401 malformed key name");
  EXPECT_EQ(Outcome(shortNonce, "body"), "401 missing or malformed nonce");
  EXPECT_EQ(Outcome(badTime, "body"), "401 missing or malformed time");
  EXPECT_EQ(Outcome(Signed("body", kNow - 301), "body"), "401 time -301 s from this clock");
  EXPECT_EQ(Outcome(Signed("body", kNow + 301), "body"), "401 time 301 s from this clock");
  EXPECT_EQ(Outcome(Signed("body", kNow, "desk02"), "body"), "401 unknown or revoked key");
  EXPECT_EQ(Outcome(Signed("body", kNow, "desk03"), "body"), "401 unknown or revoked key");
}

TEST_F(AuthenticationTest, ANonceIsTakenOnceForTenMinutes) {
  const std::string nonce(32, '7');
  EXPECT_EQ(Outcome(Signed("a", kNow, "desk01", nonce), "a"), "desk01");
  EXPECT_EQ(Outcome(Signed("b", kNow, "desk01", nonce), "b"), "401 nonce seen before");
  EXPECT_EQ(Outcome(Signed("b", kNow + 200, "desk01", nonce), "b", kNow + 200), "401 nonce seen before");
  // A refused request does not use up its nonce.
  const std::string other(32, '8');
  EXPECT_EQ(Outcome(Signed("a", kNow, "desk01", other), "tampered"), "401 wrong signature");
  EXPECT_EQ(Outcome(Signed("a", kNow, "desk01", other), "a"), "desk01");
  // Past its lifetime its time can no longer pass, and it is forgotten.
  EXPECT_EQ(Outcome(Signed("c", kNow + 601, "desk01", nonce), "c", kNow + 601), "desk01");
}

// The nonces outlive the service: a copied request is refused after a restart, and a file left by
// a crash mid-write (a torn last line) is read without it.
TEST(SeenNonces, ARestartForgetsOnlyWhatHasExpired) {
  testing::TempDir dir;
  const std::string file = dir.File("nonces");
  {
    SeenNonces nonces(file, kNow);
    EXPECT_TRUE(nonces.First("a1", kNow));
    EXPECT_TRUE(nonces.First("b2", kNow + 100));
    EXPECT_FALSE(nonces.First("a1", kNow + 100));
  }
  std::ofstream(file, std::ios::app) << kNow + 100 << " c3";  // torn: no line end
  struct stat status {};
  ASSERT_EQ(::stat(file.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);
  {
    SeenNonces restarted(file, kNow + 200);
    EXPECT_FALSE(restarted.First("a1", kNow + 200));
    EXPECT_FALSE(restarted.First("b2", kNow + 200));
    EXPECT_TRUE(restarted.First("c3", kNow + 200));
  }
  SeenNonces later(file, kNow + kNonceLifetimeSeconds + 1);
  EXPECT_TRUE(later.First("a1", kNow + kNonceLifetimeSeconds + 1));
  EXPECT_FALSE(later.First("b2", kNow + kNonceLifetimeSeconds + 1));
}

// A nonce that cannot be recorded lets no request through: past the file-size limit, a write
// fails as on a full disk.
TEST(SeenNonces, ANonceNotRecordedIsRefused) {
  testing::TempDir dir;
  EXPECT_THROW(SeenNonces(dir.File("missing/nonces"), kNow), Exception);
  SeenNonces nonces(dir.File("nonces"), kNow);
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto previous = ::signal(SIGXFSZ, SIG_IGN);
  rlimit none = saved;
  none.rlim_cur = 0;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &none), 0);
  EXPECT_THROW(nonces.First("a1", kNow), Exception);
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::signal(SIGXFSZ, previous);
  // Not taken as seen: once it can be recorded, it passes.
  EXPECT_TRUE(nonces.First("a1", kNow));
}

TEST_F(AuthenticationTest, ARevokedKeyStopsAtOnce) {
  EXPECT_EQ(Outcome(Signed("a"), "a"), "desk01");
  DesktopKeys keys = DesktopKeys::Load(keysFile_);
  keys.Revoke("desk01", "2026-12-10T11:00:00Z");
  keys.Save(keysFile_);
  EXPECT_EQ(Outcome(Signed("a"), "a"), "401 unknown or revoked key");
}

TEST_F(AuthenticationTest, AnUnreadableKeysFileIsTheServicesFault) {
  std::ofstream(keysFile_) << "desk01 not-a-key 2026 -\n";
  try {
    Authenticate(keysFile_, nonces_, "POST", "/v1/import", Signed("a"), "a", kNow);
    FAIL();
  } catch (const Refusal& refusal) {
    EXPECT_EQ(refusal.Status(), 500);
    EXPECT_EQ(refusal.Message(), "Errore interno del servizio");
    EXPECT_EQ(refusal.Reason(), "Riga 1 di " + keysFile_ + " non valida");
  }
}

TEST(DesktopKeys, AddRevokeAndTheFile) {
  testing::TempDir dir;
  const std::string file = dir.File("desktop-keys");
  DesktopKeys keys = DesktopKeys::Load(file);  // none yet
  const std::string first = keys.Add("desk01", "2026-12-10T09:00:00Z");
  EXPECT_EQ(first.size(), 64u);
  EXPECT_NE(keys.Add("desk.02_b-3", "2026-12-10T09:00:00Z"), first);
  EXPECT_EQ(ErrorOf([&] { keys.Add("desk01", "x"); }), "La chiave desk01 esiste già (revocarla prima)");
  EXPECT_EQ(ErrorOf([&] { keys.Add("desk 01", "x"); }),
            "Nome non valido: desk 01 (lettere, cifre, \"-\", \"_\" e \".\", al massimo 64)");
  EXPECT_EQ(ErrorOf([&] { keys.Add(std::string(65, 'a'), "x"); }).substr(0, 14), "Nome non valid");
  keys.Revoke("desk01", "2026-12-11T09:00:00Z");
  EXPECT_EQ(ErrorOf([&] { keys.Revoke("desk01", "x"); }), "Nessuna chiave in uso con il nome desk01");
  EXPECT_EQ(ErrorOf([&] { keys.Revoke("desk09", "x"); }), "Nessuna chiave in uso con il nome desk09");
  keys.Save(file);

  struct stat status {};
  ASSERT_EQ(::stat(file.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);
  const DesktopKeys read = DesktopKeys::Load(file);
  ASSERT_EQ(read.Keys().size(), 2u);
  EXPECT_EQ(read.FindInUse("desk01"), nullptr);
  EXPECT_EQ(read.Keys()[0].revoked, "2026-12-11T09:00:00Z");
  ASSERT_NE(read.FindInUse("desk.02_b-3"), nullptr);
  // The revoked name may be given a new key.
  DesktopKeys again = read;
  const std::string renewed = again.Add("desk01", "2026-12-12T09:00:00Z");
  EXPECT_NE(renewed, first);
  EXPECT_EQ(Hex(again.FindInUse("desk01")->key->data(), 32), renewed);
}

TEST(DesktopKeys, LinesOfAnotherFormAreRefused) {
  const std::string key(64, 'a');
  for (const std::string& line :
       {"desk01 " + key, "desk01 " + key + " 2026 - extra", "desk 01 " + key + " 2026 -",
        "desk01 " + key.substr(1) + " 2026 -", std::string("desk01 - 2026 -"), "desk01 " + key + " 2026 2027"}) {
    EXPECT_EQ(ErrorOf([&] { DesktopKeys::Parse("# keys\n" + line + "\n", "f"); }), "Riga 2 di f non valida") << line;
  }
  EXPECT_EQ(ErrorOf([&] { DesktopKeys::Parse("a " + key + " t -\na - t t\n", "f"); }), "Riga 2 di f non valida");
  EXPECT_EQ(DesktopKeys::Parse("\n# x\n  a\t" + key + "  t -\r\n", "f").Keys().size(), 1u);
}

}  // namespace
}  // namespace korvane::server
