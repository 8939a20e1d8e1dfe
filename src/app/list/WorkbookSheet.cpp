#include "app/list/WorkbookSheet.h"

#include <expat.h>
#include <zip.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/Exception.h"

namespace korvane {

namespace {

// A part of the workbook larger than this is refused rather than unpacked.
constexpr zip_uint64_t kLargestPart = 256 * 1024 * 1024;

[[noreturn]] void RaiseUnreadable(const std::string& path, std::string_view reason) {
  throw Exception("File della lista non leggibile (" + path + ": " + std::string(reason) + ")");
}

struct ZipCloser {
  void operator()(zip_t* archive) const { zip_discard(archive); }
};
using ZipArchive = std::unique_ptr<zip_t, ZipCloser>;

std::optional<std::string> ReadPart(zip_t* archive, const std::string& name, const std::string& path) {
  zip_stat_t info;
  zip_stat_init(&info);
  if (zip_stat(archive, name.c_str(), 0, &info) != 0) return std::nullopt;
  if ((info.valid & ZIP_STAT_SIZE) == 0 || info.size > kLargestPart) RaiseUnreadable(path, name + " troppo grande");
  zip_file_t* file = zip_fopen(archive, name.c_str(), 0);
  if (!file) RaiseUnreadable(path, name + ": " + zip_strerror(archive));
  std::string bytes(info.size, '\0');
  const zip_int64_t read = zip_fread(file, bytes.data(), info.size);
  zip_fclose(file);
  if (read < 0 || static_cast<zip_uint64_t>(read) != info.size) RaiseUnreadable(path, name + " non leggibile");
  return bytes;
}

// An XML part read with expat, its elements' names without their namespace.
struct XmlHandlers {
  std::function<void(std::string_view name, const char** attributes)> start;
  std::function<void(std::string_view name)> end;
  std::function<void(std::string_view text)> text;
};

std::string_view LocalName(const char* name) {
  std::string_view full(name);
  const std::size_t bar = full.rfind('|');
  return bar == std::string_view::npos ? full : full.substr(bar + 1);
}

const char* Attribute(const char** attributes, std::string_view name) {
  for (; attributes[0]; attributes += 2) {
    if (LocalName(attributes[0]) == name) return attributes[1];
  }
  return nullptr;
}

void ParseXml(const std::string& bytes, XmlHandlers& handlers, const std::string& part, const std::string& path) {
  XML_Parser parser = XML_ParserCreateNS(nullptr, '|');
  if (!parser) throw std::bad_alloc();
  XML_SetUserData(parser, &handlers);
  XML_SetElementHandler(
      parser,
      [](void* data, const XML_Char* name, const XML_Char** attributes) {
        auto& own = *static_cast<XmlHandlers*>(data);
        if (own.start) own.start(LocalName(name), attributes);
      },
      [](void* data, const XML_Char* name) {
        auto& own = *static_cast<XmlHandlers*>(data);
        if (own.end) own.end(LocalName(name));
      });
  XML_SetCharacterDataHandler(parser, [](void* data, const XML_Char* text, int length) {
    auto& own = *static_cast<XmlHandlers*>(data);
    if (own.text) own.text(std::string_view(text, static_cast<std::size_t>(length)));
  });
  const bool parsed = XML_Parse(parser, bytes.data(), static_cast<int>(bytes.size()), 1) == XML_STATUS_OK;
  const std::string error = parsed ? "" : XML_ErrorString(XML_GetErrorCode(parser));
  XML_ParserFree(parser);
  if (!parsed) RaiseUnreadable(path, part + ": " + error);
}

// The path inside the archive of the workbook's first sheet.
std::string FirstSheetPart(zip_t* archive, const std::string& path) {
  const auto workbook = ReadPart(archive, "xl/workbook.xml", path);
  if (!workbook) RaiseUnreadable(path, "non è una cartella di lavoro .xlsx");
  std::string relation;
  XmlHandlers sheets;
  sheets.start = [&](std::string_view name, const char** attributes) {
    if (name == "sheet" && relation.empty()) {
      const char* id = Attribute(attributes, "id");
      relation = id ? id : "";
    }
  };
  ParseXml(*workbook, sheets, "xl/workbook.xml", path);
  std::string target;
  if (const auto relations = ReadPart(archive, "xl/_rels/workbook.xml.rels", path); relations && !relation.empty()) {
    XmlHandlers links;
    links.start = [&](std::string_view name, const char** attributes) {
      const char* id = Attribute(attributes, "Id");
      const char* to = Attribute(attributes, "Target");
      if (name == "Relationship" && id && to && relation == id) target = to;
    };
    ParseXml(*relations, links, "xl/_rels/workbook.xml.rels", path);
  }
  if (target.empty()) return "xl/worksheets/sheet1.xml";
  return target.starts_with('/') ? target.substr(1) : "xl/" + target;
}

// Each shared string, the text of its runs (phonetic hints left out).
std::vector<std::string> SharedStrings(zip_t* archive, const std::string& path) {
  std::vector<std::string> strings;
  const auto part = ReadPart(archive, "xl/sharedStrings.xml", path);
  if (!part) return strings;
  bool inText = false;
  int phonetic = 0;
  XmlHandlers handlers;
  handlers.start = [&](std::string_view name, const char**) {
    if (name == "si") strings.emplace_back();
    if (name == "rPh") ++phonetic;
    if (name == "t" && phonetic == 0 && !strings.empty()) inText = true;
  };
  handlers.end = [&](std::string_view name) {
    if (name == "rPh") --phonetic;
    if (name == "t") inText = false;
  };
  handlers.text = [&](std::string_view text) {
    if (inText) strings.back() += text;
  };
  ParseXml(*part, handlers, "xl/sharedStrings.xml", path);
  return strings;
}

// "B7" gives 1: the column's index from its letters.
std::optional<std::size_t> ColumnOf(const char* reference) {
  if (!reference) return std::nullopt;
  std::size_t column = 0;
  bool letters = false;
  for (; *reference >= 'A' && *reference <= 'Z'; ++reference) {
    column = column * 26 + static_cast<std::size_t>(*reference - 'A' + 1);
    if (column > 16384) return std::nullopt;
    letters = true;
  }
  return letters ? std::optional<std::size_t>(column - 1) : std::nullopt;
}

// A number cell as the digits it holds when it is a whole number, else as stored.
std::string NumberText(const std::string& stored) {
  if (stored.find_first_of("eE.") == std::string::npos) return stored;
  char* end = nullptr;
  const double value = std::strtod(stored.c_str(), &end);
  if (end != stored.c_str() + stored.size() || !std::isfinite(value) || value != std::floor(value) ||
      std::fabs(value) >= 1e15) {
    return stored;
  }
  return std::to_string(static_cast<long long>(value));
}

}  // namespace

ListTable ReadWorkbookSheet(const std::string& path) {
  int error = 0;
  ZipArchive archive(zip_open(path.c_str(), ZIP_RDONLY, &error));
  if (!archive) {
    zip_error_t reason;
    zip_error_init_with_code(&reason, error);
    const std::string text = zip_error_strerror(&reason);
    zip_error_fini(&reason);
    RaiseUnreadable(path, text);
  }
  const std::string sheetPart = FirstSheetPart(archive.get(), path);
  const std::vector<std::string> shared = SharedStrings(archive.get(), path);
  const auto sheet = ReadPart(archive.get(), sheetPart, path);
  if (!sheet) RaiseUnreadable(path, sheetPart + " mancante");

  ListTable table;
  table.form.kind = ListTableForm::Kind::Workbook;
  table.form.separator = ';';
  std::optional<ListRecord> row;
  std::string cellType;
  std::size_t cellColumn = 0;
  std::string value;
  bool inValue = false;
  bool hasValue = false;
  const auto finishRow = [&] {
    if (!row) return;
    bool blank = true;
    for (std::size_t i = 0; i < row->cells.size(); ++i) {
      if (!row->cells[i].empty()) blank = false;
      row->raw += (i ? ";" : "") + CsvField(row->cells[i], ';');
    }
    if (!blank) table.records.push_back(std::move(*row));
    row.reset();
  };
  XmlHandlers handlers;
  handlers.start = [&](std::string_view name, const char** attributes) {
    if (name == "row") {
      finishRow();
      const char* number = Attribute(attributes, "r");
      row.emplace();
      row->line = number ? std::atoll(number) : (table.records.empty() ? 1 : table.records.back().line + 1);
    } else if (name == "c" && row) {
      const char* type = Attribute(attributes, "t");
      cellType = type ? type : "n";
      cellColumn = ColumnOf(Attribute(attributes, "r")).value_or(row->cells.size());
      value.clear();
      hasValue = false;
    } else if ((name == "v" || name == "t") && row) {
      inValue = true;
      hasValue = true;
    }
  };
  handlers.end = [&](std::string_view name) {
    if (name == "v" || name == "t") inValue = false;
    if (name == "c" && row && hasValue) {
      std::string text = value;
      if (cellType == "s") {
        std::size_t index = 0;
        const auto [end, failure] = std::from_chars(value.data(), value.data() + value.size(), index);
        text =
            failure == std::errc() && end == value.data() + value.size() && index < shared.size() ? shared[index] : "";
      } else if (cellType == "n") {
        text = NumberText(value);
      }
      if (row->cells.size() <= cellColumn) row->cells.resize(cellColumn + 1);
      row->cells[cellColumn] = std::move(text);
    }
    if (name == "row") finishRow();
  };
  handlers.text = [&](std::string_view text) {
    if (inValue) value += text;
  };
  ParseXml(*sheet, handlers, sheetPart, path);
  finishRow();
  return table;
}

}  // namespace korvane
