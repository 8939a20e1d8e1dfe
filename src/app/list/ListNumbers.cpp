#include "app/list/ListNumbers.h"

#include <algorithm>
#include <map>
#include <regex>

#include "app/subject/VatNumber.h"
#include "platform/MessageText.h"
#include "platform/Text.h"

namespace korvane {

namespace {

bool IsScientificNotation(std::string_view value) {
  static const std::regex kScientific(R"(\s*[+-]?[0-9]+([.,][0-9]*)?[eE][+-]?[0-9]+\s*)");
  return std::regex_match(value.begin(), value.end(), kScientific);
}

bool AllDigits(std::string_view text) {
  return !text.empty() && std::ranges::all_of(text, [](char ch) { return ch >= '0' && ch <= '9'; });
}

std::optional<char> KindOf(std::string_view cell) {
  const std::string key = platform::LowerCaseAscii(platform::TrimBlanksAndTabs(cell));
  if (key == "c" || key == "cliente") return 'C';
  if (key == "f" || key == "fornitore") return 'F';
  return std::nullopt;
}

void Refuse(ListNumber& number, std::string message) {
  number.verdict = ListVerdict::Invalid;
  number.message = std::move(message);
}

}  // namespace

std::vector<ListNumber> CheckListNumbers(const std::vector<ListEntry>& entries) {
  std::vector<ListNumber> numbers;
  numbers.reserve(entries.size());
  std::map<std::string, std::int64_t> firstLines;
  for (const ListEntry& entry : entries) {
    ListNumber& number = numbers.emplace_back();
    number.entry = entry;
    const VatNumber given(entry.value);
    number.vatNumber = given.Cleaned();
    if (!platform::TrimBlanksAndTabs(entry.kind).empty()) {
      number.kind = KindOf(entry.kind);
      if (!number.kind) {
        Refuse(number, "Tipo soggetto non riconosciuto (" + platform::TextForMessage(entry.kind) + ")");
        continue;
      }
    }
    if (IsScientificNotation(entry.value)) {
      Refuse(number, "P.IVA in notazione scientifica (" + platform::TextForMessage(entry.value) +
                         "): cifre perse, salvare la colonna come testo");
      continue;
    }
    if (given.Form() == VatNumberForm::Missing) {
      Refuse(number, "P.IVA mancante");
      continue;
    }
    if (given.Form() == VatNumberForm::NotLettersAndDigits) {
      Refuse(number, "P.IVA non riconosciuta (" + platform::TextForMessage(entry.value) + ")");
      continue;
    }
    if (AllDigits(number.vatNumber) && number.vatNumber.size() >= 8 && number.vatNumber.size() <= 10) {
      const std::string padded = std::string(11 - number.vatNumber.size(), '0') + number.vatNumber;
      if (!IsValidItalianVatNumber(padded)) {
        Refuse(number, InvalidVatNumberMessage(number.vatNumber));
        continue;
      }
      number.vatNumber = padded;
      number.repaired = true;
      number.message = "P.IVA completata con gli zeri iniziali";
    }
    const std::string key = NormalizeVatNumber(number.vatNumber) + "|" + std::string(1, number.kind.value_or('-'));
    const auto [first, isNew] = firstLines.emplace(key, entry.line);
    if (!isNew) {
      number.verdict = ListVerdict::Duplicate;
      number.firstLine = first->second;
      number.message = "Duplicato della riga " + std::to_string(first->second);
    }
  }
  return numbers;
}

}  // namespace korvane
