#include "config/QelDBUtility.h"

#include "config/PathTerms.h"
#include "db/IBDatabase.h"
#include "platform/Exception.h"
#include "platform/IniFile.h"
#include "platform/Process.h"
#include "platform/Trace.h"

namespace korvane {

using config::DrivePart;
using config::FolderPart;
using config::IsNetworkPath;
using config::NamePart;
using config::RelativeFolder;
using config::WithTrailingSeparator;

namespace {

constexpr const char* kIncompleteSettings =
    "Riferimenti file .ini incompleti (specificare \"Lettera Disco Server\" o \"PercorsoDatabase\")";

// "\\host\share\folders\name" with the share taken as the server drive ("d" -> "d:").
std::string NetworkPathOnServerDrive(const std::string& path) {
  const std::string drive = DrivePart(path);
  const std::size_t hostEnd = drive.find('\\', 2);
  const std::string host = drive.substr(2, hostEnd == std::string::npos ? std::string::npos : hostEnd - 2);
  std::string share = hostEnd == std::string::npos ? std::string() : drive.substr(hostEnd + 1);
  if (share.find(':') == std::string::npos) share += ':';
  return "\\\\" + host + "\\" + WithTrailingSeparator(share) + WithTrailingSeparator(RelativeFolder(FolderPart(path))) +
         NamePart(path);
}

}  // namespace

void TDBConnectionInfo::LoadFromIniFile(const std::string& fileName, const std::string& section) {
  const platform::IniFile ini(fileName);
  NomeServer = ini.ReadString(section, "Nome Server", "");
  PercorsoDatabase = ini.ReadString(section, "PercorsoDatabase", "");
  LetteraDiscoServer = ini.ReadString(section, "Lettera Disco Server", "");
  Alias = ini.ReadString(section, "Alias", "");
}

TIBFileName TDBConnectionInfo::GetIBFileName() const {
  if (!NomeServer.empty() && !Alias.empty()) return NomeServer + ":" + Alias;

  if (!NomeServer.empty()) {
    std::string drive;
    if (!LetteraDiscoServer.empty()) {
      // A letter written with its colon is taken as it is.
      drive = LetteraDiscoServer.ends_with(':') ? LetteraDiscoServer : LetteraDiscoServer + ":";
    } else if (!PercorsoDatabase.empty()) {
      drive = DrivePart(PercorsoDatabase);
    } else {
      throw Exception(kIncompleteSettings);
    }
    // The folder on the server is the folder below whatever drive or share the path names
    // here: a network share or a mapped drive stands for the server drive, so its own drive
    // part is dropped rather than nested inside the server drive.
    const std::string folder = RelativeFolder(PercorsoDatabase.empty() ? FolderPart(FileName) : PercorsoDatabase);
    return "\\\\" + NomeServer + "\\" + WithTrailingSeparator(drive) + WithTrailingSeparator(folder) +
           NamePart(FileName);
  }

  const std::string& source = PercorsoDatabase.empty() ? FileName : PercorsoDatabase;
  if (!IsNetworkPath(source)) return source;
  return NetworkPathOnServerDrive(source);
}

std::string config::SettingsFileName(const std::string& databaseFileName) {
  return FolderPart(databaseFileName) + "dati.ini";
}

void OpenIBDatabaseFile(TIBDatabase& database, const TFileName& fileName, const config::DatabaseLogin& login) {
  TDBConnectionInfo info;
  info.FileName = fileName;
  const std::string settings = config::SettingsFileName(fileName);
  if (platform::FileExists(settings)) {
    info.LoadFromIniFile(settings, "CONFIG");
    if (platform::trace::On()) platform::trace::Step("dati.ini: " + settings + " resolves " + fileName);
  } else {
    platform::trace::Step("dati.ini: none at " + settings);
  }
  OpenIBDatabase(database, info, login);
}

void OpenIBDatabase(TIBDatabase& database, const TDBConnectionInfo& info, const config::DatabaseLogin& login) {
  if (database.Connected()) database.Close();
  database.SetLoginPrompt(false);
  database.ClearParams();
  database.SetParam("user_name", login.user);
  database.SetParam("password", login.password);
  database.SetDatabaseName(info.GetIBFileName());
  database.Open();
}

}  // namespace korvane
