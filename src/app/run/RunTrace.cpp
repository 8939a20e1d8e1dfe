#include "app/run/RunTrace.h"

#include "app/answer/AnswerPaths.h"
#include "platform/Trace.h"
#include "platform/Utf8.h"
#include "registry/RegistryEndpoint.h"

namespace korvane {

namespace trace = platform::trace;

namespace {

std::string SettingText(std::string_view setting, const std::optional<config::CompanyColumn>& column) {
  std::string text(setting);
  if (!column) return text + " off";
  return text + " " + column->name + " (" + std::to_string(column->length) + " characters)";
}

}  // namespace

void TraceRunInputs(const RunInputs& inputs) {
  if (!trace::On()) return;
  const SessionInputs& session = inputs.session;
  const RunOptions& options = session.options;
  trace::Step("command line: user " + std::to_string(session.user) + ", company " + session.company + ", kind " +
              (session.tipoSoggetto == TTipoSoggetto::tsFornitore ? "F" : "C") + ", VAT " +
              inputs.subject.vatNumber.Cleaned());
  trace::Step("registry: " + registry::WithoutCredentials(options.registryEndpoint.Url()) + " (answer format " +
              (options.answerPaths == &kSuccessorAnswerPaths ? "IT-start/IT-advanced" : "base") + ")");
  if (const auto& proxy = options.registryEndpoint.proxy) {
    trace::Step("proxy: " + proxy->Authority() + " (" + proxy->variable + ")");
  }
  // The user name and where each part came from; the password itself never.
  const auto source = [](const std::string& variable) { return variable.empty() ? "built-in" : variable; };
  trace::Step("database login: user " + platform::SanitizeUtf8(options.databaseLogin.user) + " (" +
              source(options.databaseUserSource) + "), password (" + source(options.databasePasswordSource) + ")");
}

void TraceUser(TQelUser& user) {
  if (!trace::On()) return;
  trace::Step("user " + std::to_string(user.CodiceUtente()) + " (" + user.NomeUtente() + "), company " +
              user.DittaUtente());
}

void TraceSubjectCode(const SubjectKind& kind, const SubjectCode& code) {
  if (!trace::On()) return;
  if (!code.computed) {
    trace::Step("code given: " + code.Codice);
    return;
  }
  trace::Step(std::string("setting ") + kind.codeWidthSetting + " = '" + code.CaratteriRiempimento + "'");
  trace::Step("code computed: " + code.Codice);
}

void TraceCompanySettings(const SubjectKind& kind, const config::CompanySettings& settings) {
  if (!trace::On()) return;
  const char* existing[] = {"off", "Riusa", "Rifiuta"};
  trace::Step(std::string("company settings: ") + kind.existingVatSetting + " " +
              existing[static_cast<int>(settings.existingVatNumber)] + ", " + kind.ceasedSetting + " " +
              (settings.refuseCeasedCompany ? "Rifiuta" : "off") + ", ControlloPartitaIva " +
              (settings.checkVatNumber ? "Si" : "off"));
}

void TraceExistingSubject(const std::optional<std::string>& existing, bool underLock) {
  trace::Step(std::string("existing subject with this VAT number") + (underLock ? ", under the lock: " : ": ") +
              (existing ? *existing : "none"));
}

void TraceEInvoiceSettings(const config::EInvoiceSettingNames& names, const config::EInvoiceColumns& columns) {
  if (!trace::On() || !columns.Any()) return;
  trace::Step("e-invoicing settings: " + SettingText(names.recipientCode, columns.recipientCode) + ", " +
              SettingText(names.pec, columns.pec));
}

}  // namespace korvane
