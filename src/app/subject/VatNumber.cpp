#include "app/subject/VatNumber.h"

#include <algorithm>
#include <utility>

#include "platform/Text.h"

namespace korvane {

namespace {

std::string WithoutSeparators(std::string_view piva) {
  std::string compact;
  for (const char ch : piva) {
    if (ch != ' ' && ch != '\t' && ch != '.' && ch != '-') compact += ch;
  }
  return compact;
}

}  // namespace

std::string CleanVatNumber(std::string_view piva) {
  std::string cleaned = WithoutSeparators(piva);
  while (!cleaned.empty() && (cleaned.back() == '\r' || cleaned.back() == '\n')) cleaned.pop_back();
  return cleaned;
}

std::string NormalizeVatNumber(std::string_view piva) {
  std::string compact = WithoutSeparators(piva);
  if (compact.size() >= 2 && platform::SameTextAscii(std::string_view(compact).substr(0, 2), "IT")) {
    compact.erase(0, 2);
  }
  return compact;
}

VatNumber::VatNumber(std::string raw)
    : raw_(std::move(raw)), cleaned_(CleanVatNumber(raw_)), normalised_(NormalizeVatNumber(cleaned_)) {}

VatNumberForm VatNumber::Form() const {
  if (cleaned_.empty()) return VatNumberForm::Missing;
  return platform::IsAsciiLettersAndDigits(cleaned_) ? VatNumberForm::Usable : VatNumberForm::NotLettersAndDigits;
}

bool IsValidItalianVatNumber(std::string_view piva) {
  if (piva.size() != 11 || !std::ranges::all_of(piva, [](char ch) { return ch >= '0' && ch <= '9'; })) return false;
  if (piva.substr(0, 7) == "0000000") return false;
  const int office = (piva[7] - '0') * 100 + (piva[8] - '0') * 10 + (piva[9] - '0');
  if (!((office >= 1 && office <= 100) || office == 120 || office == 121 || office == 888 || office == 999)) {
    return false;
  }
  // Positions 1, 3, ... count as they are; positions 2, 4, ... doubled, less 9 above 9.
  int sum = 0;
  for (std::size_t i = 0; i < 10; ++i) {
    int digit = piva[i] - '0';
    if (i % 2 == 1) {
      digit *= 2;
      if (digit > 9) digit -= 9;
    }
    sum += digit;
  }
  return piva[10] - '0' == (10 - sum % 10) % 10;
}

std::string InvalidVatNumberMessage(std::string_view piva) { return "P.IVA " + std::string(piva) + " non valida"; }

std::string StoredVatNumberMessage(std::string_view piva, std::string_view code) {
  return "P.IVA " + std::string(piva) + " presente in archivio (codice " + std::string(code) + ")";
}

}  // namespace korvane
