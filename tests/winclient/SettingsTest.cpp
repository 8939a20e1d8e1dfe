#include "winclient/Settings.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>

#include "winclient/ClientError.h"

namespace korvane::winclient {
namespace {

const std::string kKey = "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f";
const std::string kPin = "c83bade49138de9fec041d15d0427f99259d06ce003761ee8f5c3d5b8831d518";

std::string Utf16Le(std::u16string_view text) {
  std::string bytes = "\xFF\xFE";
  for (char16_t unit : text) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

SettingTexts Texts(const std::string& address, const std::string& pin, const std::string& wait,
                   const std::string& keyName, const std::string& key) {
  return {{address, "korvane.ini [Server] Indirizzo"},
          {pin, "korvane.ini [Server] Impronta"},
          {wait, "korvane.ini [Server] Attesa"},
          {keyName, "korvane.ini [Desktop] Nome"},
          {key, "KORVANE_KEY"}};
}

std::string ErrorOf(const SettingTexts& texts) {
  try {
    CheckSettings(texts);
  } catch (const ClientError& error) {
    return error.what();
  }
  return "no error";
}

TEST(WinclientSettings, ReadsKorvaneIniByTheProfileRules) {
  const std::string ini =
      "; written by hand\r\n"
      "[Desktop]\r\n"
      "Nome = 'desktop-01'\r\n"
      "  [ server ]  \r\n"
      "# a comment\r\n"
      "INDIRIZZO=  \"https://srv01.studio.local:8443\"  \r\n"
      "Impronta=AB:CD\r\n"
      "Indirizzo=https://second.example\r\n"
      "[Other]\r\n"
      "Attesa=5\r\n";
  for (const std::string& bytes : {ini, "\xEF\xBB\xBF" + ini}) {
    const SettingTexts texts = ReadIniSettings(bytes);
    EXPECT_EQ(texts.address.value, "https://srv01.studio.local:8443");
    EXPECT_EQ(texts.address.source, "korvane.ini [Server] Indirizzo");
    EXPECT_EQ(texts.pin.value, "AB:CD");
    EXPECT_EQ(texts.keyName.value, "desktop-01");
    EXPECT_EQ(texts.wait.value, "");  // another section's
    EXPECT_EQ(texts.key.value, "");
    EXPECT_EQ(texts.key.source, "korvane.ini [Desktop] Chiave");
  }
  // Notepad's "Unicode": UTF-16 with its byte-order mark.
  const SettingTexts utf16 = ReadIniSettings(Utf16Le(u"[Desktop]\r\nChiave=ab\u00e8\r\n"));
  EXPECT_EQ(utf16.key.value, "ab\xC3\xA8");
}

TEST(WinclientSettings, TheShippedExampleNeedsOnlyTheDesktopsNameAndKey) {
  std::ifstream in(KORVANE_SOURCE_DIR "/src/winclient/korvane.ini.esempio", std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  SettingTexts texts = ReadIniSettings(bytes);
  EXPECT_EQ(texts.address.value, "https://srv01.studio.local:8443");
  EXPECT_EQ(texts.pin.value, "");
  EXPECT_EQ(texts.wait.value, "240");
  EXPECT_EQ(ErrorOf(texts),
            "Impostazione mancante (korvane.ini [Desktop] Nome o KORVANE_KEY_NAME): nessuna importazione eseguita");
  texts.keyName.value = "desktop-01";
  texts.key.value = kKey;
  EXPECT_EQ(CheckSettings(texts).waitSeconds, 240);
}

TEST(WinclientSettings, EnvironmentVariablesOverrideTheFile) {
  SettingTexts texts = ReadIniSettings("[Server]\nIndirizzo=https://a\nImpronta=" + kPin + "\n[Desktop]\nNome=n\n");
  const std::map<std::string, std::string> environment = {
      {"KORVANE_SERVER_URL", "https://b:9000"}, {"KORVANE_SERVER_PIN", ""}, {"KORVANE_KEY", kKey}};
  ApplyEnvironment(texts, [&](const char* name) -> std::optional<std::string> {
    const auto found = environment.find(name);
    if (found == environment.end()) return std::nullopt;
    return found->second;
  });
  EXPECT_EQ(texts.address.value, "https://b:9000");
  EXPECT_EQ(texts.address.source, "KORVANE_SERVER_URL");
  EXPECT_EQ(texts.pin.value, kPin);  // an empty variable is no value
  EXPECT_EQ(texts.keyName.value, "n");
  EXPECT_EQ(texts.key.source, "KORVANE_KEY");

  const DesktopSettings settings = CheckSettings(texts);
  EXPECT_EQ(settings.host, "b");
  EXPECT_EQ(settings.port, 9000);
  EXPECT_EQ(settings.server, "b:9000");
  EXPECT_EQ(settings.pin, ParseDigest(kPin, false));
  EXPECT_EQ(settings.keyName, "n");
  EXPECT_EQ(settings.key[31], 0x1f);
  EXPECT_EQ(settings.waitSeconds, kDefaultWaitSeconds);
}

TEST(WinclientSettings, Addresses) {
  struct Case {
    std::string address;
    std::string host;  // empty: refused
    int port;
  };
  const Case cases[] = {
      {"https://srv01.studio.local:8443", "srv01.studio.local", 8443},
      {"HTTPS://srv01/", "srv01", 443},
      {"https://127.0.0.1:1", "127.0.0.1", 1},
      {"https://[::1]:8443/", "::1", 8443},
      {"  https://srv01:65535  ", "srv01", 65535},
      {"http://srv01:8443", "", 0},
      {"srv01:8443", "", 0},
      {"https://srv01:0", "", 0},
      {"https://srv01:65536", "", 0},
      {"https://srv01:", "", 0},
      {"https://srv01:84a3", "", 0},
      {"https://srv01/v1/import", "", 0},
      {"https://user@srv01", "", 0},
      {"https://srv01?x", "", 0},
      {"https://[::1", "", 0},
      {"https://[::1]x", "", 0},
      {"https://", "", 0},
      {"https://sr v01", "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    const SettingTexts texts = Texts(c.address, "", "", "n", kKey);
    if (c.host.empty()) {
      EXPECT_EQ(ErrorOf(texts), "Impostazione non valida (korvane.ini [Server] Indirizzo = " + c.address +
                                    "): nessuna importazione eseguita");
    } else {
      const DesktopSettings settings = CheckSettings(texts);
      EXPECT_EQ(settings.host, c.host);
      EXPECT_EQ(settings.port, c.port);
    }
  }
  EXPECT_EQ(CheckSettings(Texts("https://[::1]:8443", "", "", "n", kKey)).server, "[::1]:8443");
}

TEST(WinclientSettings, MissingAndInvalidValuesAreNamedButTheKeyIsNotShown) {
  const std::string nothing = ": nessuna importazione eseguita";
  struct Case {
    SettingTexts texts;
    std::string expected;
  };
  const Case cases[] = {
      {Texts("", "", "", "n", kKey),
       "Impostazione mancante (korvane.ini [Server] Indirizzo o KORVANE_SERVER_URL)" + nothing},
      {Texts("https://a", "", "", " ", kKey),
       "Impostazione mancante (korvane.ini [Desktop] Nome o KORVANE_KEY_NAME)" + nothing},
      {Texts("https://a", "", "", "n", ""),
       "Impostazione mancante (korvane.ini [Desktop] Chiave o KORVANE_KEY)" + nothing},
      {Texts("https://a", "xyz", "", "n", kKey),
       "Impostazione non valida (korvane.ini [Server] Impronta = xyz)" + nothing},
      {Texts("https://a", kPin + "00", "", "n", kKey),
       "Impostazione non valida (korvane.ini [Server] Impronta = " + kPin + "00)" + nothing},
      {Texts("https://a", "", "0", "n", kKey), "Impostazione non valida (korvane.ini [Server] Attesa = 0)" + nothing},
      {Texts("https://a", "", "3601", "n", kKey),
       "Impostazione non valida (korvane.ini [Server] Attesa = 3601)" + nothing},
      {Texts("https://a", "", "", "a b", kKey), "Impostazione non valida (korvane.ini [Desktop] Nome = a b)" + nothing},
      {Texts("https://a", "", "", std::string(65, 'n'), kKey),
       "Impostazione non valida (korvane.ini [Desktop] Nome = " + std::string(65, 'n') + ")" + nothing},
      {Texts("https://a", "", "", "n", kKey.substr(1) + "g"),
       "Impostazione non valida (KORVANE_KEY: 64 cifre esadecimali)" + nothing},
      {Texts("https://a\r\nX", "", "", "n", kKey),
       "Impostazione non valida (korvane.ini [Server] Indirizzo = https://a??X)" + nothing},
  };
  for (const Case& c : cases) EXPECT_EQ(ErrorOf(c.texts), c.expected);
  EXPECT_EQ(ErrorOf(Texts("https://a", "", "3600", std::string(64, 'n'), kKey)), "no error");
}

TEST(WinclientSettings, PinsAndKeysAreHexadecimalDigests) {
  const std::optional<Digest> pin = ParseDigest(kPin, false);
  ASSERT_TRUE(pin);
  EXPECT_EQ((*pin)[0], 0xc8);
  EXPECT_EQ((*pin)[31], 0x18);
  std::string withSeparators;
  for (std::size_t i = 0; i < kPin.size(); i += 2)
    withSeparators += (i == 0 ? "" : i % 8 == 0 ? " " : ":") + kPin.substr(i, 2);
  EXPECT_EQ(ParseDigest(withSeparators, true), pin);
  EXPECT_FALSE(ParseDigest(withSeparators, false));
  EXPECT_FALSE(ParseDigest(kPin.substr(2), true));
  EXPECT_FALSE(ParseDigest(kPin + "0", true));
  EXPECT_FALSE(ParseDigest(kPin.substr(1) + "-", true));

  const DesktopSettings settings = CheckSettings(Texts("https://a", withSeparators, "", "n", kKey));
  EXPECT_EQ(settings.pin, pin);
}

}  // namespace
}  // namespace korvane::winclient
