#include "config/PathMap.h"

#include "config/PathTerms.h"
#include "platform/Exception.h"
#include "platform/IniFile.h"
#include "platform/MessageText.h"
#include "platform/Process.h"
#include "platform/Text.h"
#include "platform/Trace.h"
#include "platform/Utf8.h"

namespace korvane::config {

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }
bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// A desktop path split into what it starts from ("G:" or "//") and its folder names, each in
// upper case for the comparison; the names as written are kept for the rest of a mapped path.
struct SplitPath {
  std::string root;
  std::vector<std::string> names;
  std::vector<std::string> folded;
};

SplitPath Split(std::string_view path) {
  SplitPath split;
  std::string_view rest;
  if (path.size() >= 2 && IsAsciiLetter(path[0]) && path[1] == ':') {
    split.root = platform::UpperCase(path.substr(0, 2));
    rest = path.substr(2);
  } else {
    split.root = "//";
    rest = path.substr(2);
  }
  std::size_t start = 0;
  while (start <= rest.size()) {
    std::size_t end = start;
    while (end < rest.size() && !IsSeparator(rest[end])) ++end;
    if (end > start) {
      split.names.emplace_back(rest.substr(start, end - start));
      split.folded.push_back(platform::UpperCase(split.names.back()));
    }
    start = end + 1;
  }
  return split;
}

bool IsDesktopPrefix(std::string_view text) {
  if (IsDriveLetterPath(text)) return true;
  return text.size() > 2 && IsSeparator(text[0]) && IsSeparator(text[1]) && !IsSeparator(text[2]);
}

std::string_view WithoutQuotes(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

// Where the admin wrote "/srv/gestionale/", the folder is "/srv/gestionale".
std::string WithoutTrailingSlashes(std::string_view folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.remove_suffix(1);
  return std::string(folder);
}

}  // namespace

std::string PathMapFileName(const std::string& usersDatabaseFile) {
  return FolderPart(usersDatabaseFile, kLocalSeparators) + std::string(kPathMapFileName);
}

bool IsDriveLetterPath(std::string_view path) {
  return path.size() >= 2 && IsAsciiLetter(path[0]) && path[1] == ':' && (path.size() == 2 || IsSeparator(path[2]));
}

bool IsNetworkSharePath(std::string_view path) { return path.starts_with("\\\\"); }

PathMap PathMap::Parse(std::string_view text, const std::string& fileName) {
  PathMap map;
  const std::vector<std::string_view> lines = platform::SettingsLines(text);
  for (std::size_t index = 0; index < lines.size(); ++index) {
    const std::string_view line = lines[index];
    const int number = static_cast<int>(index) + 1;
    if (line.empty()) continue;

    const std::size_t equals = line.find('=');
    const std::string_view prefix =
        equals == std::string_view::npos ? line : WithoutQuotes(platform::TrimIniBlanks(line.substr(0, equals)));
    const std::string_view folder = equals == std::string_view::npos
                                        ? std::string_view()
                                        : WithoutQuotes(platform::TrimIniBlanks(line.substr(equals + 1)));
    if (!IsDesktopPrefix(prefix) || !folder.starts_with('/')) {
      throw Exception(
          platform::Format("Riga %s di %s non valida: attesa \"prefisso del desktop = cartella del server\"",
                           {std::to_string(number), fileName}));
    }
    map.lines_.push_back({number, std::string(prefix), WithoutTrailingSlashes(folder)});
  }
  return map;
}

PathMap PathMap::Load(const std::string& fileName) { return Parse(platform::ReadIniText(fileName), fileName); }

std::optional<PathMap::Mapped> PathMap::Map(std::string_view desktopPath) const {
  if (!IsDesktopPrefix(desktopPath)) return std::nullopt;
  const SplitPath path = Split(desktopPath);
  const Line* best = nullptr;
  std::size_t bestLength = 0;
  for (const Line& line : lines_) {
    const SplitPath prefix = Split(line.desktopPrefix);
    if (prefix.root != path.root || prefix.folded.size() > path.folded.size()) continue;
    if (!std::equal(prefix.folded.begin(), prefix.folded.end(), path.folded.begin())) continue;
    if (best == nullptr || prefix.folded.size() > bestLength) {
      best = &line;
      bestLength = prefix.folded.size();
    }
  }
  if (best == nullptr) return std::nullopt;
  std::string mapped = best->serverFolder;
  for (std::size_t i = bestLength; i < path.names.size(); ++i) {
    if (!mapped.ends_with('/')) mapped += '/';
    mapped += path.names[i];
  }
  return Mapped{std::move(mapped), best};
}

std::string ServerArchivePath(const std::string& archivio, const std::string& mapFileName) {
  const bool driveLetter = IsDriveLetterPath(archivio);
  if (!driveLetter && !IsNetworkSharePath(archivio)) return archivio;
  if (!driveLetter && !platform::FileExists(mapFileName)) return archivio;

  const PathMap map = PathMap::Load(mapFileName);
  const std::optional<PathMap::Mapped> mapped = map.Map(archivio);
  if (!mapped) {
    platform::trace::Step("path map: no line of " + mapFileName + " maps " + archivio);
    throw Exception(platform::Format("Archivio \"%s\" non raggiungibile da questo server: manca il suo prefisso in %s",
                                     {platform::OutsideTextForMessage(archivio), mapFileName}));
  }
  platform::trace::Step("path map: " + archivio + " -> " + mapped->path + " (line " +
                        std::to_string(mapped->line->number) + " of " + mapFileName + ")");
  return mapped->path;
}

}  // namespace korvane::config
