#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "app/subject/SubjectKind.h"
#include "app/subject/VatNumber.h"

namespace korvane {

// The command line of one run: the recognised switches with the argument that followed each.
class TParametri {
 public:
  // `arguments` are the process arguments after the program name, as UTF-8. `environmentApiToken`
  // is the token to use when the command line gives none.
  explicit TParametri(std::vector<std::string> arguments, std::string environmentApiToken = {});

  // Fills the dictionary from the arguments; raises on a bad count or a repeated switch.
  void ReadFromCmdLine();
  // Raises with the message of the first required switch that is missing or invalid: the
  // session's switches, the VAT number, the token, in that order.
  void Check() const;
  // Check's parts, for the free check, which reports each and needs no VAT number.
  void CheckSession() const;
  void CheckVatNumber() const;
  void CheckApiToken() const;

  std::int32_t Utente() const;
  std::string Ditta() const;
  std::string Linea() const;
  TTipoSoggetto TipoSoggetto() const;
  // -PIVA, cleaned once when the command line is read.
  const VatNumber& PIVA() const { return vatNumber_; }
  std::string CodiceSoggetto() const;
  std::string ApiToken() const;

 private:
  static bool IsParametro(std::string_view text);
  static TTipoSoggetto StrToTipoSoggetto(std::string_view text);
  std::string Value(const std::string& key) const;

  std::vector<std::string> arguments_;
  std::string environmentApiToken_;
  std::map<std::string, std::string> FDictionary;
  VatNumber vatNumber_;
};

}  // namespace korvane
