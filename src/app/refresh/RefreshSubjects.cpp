#include "app/refresh/RefreshSubjects.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <string_view>

#include "app/run/Session.h"
#include "app/subject/VatNumber.h"
#include "config/ReadTransaction.h"
#include "db/IBSQL.h"
#include "db/IBTransaction.h"
#include "platform/Exception.h"

namespace korvane {

namespace {

std::string Trimmed(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
  return std::string(text);
}

std::vector<std::string> ReadCodes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw Exception("File dei codici non leggibile (" + path + ")");
  std::vector<std::string> codes;
  std::string line;
  bool first = true;
  while (std::getline(file, line)) {
    if (first && line.starts_with("\xEF\xBB\xBF")) line.erase(0, 3);
    first = false;
    std::string code = Trimmed(line);
    if (!code.empty() && code.front() != '#' && std::find(codes.begin(), codes.end(), code) == codes.end()) {
      codes.push_back(std::move(code));
    }
  }
  return codes;
}

}  // namespace

std::vector<ChosenSubject> ChooseSubjects(Session& session, const RefreshSelection& selection) {
  const std::string table(session.Kind().table);
  std::map<std::string, std::string> byCode;
  config::ReadInTransaction(session.Archive(), TIBTransactionLevel::ibtrSnapshot, [&](TIBSQL& sql) {
    sql.AddLine("SELECT CODICE, PI FROM " + table);
    if (selection.choice == RefreshChoice::NotUpdatedFor) {
      sql.AddLine("WHERE DATAULTIMOAGGIORNAMENTO IS NULL OR DATAULTIMOAGGIORNAMENTO < CURRENT_DATE - " +
                  std::to_string(selection.days));
    }
    sql.ExecQuery();
    for (; !sql.Eof(); sql.Next()) {
      byCode[Trimmed(sql.FieldByName("CODICE").AsString())] = NormalizeVatNumber(sql.FieldByName("PI").AsString());
    }
  });
  std::vector<ChosenSubject> chosen;
  if (selection.choice == RefreshChoice::Codes) {
    for (std::string& code : ReadCodes(selection.codesPath)) {
      const auto found = byCode.find(code);
      if (found == byCode.end()) {
        chosen.push_back({std::move(code), {}, false});
      } else {
        chosen.push_back({std::move(code), found->second, true});
      }
    }
    return chosen;
  }
  for (auto& [code, vatNumber] : byCode) {
    if (IsValidItalianVatNumber(vatNumber)) chosen.push_back({code, vatNumber, true});
  }
  return chosen;
}

}  // namespace korvane
