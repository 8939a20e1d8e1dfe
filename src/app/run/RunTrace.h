#pragma once

// The import run's trace lines, one helper per step that reports more than its name, so that the
// run itself reads as its steps. Each writes only when a trace was asked for.

#include <optional>
#include <string>

#include "app/inputs/RunInputs.h"
#include "app/subject/SubjectCode.h"
#include "config/CompanySettings.h"
#include "config/EInvoiceColumns.h"
#include "config/QelUser.h"

namespace korvane {

// What the run was told: the command line without the token, the registry, the proxy, the
// database login without its password.
void TraceRunInputs(const RunInputs& inputs);
void TraceUser(TQelUser& user);
void TraceSubjectCode(const SubjectKind& kind, const SubjectCode& code);
void TraceCompanySettings(const SubjectKind& kind, const config::CompanySettings& settings);
void TraceExistingSubject(const std::optional<std::string>& existing, bool underLock);
// Traces the settings in force, when one is on: "e-invoicing settings: <setting> <column>
// (<length> characters) | off, <setting> ...".
void TraceEInvoiceSettings(const config::EInvoiceSettingNames& names, const config::EInvoiceColumns& columns);

}  // namespace korvane
