#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/RunProgram.h"
#include "support/TempDir.h"

namespace korvane::testing {

// The ANSI code page the run's Windows has: what korvane.exe's output is converted to when it
// goes to a pipe. Wine takes it from the locale: Italian gives Windows-1252; a locale without an
// ANSI code page of its own (Hindi) gives UTF-8, as on Windows.
enum class CodePage { Windows1252, Utf8 };

// A desktop: a folder with a copy of the built korvane.exe and the korvane.ini beside it, run
// under wine in the tests' prefix (kept warm by the CTest fixture wine_prefix).
class Desktop {
 public:
  explicit Desktop(const std::string& ini);

  // Runs korvane.exe with these arguments and variables; its standard output is a pipe. A run
  // still going after `limitMs` is killed (and fails the test).
  ProgramResult Run(const std::vector<std::string>& arguments,
                    const std::map<std::string, std::string>& environment = {},
                    CodePage codePage = CodePage::Windows1252, int limitMs = 60000) const;

  // Starts korvane.exe and leaves it running.
  std::unique_ptr<StartedProgram> Start(const std::vector<std::string>& arguments,
                                        const std::map<std::string, std::string>& environment = {},
                                        CodePage codePage = CodePage::Windows1252) const;

  const std::string& Folder() const { return folder_; }

 private:
  TempDir dir_;
  std::string folder_;
};

// korvane.ini for a server at `url`, with the pin (may be empty) and the desktop's key.
std::string DesktopIni(const std::string& url, const std::string& pin, const std::string& keyName,
                       const std::string& key, int waitSeconds = 0);

// The SHA-256 of a PEM certificate's DER encoding, as 64 lowercase hexadecimal digits (the pin).
std::string CertificatePin(const std::string& certificatePem);

// A key for a desktop that the service does not know.
inline const std::string kUnknownKey = "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff";

}  // namespace korvane::testing
