#pragma once

#include <string>
#include <string_view>

namespace korvane {

// The VAT number as people type it, made into the one the run uses: blanks (spaces and tabs),
// "." and "-" removed wherever they stand, then the line end (CR, LF) at its end, as a queue
// exported from a spreadsheet leaves it. Nothing else changes: an "IT" prefix stays as given, and
// any other character stays for the command line's check to refuse. "IT 0123.4567-890\r" gives
// "IT01234567890".
std::string CleanVatNumber(std::string_view piva);

// The VAT number as two writings of it are compared: without blanks (spaces and tabs), "." and
// "-", then without a leading "IT" in any letter case. "IT 0123.4567-890" gives "01234567890".
std::string NormalizeVatNumber(std::string_view piva);

// Whether the text is an Italian VAT number as issued: exactly 11 ASCII digits, the first seven
// not all zero, the office code (digits 8 to 10) 001 to 100, 120, 121, 888 or 999, and the check
// digit right. Nothing is stripped first: "IT12485671007" is not one.
bool IsValidItalianVatNumber(std::string_view piva);

// How a VAT number as given is formed: the one check of its form, for the command line and for
// each line of a list.
enum class VatNumberForm {
  Missing,              // nothing left once cleaned
  NotLettersAndDigits,  // another character: the number is the last segment of the request's path,
                        // and anything but letters and digits could end the line or ask for
                        // another resource with the firm's token
  Usable,
};

// One VAT number as given, as the run uses it (CleanVatNumber) and as two writings of it are
// compared (NormalizeVatNumber of the cleaned one), each worked out once, when it is made.
class VatNumber {
 public:
  VatNumber() = default;
  // Not explicit: any text a number comes in is a number as given.
  VatNumber(std::string raw);
  VatNumber(const char* raw) : VatNumber(std::string(raw)) {}

  const std::string& Raw() const { return raw_; }
  const std::string& Cleaned() const { return cleaned_; }
  const std::string& Normalised() const { return normalised_; }
  VatNumberForm Form() const;
  // IsValidItalianVatNumber of the cleaned number.
  bool IsValidItalian() const { return IsValidItalianVatNumber(cleaned_); }

 private:
  std::string raw_;
  std::string cleaned_;
  std::string normalised_;
};

// "P.IVA <vat> non valida": a number whose check digits fail, for a company that checks them.
std::string InvalidVatNumberMessage(std::string_view piva);
// "P.IVA <vat> presente in archivio (codice <code>)": a stored number the company refuses.
std::string StoredVatNumberMessage(std::string_view piva, std::string_view code);

}  // namespace korvane
