#include "app/AnswerPaths.h"

#include <string>

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

}  // namespace

const AnswerPaths& AnswerPathsFor(std::string_view registryUrl) {
  // Taken apart as the request takes it, so the query and the fragment are not path.
  const Uri uri = registry::ParseUri(std::string(registryUrl));
  const std::string path = uri.path + uri.document;
  const std::string_view segment = LastSegment(path);
  return segment == "IT-start" || segment == "IT-advanced" ? kSuccessorAnswerPaths : kBaseAnswerPaths;
}

bool CompanyCeased(const TJSONValue* answer, const AnswerPaths& paths) {
  const TJSONValue* status = answer ? answer->FindValue(paths.activityStatus) : nullptr;
  return status != nullptr && status->GetKind() == TJSONValue::Kind::String &&
         platform::SameTextAscii(platform::TrimControl(status->Text()), "CESSATA");
}

}  // namespace korvane
