#pragma once

namespace korvane {

// The kind of subject a run imports, as the command line gives it (-TIPOSOGGETTO C or F).
enum class TTipoSoggetto { tsNonDefinito = 0, tsCliente = 1, tsFornitore = 2 };

// What a kind of subject selects in the archive: its table and the company settings that apply
// to it. The one place that maps a kind to these names.
struct SubjectKind {
  const char* table;               // CLIENTI, FORNITO
  const char* codeWidthSetting;    // the fill width of computed codes
  const char* existingVatSetting;  // what to do with a VAT number the table already holds
  const char* ceasedSetting;       // whether a ceased company is refused
  // The company's own columns for the e-invoicing data.
  const char* recipientCodeSetting;
  const char* pecSetting;
  // The company's own column that a refresh marks for a company the registry gives as not active.
  const char* activityMarkSetting;
};

// The customer's entry for tsCliente (and tsNonDefinito, which a checked command line never
// gives), the supplier's for tsFornitore.
const SubjectKind& SubjectKindOf(TTipoSoggetto tipo);

}  // namespace korvane
