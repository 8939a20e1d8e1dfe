#pragma once

#include <algorithm>
#include <array>
#include <string_view>

// The importer's command line, as the importer reads it and as the service judges a desktop's:
// one list of switches, and the words that ask about the program instead of importing.
namespace korvane::protocol {

// Every switch the importer reads (compared in upper case, after the leading "-").
inline constexpr std::array<std::string_view, 7> kImporterSwitches = {
    "-UTENTE", "-DITTA", "-LINEA", "-TIPOSOGGETTO", "-PIVA", "-APITOKEN", "-CODICESOGGETTO"};
// The one a desktop may not give: the registry's token is the server's.
inline constexpr std::string_view kTokenSwitch = "-APITOKEN";
// Alone on the command line, each asks for the usage text or the version line.
inline constexpr std::array<std::string_view, 3> kHelpWords = {"--help", "-h", "-?"};
inline constexpr std::string_view kVersionWord = "--version";

template <std::size_t N>
constexpr bool OneOf(const std::array<std::string_view, N>& words, std::string_view word) {
  return std::find(words.begin(), words.end(), word) != words.end();
}

inline constexpr bool IsImporterSwitch(std::string_view upperCaseName) {
  return OneOf(kImporterSwitches, upperCaseName);
}

inline constexpr bool IsInformationWord(std::string_view word) {
  return OneOf(kHelpWords, word) || word == kVersionWord;
}

}  // namespace korvane::protocol
