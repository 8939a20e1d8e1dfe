#include "app/refresh/FieldMerge.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/Exception.h"

namespace korvane {

namespace {

std::string_view Trimmed(std::string_view text) {
  const auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

std::string Upper(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper;
}

}  // namespace

std::string_view MergeActionWord(MergeAction action) {
  switch (action) {
    case MergeAction::Same: return "invariato";
    case MergeAction::Updated: return "aggiornato";
    case MergeAction::Filled: return "compilato";
    case MergeAction::HandCorrected: return "corretto a mano";
    case MergeAction::NotBlanked: return "non svuotato";
    case MergeAction::NoBase: return "senza base";
    case MergeAction::Locked: return "bloccato";
  }
  return {};
}

std::optional<MergeAction> MergeActionOfWord(std::string_view word) {
  for (const MergeAction action :
       {MergeAction::Same, MergeAction::Updated, MergeAction::Filled, MergeAction::HandCorrected,
        MergeAction::NotBlanked, MergeAction::NoBase, MergeAction::Locked}) {
    if (MergeActionWord(action) == word) return action;
  }
  return std::nullopt;
}

bool MergeWrites(MergeAction action) { return action == MergeAction::Updated || action == MergeAction::Filled; }

MergeAction MergeField(const FieldValues& values) {
  const std::string_view registry = values.registry ? std::string_view(*values.registry) : std::string_view();
  if (registry.empty()) return values.archive.empty() ? MergeAction::Same : MergeAction::NotBlanked;
  if (values.archive == registry) return MergeAction::Same;
  // The lock comes before every rule that writes, filling an empty field included.
  if (values.locked) return MergeAction::Locked;
  if (values.archive.empty()) return MergeAction::Filled;
  if (!values.base) return MergeAction::NoBase;
  return values.archive == *values.base ? MergeAction::Updated : MergeAction::HandCorrected;
}

CompanyActivity ActivityOf(std::string_view status) {
  const std::string word = Upper(Trimmed(status));
  if (word == "CESSATA") return CompanyActivity::Ceased;
  if (word == "SOSPESA") return CompanyActivity::Suspended;
  if (word == "IN LIQUIDAZIONE" || word == "LIQUIDAZIONE") return CompanyActivity::InLiquidation;
  return CompanyActivity::Active;
}

std::string_view ActivityWord(CompanyActivity activity) {
  switch (activity) {
    case CompanyActivity::Active: return "attiva";
    case CompanyActivity::Ceased: return "cessata";
    case CompanyActivity::Suspended: return "sospesa";
    case CompanyActivity::InLiquidation: return "in liquidazione";
  }
  return {};
}

std::optional<std::string> ActivityMark(CompanyActivity activity) {
  if (activity == CompanyActivity::Active) return std::nullopt;
  return Upper(ActivityWord(activity));
}

bool PecRequired(std::string_view recipientCode) {
  const std::string_view code = Trimmed(recipientCode);
  return code.empty() || code == kPecRecipientCode;
}

bool RecipientPairInconsistent(std::string_view recipientCode, std::string_view pec) {
  return !Trimmed(pec).empty() && !PecRequired(recipientCode);
}

FieldLocks FieldLocks::FromText(std::string_view text, const std::string& path) {
  FieldLocks locks;
  std::size_t lineNumber = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    ++lineNumber;
    if (lineNumber == 1 && line.starts_with("\xEF\xBB\xBF")) line.remove_prefix(3);
    line = Trimmed(line);
    if (line.empty() || line.front() == '#') continue;
    const std::size_t separator = line.find(';');
    const std::string_view code = Trimmed(line.substr(0, separator));
    const std::string_view field =
        separator == std::string_view::npos ? std::string_view() : Trimmed(line.substr(separator + 1));
    if (code.empty() || field.empty() || field.find(';') != std::string_view::npos) {
      throw Exception("File dei campi bloccati non valido (" + path + ", riga " + std::to_string(lineNumber) + ")");
    }
    locks.locks_.emplace(std::string(code), Upper(field));
  }
  return locks;
}

FieldLocks FieldLocks::FromFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream bytes;
  if (file) bytes << file.rdbuf();
  if (!file || file.bad()) {
    throw Exception("File dei campi bloccati non leggibile (" + path + ": " + std::strerror(errno) + ")");
  }
  return FromText(bytes.str(), path);
}

bool FieldLocks::Locked(std::string_view code, std::string_view field) const {
  return locks_.contains(std::pair<std::string, std::string>(std::string(code), Upper(field)));
}

}  // namespace korvane
