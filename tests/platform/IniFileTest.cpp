#include "platform/IniFile.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>

#include "support/ErrorOf.h"
#include "support/TempDir.h"

namespace korvane {
namespace {

using platform::IniFile;

std::string WriteIni(const testing::TempDir& dir, const std::string& bytes) {
  const std::string path = dir.File("dati.ini");
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  return path;
}

std::string Utf16(const std::u16string& text, bool bigEndian = false) {
  std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (char16_t unit : text) {
    const char low = static_cast<char>(unit & 0xFF);
    const char high = static_cast<char>(unit >> 8);
    bytes += bigEndian ? high : low;
    bytes += bigEndian ? low : high;
  }
  return bytes;
}

TEST(IniFile, ReadsByTheProfileRules) {
  testing::TempDir dir;
  const IniFile ini(WriteIni(dir,
                             "; written by hand\r\n"
                             "[OTHER]\r\n"
                             "Alias=wrong\r\n"
                             "  [ config ]  \r\n"
                             "NOME SERVER=SRV01\r\n"
                             "  lettera disco server   =   D   \n"
                             "PercorsoDatabase=\"D:\\Gestionale\\Dati\"\n"
                             "Alias='ditta1'\n"
                             "Quoted='mismatched\"\n"
                             "Single=\"\n"
                             "Inner=a \"b\" c\n"
                             "Empty=\n"
                             "Equals=a=b\r"
                             "NoEquals\n"));
  struct Case {
    std::string key;
    std::string expected;
  };
  const Case cases[] = {
      {"Nome Server", "SRV01"},
      {"Lettera Disco Server", "D"},
      {"PercorsoDatabase", "D:\\Gestionale\\Dati"},
      {"ALIAS", "ditta1"},  // the first section's key is not this section's
      {"Quoted", "'mismatched\""},
      {"Single", "\""},
      {"Inner", "a \"b\" c"},
      {"Empty", ""},
      {"Equals", "a=b"},
      {"NoEquals", "default"},
      {"Missing", "default"},
      {"NomeServer", "default"},  // the blank belongs to the name
  };
  for (const auto& c : cases) EXPECT_EQ(ini.ReadString("CONFIG", c.key, "default"), c.expected) << c.key;
  EXPECT_EQ(ini.ReadString("Absent", "Alias", ""), "");
  EXPECT_EQ(ini.ReadString("other", "alias", ""), "wrong");
}

TEST(IniFile, MissingFileReadsAsDefault) {
  testing::TempDir dir;
  EXPECT_EQ(IniFile(dir.File("none.ini")).ReadString("CONFIG", "Alias", ""), "");
  EXPECT_EQ(IniFile(dir.Path().string()).ReadString("CONFIG", "Alias", "x"), "x");  // a folder
}

// A FIFO (or a device) named dati.ini is no settings file: read as missing, never waited on.
TEST(IniFile, AFileThatIsNotRegularReadsAsDefault) {
  testing::TempDir dir;
  const std::string fifo = dir.File("dati.ini");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(IniFile(fifo).ReadString("CONFIG", "Alias", "x"), "x");
  EXPECT_EQ(IniFile("/dev/zero").ReadString("CONFIG", "Alias", "x"), "x");
}

// Up to 1 MiB a file is read; past it the file is refused, naming it, before it is read whole.
TEST(IniFile, AFileOver1MiBIsRefused) {
  testing::TempDir dir;
  const std::string lines = "[CONFIG]\nAlias=ditta1\n";
  const std::string filler =
      std::string(static_cast<std::size_t>(IniFile::kMaxFileBytes) - lines.size() - 1, ';') + "\n";
  const IniFile whole(WriteIni(dir, filler + lines));
  EXPECT_EQ(whole.ReadString("CONFIG", "Alias", ""), "ditta1");
  const IniFile over(WriteIni(dir, filler + lines + "\n"));
  EXPECT_EQ(testing::ErrorOf([&] { over.ReadString("CONFIG", "Alias", ""); }),
            "File " + over.FileName() + " troppo grande (oltre 1 MiB)");
  EXPECT_EQ(testing::ErrorOf([&] { platform::ReadIniText(over.FileName()); }),
            "File " + over.FileName() + " troppo grande (oltre 1 MiB)");
}

TEST(IniFile, CutsLongValuesTo2047Characters) {
  testing::TempDir dir;
  const std::string euro = "\xE2\x82\xAC";  // one UTF-16 unit, three UTF-8 bytes
  std::string value;
  for (int i = 0; i < 3000; ++i) value += euro;
  const IniFile ini(WriteIni(dir, "[CONFIG]\nPercorsoDatabase=" + value + "\nAlias=x\n"));
  std::string expected;
  for (int i = 0; i < 2047; ++i) expected += euro;
  EXPECT_EQ(ini.ReadString("CONFIG", "PercorsoDatabase", ""), expected);
  EXPECT_EQ(ini.ReadString("CONFIG", "Alias", ""), "x");
}

TEST(IniFile, DecodesEachEncoding) {
  testing::TempDir dir;
  const std::string expected = "D:\\Societ\xC3\xA0 \xE2\x82\xAC";  // "Società €"
  struct Case {
    const char* name;
    std::string bytes;
  };
  const Case cases[] = {
      {"utf-16le", Utf16(u"[Config]\r\nPercorsoDatabase = D:\\Societ\u00E0 \u20AC\r\n")},
      {"utf-16be", Utf16(u"[CONFIG]\nPercorsoDatabase=D:\\Societ\u00E0 \u20AC", true)},
      {"utf-8 with mark", "\xEF\xBB\xBF[CONFIG]\nPercorsoDatabase=" + expected + "\n"},
      {"utf-8", "[CONFIG]\nPercorsoDatabase=" + expected + "\n"},
      {"windows-1252", "[CONFIG]\nPercorsoDatabase=D:\\Societ\xE0 \x80\n"},
  };
  for (const auto& c : cases) {
    const IniFile ini(WriteIni(dir, c.bytes));
    EXPECT_EQ(ini.ReadString("CONFIG", "PercorsoDatabase", ""), expected) << c.name;
  }
}

TEST(IniFile, Utf16KeepsCharactersOutsideTheBasicPlane) {
  testing::TempDir dir;
  const IniFile ini(WriteIni(dir, Utf16(u"[CONFIG]\nAlias=a\U0001F600\xD800z\n")));
  EXPECT_EQ(ini.ReadString("CONFIG", "Alias", ""), "a\xF0\x9F\x98\x80\xEF\xBF\xBDz");
}

}  // namespace
}  // namespace korvane
