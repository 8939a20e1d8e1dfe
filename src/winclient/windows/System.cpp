#include "System.h"

// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on

#include <memory>

#include "winclient/ClientError.h"

namespace korvane::winclient {

namespace {

// Settings files are a few lines; anything larger is not one.
constexpr DWORD kMaxSettingsFileBytes = 64 * 1024;

struct HandleCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};

std::wstring ProgramPath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

std::string ConvertFromWide(std::wstring_view wide, UINT codePage) {
  if (wide.empty()) return {};
  const int size =
      WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string text(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), text.data(), size, nullptr, nullptr);
  return text;
}

}  // namespace

std::wstring Utf8ToWide(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  if (size <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), size);
  return wide;
}

std::string WideToUtf8(std::wstring_view wide) { return ConvertFromWide(wide, CP_UTF8); }

std::vector<std::string> CommandLineArguments() {
  int count = 0;
  LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> result;
  if (arguments == nullptr) return result;
  for (int i = 1; i < count; ++i) result.push_back(WideToUtf8(arguments[i]));
  LocalFree(arguments);
  return result;
}

std::optional<std::string> EnvironmentVariable(const char* name) {
  const std::wstring wideName = Utf8ToWide(name);
  std::wstring value(256, L'\0');
  for (;;) {
    SetLastError(ERROR_SUCCESS);
    const DWORD length = GetEnvironmentVariableW(wideName.c_str(), value.data(), static_cast<DWORD>(value.size()));
    if (length == 0) {
      if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
      return std::string();
    }
    if (length < value.size()) {
      value.resize(length);
      return WideToUtf8(value);
    }
    value.resize(length);
  }
}

std::optional<std::string> ReadFileBesideProgram(std::wstring_view name) {
  std::wstring path = ProgramPath();
  path.resize(path.find_last_of(L"\\/") == std::wstring::npos ? 0 : path.find_last_of(L"\\/") + 1);
  path += name;
  const HANDLE raw = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
  if (raw == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return std::nullopt;
    throw ClientError("Impostazioni non leggibili (" + WideToUtf8(path) + "): nessuna importazione eseguita");
  }
  const std::unique_ptr<void, HandleCloser> file(raw);
  std::string bytes(kMaxSettingsFileBytes + 1, '\0');
  DWORD total = 0;
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(raw, bytes.data() + total, static_cast<DWORD>(bytes.size()) - total, &read, nullptr)) {
      throw ClientError("Impostazioni non leggibili (" + WideToUtf8(path) + "): nessuna importazione eseguita");
    }
    if (read == 0) break;
    total += read;
    if (total > kMaxSettingsFileBytes) {
      throw ClientError("Impostazioni non leggibili (" + WideToUtf8(path) + ": più di 64 KiB)" +
                        ": nessuna importazione eseguita");
    }
  }
  bytes.resize(total);
  return bytes;
}

bool WriteStandardOutput(std::string_view utf8) {
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (output == nullptr || output == INVALID_HANDLE_VALUE) return false;
  DWORD mode = 0;
  const UINT codePage = GetConsoleMode(output, &mode) ? GetConsoleOutputCP() : GetACP();
  const std::string bytes = ConvertFromWide(Utf8ToWide(utf8), codePage);
  DWORD offset = 0;
  while (offset < bytes.size()) {
    DWORD written = 0;
    if (!WriteFile(output, bytes.data() + offset, static_cast<DWORD>(bytes.size()) - offset, &written, nullptr) ||
        written == 0) {
      return false;
    }
    offset += written;
  }
  return true;
}

}  // namespace korvane::winclient
