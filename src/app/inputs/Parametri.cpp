#include "app/inputs/Parametri.h"

#include "app/subject/VatNumber.h"
#include "platform/Convert.h"
#include "platform/Exception.h"
#include "platform/MessageText.h"
#include "platform/Text.h"
#include "platform/Utf8.h"
#include "protocol/ImporterCommandLine.h"

namespace korvane {

namespace {

[[noreturn]] void RaiseMissing(std::string_view format, std::string_view name) {
  throw Exception(platform::Format(format, {name}));
}

}  // namespace

TParametri::TParametri(std::vector<std::string> arguments, std::string environmentApiToken)
    : arguments_(std::move(arguments)), environmentApiToken_(std::move(environmentApiToken)) {}

bool TParametri::IsParametro(std::string_view text) { return protocol::IsImporterSwitch(text); }

TTipoSoggetto TParametri::StrToTipoSoggetto(std::string_view text) {
  if (text == "C") return TTipoSoggetto::tsCliente;
  if (text == "F") return TTipoSoggetto::tsFornitore;
  return TTipoSoggetto::tsNonDefinito;
}

void TParametri::ReadFromCmdLine() {
  FDictionary.clear();
  vatNumber_ = {};
  if (arguments_.empty()) throw Exception("Nessun parametro specificato");
  if (arguments_.size() == 1) throw Exception("Parametri incompleti");

  // Every argument is examined as a possible switch in its turn, also one just taken as a value.
  for (std::size_t i = 0; i < arguments_.size(); ++i) {
    const std::string switchName = platform::UpperCase(arguments_[i]);
    if (!IsParametro(switchName) || i + 1 >= arguments_.size()) continue;
    const std::string& value = arguments_[i + 1];
    if (IsParametro(value)) continue;
    if (!FDictionary.emplace(switchName, value).second) throw Exception("Duplicates not allowed");
  }
  // As people type it: blanks, dots, dashes and a trailing line end go before any check.
  vatNumber_ = VatNumber(Value("-PIVA"));
}

void TParametri::Check() const {
  CheckSession();
  CheckVatNumber();
  CheckApiToken();
}

void TParametri::CheckSession() const {
  if (Utente() == 0) RaiseMissing("Utente non riconosciuto (parametro %s)", "UTENTE");
  if (Ditta().empty()) RaiseMissing("Ditta non riconosciuta (parametro %s)", "DITTA");
  if (TipoSoggetto() == TTipoSoggetto::tsNonDefinito) {
    RaiseMissing("TipoSoggetto non riconosciuto (parametro %s)", "TIPOSOGGETTO");
  }
}

void TParametri::CheckVatNumber() const {
  if (vatNumber_.Form() != VatNumberForm::Usable) RaiseMissing("P.IVA non riconosciuta (parametro %s)", "PIVA");
}

void TParametri::CheckApiToken() const {
  // The token goes onto a line of the request: a control character could end it and start another.
  if (ApiToken().empty() || platform::HasAsciiControlCharacter(ApiToken())) {
    RaiseMissing("Api Token non riconosciuto (parametro %s)", "APITOKEN");
  }
}

std::string TParametri::Value(const std::string& key) const {
  const auto found = FDictionary.find(key);
  return found == FDictionary.end() ? std::string() : found->second;
}

std::int32_t TParametri::Utente() const {
  const auto found = FDictionary.find("-UTENTE");
  if (found == FDictionary.end()) return 0;
  return platform::StrToInt32(found->second).value_or(0);
}

std::string TParametri::Ditta() const { return Value("-DITTA"); }
std::string TParametri::Linea() const { return Value("-LINEA"); }
std::string TParametri::CodiceSoggetto() const { return Value("-CODICESOGGETTO"); }
std::string TParametri::ApiToken() const {
  return FDictionary.count("-APITOKEN") != 0 ? Value("-APITOKEN") : environmentApiToken_;
}

TTipoSoggetto TParametri::TipoSoggetto() const {
  const auto found = FDictionary.find("-TIPOSOGGETTO");
  return found == FDictionary.end() ? TTipoSoggetto::tsCliente : StrToTipoSoggetto(found->second);
}

}  // namespace korvane
