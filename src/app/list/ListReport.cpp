#include "app/list/ListReport.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>

#include "platform/Exception.h"

namespace korvane {

namespace {

constexpr std::array<std::pair<RowOutcome, std::string_view>, 8> kOutcomeWords{{
    {RowOutcome::Imported, "importato"},
    {RowOutcome::AlreadyPresent, "gi\xC3\xA0 presente"},
    {RowOutcome::Reused, "riusato"},
    {RowOutcome::Invalid, "non valido"},
    {RowOutcome::Duplicate, "duplicato"},
    {RowOutcome::Refused, "rifiutato"},
    {RowOutcome::Retry, "da riprovare"},
    {RowOutcome::NotTried, "non tentata"},
}};

std::string AgeText(std::int64_t seconds) {
  if (seconds >= 86400) return std::to_string(seconds / 86400) + " giorni";
  if (seconds >= 3600) return std::to_string(seconds / 3600) + " ore";
  return std::to_string(seconds / 60) + " minuti";
}

std::string Stem(const std::string& listPath) {
  const std::filesystem::path path(listPath);
  return (path.parent_path() / path.stem()).string();
}

}  // namespace

std::string ReportField(std::string_view value) {
  constexpr std::string_view kFormulaStarts = "=+-@\t\r";
  if (!value.empty() && kFormulaStarts.find(value.front()) != std::string_view::npos) {
    return CsvField("'" + std::string(value), ';');
  }
  return CsvField(value, ';');
}

void WriteFileWhole(const std::string& path, const std::string& bytes, std::string_view what) {
  const auto fail = [&](int error) {
    throw Exception(std::string(what) + " non scrivibile (" + path + ": " + std::strerror(error) + ")");
  };
  // Created new (never through a name planted there), readable as any file the user saves.
  const std::string temporary = path + "." + std::to_string(::getpid()) + ".tmp";
  ::unlink(temporary.c_str());
  const int file = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (file < 0) fail(errno);
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t count = ::write(file, bytes.data() + written, bytes.size() - written);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) {
      const int error = count < 0 ? errno : ENOSPC;
      ::close(file);
      ::unlink(temporary.c_str());
      fail(error);
    }
    written += static_cast<std::size_t>(count);
  }
  const bool kept = ::fsync(file) == 0;
  const int error = errno;
  if (::close(file) != 0 || !kept || ::rename(temporary.c_str(), path.c_str()) != 0) {
    const int failure = kept ? errno : error;
    ::unlink(temporary.c_str());
    fail(failure);
  }
}

std::string_view OutcomeWord(RowOutcome outcome) {
  for (const auto& [known, word] : kOutcomeWords) {
    if (known == outcome) return word;
  }
  return {};
}

std::optional<RowOutcome> OutcomeFromWord(std::string_view word) {
  for (const auto& [outcome, known] : kOutcomeWords) {
    if (known == word) return outcome;
  }
  return std::nullopt;
}

bool IsToTryAgain(RowOutcome outcome) { return outcome == RowOutcome::Retry || outcome == RowOutcome::NotTried; }

std::string DefaultReportPath(const std::string& listPath) { return Stem(listPath) + ".rapporto.csv"; }

std::string RetryFilePath(const std::string& listPath, const ListTableForm& form) {
  const std::string extension = std::filesystem::path(listPath).extension().string();
  return Stem(listPath) + ".da-riprovare" + (form.kind == ListTableForm::Kind::Workbook ? ".csv" : extension);
}

void WriteListReport(const std::string& path, const std::vector<ReportRow>& rows) {
  std::string bytes(kUtf8ByteOrderMark);
  bytes += kReportHeader;
  bytes += "\r\n";
  for (const ReportRow& row : rows) {
    const std::string fields[] = {
        std::to_string(row.line),
        row.value,
        row.vatNumber,
        std::string(OutcomeWord(row.outcome)),
        row.code,
        row.message,
        row.paid ? "s\xC3\xAC" : "no",
        row.fromStore ? "s\xC3\xAC" : "no",
        row.answerAgeSeconds ? AgeText(*row.answerAgeSeconds) : "",
        row.sdi,
        row.pec,
    };
    for (std::size_t i = 0; i < std::size(fields); ++i) {
      if (i) bytes += ';';
      bytes += ReportField(fields[i]);
    }
    bytes += "\r\n";
  }
  WriteFileWhole(path, bytes, "Rapporto");
}

void WriteRetryFile(const std::string& path, const ListFile& list, const std::vector<std::int64_t>& lines) {
  const std::set<std::int64_t> wanted(lines.begin(), lines.end());
  const bool workbook = list.form.kind == ListTableForm::Kind::Workbook;
  const std::string lineEnd = workbook ? "\r\n" : list.form.lineEnd;
  std::string bytes(workbook || list.form.byteOrderMark ? kUtf8ByteOrderMark : "");
  if (list.header) bytes += list.header->raw + lineEnd;
  for (const ListEntry& entry : list.entries) {
    if (wanted.contains(entry.line)) bytes += entry.raw + lineEnd;
  }
  WriteFileWhole(path, bytes, "File delle righe da riprovare");
}

}  // namespace korvane
