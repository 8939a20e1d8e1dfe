#include "config/PathMap.h"

#include <algorithm>
#include <filesystem>

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

// The folder followed by `names`, each taken as it is on disk: as written when it exists so,
// else the one entry of its folder that differs from it in letter case alone. From the first name
// found neither way the rest follows as written (the engine then says what is missing).
std::string WithNamesAsOnDisk(const std::string& folder, const std::vector<std::string>& names) {
  std::string path = folder;
  bool resolving = true;
  for (const std::string& name : names) {
    const std::string parent = path;
    if (!path.ends_with('/')) path += '/';
    std::error_code error;
    if (resolving && !std::filesystem::exists(path + name, error)) {
      const std::string folded = platform::UpperCase(name);
      std::vector<std::string> matches;
      for (const auto& entry : std::filesystem::directory_iterator(parent, error)) {
        const std::string entryName = entry.path().filename().string();
        if (platform::UpperCase(entryName) == folded) matches.push_back(entryName);
      }
      if (matches.size() == 1) {
        platform::trace::Step("path map: \"" + name + "\" found as \"" + matches.front() + "\" in " + parent +
                              " (letter case ignored)");
        path += matches.front();
        continue;
      }
      resolving = false;
    }
    path += name;
  }
  return path;
}

}  // namespace

std::string PathMapFileName(const std::string& usersDatabaseFile) {
  return FolderPart(usersDatabaseFile, kLocalSeparators) + std::string(kPathMapFileName);
}

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
  std::vector<std::string> rest(path.names.begin() + static_cast<std::ptrdiff_t>(bestLength), path.names.end());
  for (const std::string& name : rest) {
    if (!mapped.ends_with('/')) mapped += '/';
    mapped += name;
  }
  return Mapped{std::move(mapped), best, std::move(rest)};
}

std::string ServerArchivePath(const std::string& archivio, const std::string& mapFileName) {
  const auto refuse = [&](const std::string& why) -> Exception {
    return Exception(platform::Format("Archivio \"%s\" non raggiungibile da questo server: %s",
                                      {platform::OutsideTextForMessage(archivio), why}));
  };
  const std::string unmapped = "manca il suo prefisso in " + mapFileName;
  if (platform::IsDriveRelativePath(archivio)) {
    platform::trace::Step("path map: " + archivio + " is relative to a desktop's drive");
    throw refuse(unmapped);
  }
  const bool driveLetter = IsDriveLetterPath(archivio);
  if (!driveLetter && !IsNetworkPath(archivio)) return archivio;
  if (!driveLetter && !platform::FileExists(mapFileName)) return archivio;

  const PathMap map = PathMap::Load(mapFileName);
  const std::optional<PathMap::Mapped> mapped = map.Map(archivio);
  if (!mapped) {
    platform::trace::Step("path map: no line of " + mapFileName + " maps " + archivio);
    throw refuse(unmapped);
  }
  if (std::find(mapped->rest.begin(), mapped->rest.end(), "..") != mapped->rest.end()) {
    platform::trace::Step("path map: " + archivio + " has a \"..\" folder");
    throw refuse("\"..\" nel percorso");
  }
  platform::trace::Step("path map: " + archivio + " -> " + mapped->path + " (line " +
                        std::to_string(mapped->line->number) + " of " + mapFileName + ")");
  return WithNamesAsOnDisk(mapped->line->serverFolder, mapped->rest);
}

}  // namespace korvane::config
