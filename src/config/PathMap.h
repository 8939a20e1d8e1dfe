#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/PathKinds.h"

// The firm's Windows desktops name each archive as they see it: a mapped drive
// ("G:\Gestionale\Dati\ditta01.fdb") or a network path ("\\srv01\gestionale\Dati\ditta01.fdb").
// On this server such a name is no file, and the client library would read "G:" as a host name.
// The administrator writes beside the users database a map of lines
//     desktop prefix = server folder
// ("G:\Gestionale = /srv/gestionale"), and a desktop path becomes the server folder followed by
// the rest of the path, with "/" between the folders.
namespace korvane::config {

inline constexpr std::string_view kPathMapFileName = "mappa-percorsi.txt";

// The map file beside the users database file.
std::string PathMapFileName(const std::string& usersDatabaseFile);

// A drive letter path or a network path (platform/PathKinds.h) is one only a Windows desktop can
// read; any other text (a POSIX path, "host:path", "host:alias") is not.
using platform::IsDriveLetterPath;
using platform::IsNetworkPath;

class PathMap {
 public:
  struct Line {
    int number = 0;  // the line of the file, from 1
    std::string desktopPrefix;
    std::string serverFolder;
  };
  struct Mapped {
    std::string path;
    const Line* line = nullptr;
    std::vector<std::string> rest;  // the folder names after the prefix, as the desktop wrote them
  };

  // The lines of a map file's text (UTF-8). Blank lines and lines that start with "#" or ";" are
  // comments. Each other line is a desktop prefix (a drive letter, or "\\" or "//" and a host),
  // "=", and an absolute server folder; blanks around each side are dropped, and one pair of
  // quotes around a side too. Raises, naming `fileName` and the line, on any other line.
  static PathMap Parse(std::string_view text, const std::string& fileName);
  // The same for the file's bytes, decoded as a dati.ini is. A missing or unreadable file is an
  // empty map; one over 1 MiB is refused, as a dati.ini is.
  static PathMap Load(const std::string& fileName);

  // The path on this server: the longest prefix that matches whole folder names (letters compared
  // without regard to case, "\" and "/" alike) is replaced by its server folder, the rest follows
  // with "/". Nothing when no line's prefix matches.
  std::optional<Mapped> Map(std::string_view desktopPath) const;

  bool Empty() const { return lines_.empty(); }

 private:
  std::vector<Line> lines_;
};

// The archive named by `archivio` as this server reaches it. A drive-letter path is mapped by the
// map file `mapFileName`; so is a network path when that file exists (without it a network path
// keeps its meaning: a share of a Windows database server). Every other value comes back as it is
// and the file is not read. A path that must be mapped and that no line maps raises a message
// that names the value and the map file, so it never reaches the client library; so does a
// drive-relative value ("G:ditta01.fdb": no server knows that drive's current folder) and one
// with a ".." folder (it would leave the mapped folder). Below the server folder each name missing
// as written is looked for without regard to letter case, folder by folder, as the share finds it
// for the desktops; the trace names each such name.
std::string ServerArchivePath(const std::string& archivio, const std::string& mapFileName);

}  // namespace korvane::config
