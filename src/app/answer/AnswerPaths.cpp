#include "app/answer/AnswerPaths.h"

#include <string>

#include "platform/Exception.h"
#include "platform/Text.h"
#include "registry/Uri.h"

namespace korvane {

namespace {

// The last segment of a path that is not empty ("/v1/IT-start/" gives "IT-start").
std::string_view LastSegment(std::string_view path) {
  while (!path.empty() && path.back() == '/') path.remove_suffix(1);
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// The fields that name a value, in their order.
constexpr std::array<std::string_view AnswerPaths::*, 10> kValuePaths{
    &AnswerPaths::streetNumber,  &AnswerPaths::companyName, &AnswerPaths::taxCode,  &AnswerPaths::streetName,
    &AnswerPaths::town,          &AnswerPaths::province,    &AnswerPaths::postCode, &AnswerPaths::activityStatus,
    &AnswerPaths::recipientCode, &AnswerPaths::pec};

}  // namespace

const AnswerPaths& AnswerPathsFor(const Uri& registryAddress) {
  const std::string path = registryAddress.path + registryAddress.document;
  const std::string_view segment = LastSegment(path);
  return segment == "IT-start" || segment == "IT-advanced" ? kSuccessorAnswerPaths : kBaseAnswerPaths;
}

bool CompanyCeased(const TJSONValue* answer, const AnswerPaths& paths) {
  const TJSONValue* status = answer ? answer->FindValue(paths.activityStatus) : nullptr;
  return status != nullptr && status->GetKind() == TJSONValue::Kind::String &&
         platform::SameTextAscii(platform::TrimControl(status->Text()), "CESSATA");
}

CompanyAnswerPaths::CompanyAnswerPaths(const AnswerPaths& paths, std::size_t entry) : paths_(paths) {
  if (entry == 0 || paths.companies.empty()) return;
  const std::string first = std::string(paths.companies) + "[0]";
  const std::string chosen = std::string(paths.companies) + "[" + std::to_string(entry) + "]";
  for (std::size_t i = 0; i < kValuePaths.size(); ++i) {
    const std::string_view path = paths.*kValuePaths[i];
    if (!path.starts_with(first)) continue;
    texts_[i] = chosen + std::string(path.substr(first.size()));
    paths_.*kValuePaths[i] = texts_[i];
  }
}

ChosenCompany ChooseCompany(const TJSONValue* answer, const AnswerPaths& paths, std::string_view vatNumber) {
  const TJSONValue* list = answer && !paths.companies.empty() ? answer->FindValue(paths.companies) : nullptr;
  if (list == nullptr || list->GetKind() != TJSONValue::Kind::Array || list->Items().size() < 2) return {};
  const std::size_t count = list->Items().size();
  const std::string of = " of " + std::to_string(count) + " companies";
  std::size_t left = 0;
  std::size_t found = 0;
  for (std::size_t entry = 0; entry < count; ++entry) {
    if (list->Items()[entry]->GetKind() != TJSONValue::Kind::Object) continue;
    if (CompanyCeased(answer, CompanyAnswerPaths(paths, entry).Paths())) continue;
    if (left++ == 0) found = entry;
  }
  if (left == 0) return {0, "entry 0" + of + ": none is active, the first counts"};
  if (left == 1) return {found, "entry " + std::to_string(found) + of + ": the only active one"};
  throw Exception("Più imprese attive con la P.IVA " + std::string(vatNumber) + " (indicare il codice fiscale)");
}

}  // namespace korvane
