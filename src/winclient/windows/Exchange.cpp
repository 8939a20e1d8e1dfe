#include "Exchange.h"

// clang-format off
#include <windows.h>
#include <winhttp.h>
#include <wincrypt.h>
// clang-format on

#include <memory>
#include <optional>

#include "Crypto.h"
#include "System.h"
#include "winclient/ClientError.h"
#include "winclient/Request.h"
#include "winclient/Text.h"

#ifndef KORVANE_VERSION
#define KORVANE_VERSION "0"
#endif

namespace korvane::winclient {

namespace {

constexpr int kResolveMilliseconds = 15'000;
constexpr int kConnectMilliseconds = 15'000;
constexpr int kSendMilliseconds = 30'000;
// An import's output is one message; --help's is a page.
constexpr std::size_t kMaxAnswerBytes = 1024 * 1024;

struct InternetCloser {
  void operator()(HINTERNET handle) const { WinHttpCloseHandle(handle); }
};
using Internet = std::unique_ptr<void, InternetCloser>;

[[noreturn]] void RaiseSystemFailure(const char* call) {
  throw ClientError(std::string("Errore interno di korvane.exe (") + call + ", errore " +
                    std::to_string(GetLastError()) + "): nessuna importazione eseguita");
}

void SetNumber(HINTERNET handle, DWORD option, DWORD value, const char* call) {
  if (!WinHttpSetOption(handle, option, &value, sizeof(value))) RaiseSystemFailure(call);
}

// What went wrong before the body left: nothing can have run.
Failure FailureBeforeSending(DWORD error) {
  switch (error) {
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
    case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
    case ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED: return Failure::kSecureChannel;
    case ERROR_WINHTTP_TIMEOUT: return Failure::kNotAnswering;
    default: return Failure::kNotReached;
  }
}

// What went wrong once the body may have left: the service may have run the import. Some HTTP
// stacks report the end of the wait as a broken connection, so the time waited tells as well.
Failure FailureAfterSending(DWORD error, ULONGLONG waitStart, const DesktopSettings& settings) {
  const ULONGLONG waited = GetTickCount64() - waitStart;
  const bool waitOver = waited + 250 >= static_cast<ULONGLONG>(settings.waitSeconds) * 1000;
  return error == ERROR_WINHTTP_TIMEOUT || waitOver ? Failure::kNoAnswer : Failure::kConnectionLost;
}

// The certificate the server showed is the one the pin names: the SHA-256 of its DER encoding.
std::optional<Failure> CheckPin(HINTERNET request, const Digest& pin) {
  PCCERT_CONTEXT certificate = nullptr;
  DWORD size = sizeof(certificate);
  if (!WinHttpQueryOption(request, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &certificate, &size) || certificate == nullptr) {
    return Failure::kSecureChannel;
  }
  const std::string digest =
      Sha256(std::string_view(reinterpret_cast<const char*>(certificate->pbCertEncoded), certificate->cbCertEncoded));
  CertFreeCertificateContext(certificate);
  if (digest != std::string_view(reinterpret_cast<const char*>(pin.data()), pin.size())) return Failure::kPinMismatch;
  return std::nullopt;
}

std::optional<std::string> QueryHeader(HINTERNET request, DWORD info, const wchar_t* name) {
  DWORD size = 0;
  WinHttpQueryHeaders(request, info, name, WINHTTP_NO_OUTPUT_BUFFER, &size, WINHTTP_NO_HEADER_INDEX);
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) return std::nullopt;
  std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
  size = static_cast<DWORD>(value.size() * sizeof(wchar_t));
  if (!WinHttpQueryHeaders(request, info, name, value.data(), &size, WINHTTP_NO_HEADER_INDEX)) return std::nullopt;
  value.resize(size / sizeof(wchar_t));
  return WideToUtf8(value);
}

// The request's header lines, signed with the desktop's key.
std::wstring SignedHeaders(const DesktopSettings& settings, const std::string& body) {
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  const ULONGLONG ticks = (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  // 100-ns ticks since 1601 to seconds since 1970.
  const std::string time = std::to_string((ticks - 116'444'736'000'000'000ULL) / 10'000'000ULL);
  const std::string nonce = LowerHex(RandomBytes(16));
  const std::string signingText = SigningText(time, nonce, LowerHex(Sha256(body)));
  const std::string key(reinterpret_cast<const char*>(settings.key.data()), settings.key.size());
  const std::string signature = LowerHex(HmacSha256(key, signingText));
  return Utf8ToWide(RequestHeaders(settings.keyName, time, nonce, signature));
}

}  // namespace

std::variant<ServiceAnswer, Failure> Exchange(const DesktopSettings& settings, const std::string& body) {
  const std::wstring headers = SignedHeaders(settings, body);

  const Internet session(WinHttpOpen(L"korvane.exe/" KORVANE_VERSION, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                     WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session) RaiseSystemFailure("WinHttpOpen");
  // Every read waits as long as the answer may take: an import's answer comes when it has ended.
  const int waitMilliseconds = settings.waitSeconds * 1000;
  if (!WinHttpSetTimeouts(session.get(), kResolveMilliseconds, kConnectMilliseconds, kSendMilliseconds,
                          waitMilliseconds)) {
    RaiseSystemFailure("WinHttpSetTimeouts");
  }
  // TLS 1.2 and 1.3; a system that does not know 1.3 refuses the pair and gets 1.2 alone.
  DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
  if (!WinHttpSetOption(session.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof(protocols))) {
    SetNumber(session.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2,
              "WINHTTP_OPTION_SECURE_PROTOCOLS");
  }
  // A redirect would send the body somewhere else.
  SetNumber(session.get(), WINHTTP_OPTION_REDIRECT_POLICY, WINHTTP_OPTION_REDIRECT_POLICY_NEVER,
            "WINHTTP_OPTION_REDIRECT_POLICY");

  const Internet connection(WinHttpConnect(session.get(), Utf8ToWide(settings.host).c_str(), settings.port, 0));
  if (!connection) RaiseSystemFailure("WinHttpConnect");
  const std::wstring path = Utf8ToWide(kImportPath);
  const Internet request(WinHttpOpenRequest(connection.get(), L"POST", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                            WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
  if (!request) RaiseSystemFailure("WinHttpOpenRequest");
  SetNumber(request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, static_cast<DWORD>(waitMilliseconds),
            "WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT");
  if (settings.pin) {
    // The pin is the anchor: the certificate's name, dates and issuer need not be known to Windows.
    SetNumber(request.get(), WINHTTP_OPTION_SECURITY_FLAGS,
              SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID |
                  SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE,
              "WINHTTP_OPTION_SECURITY_FLAGS");
  }

  // The headers first, with no body: they carry no secret (the signature is of this request
  // alone), and the body leaves only once the server's certificate has been checked.
  if (!WinHttpSendRequest(request.get(), headers.c_str(), static_cast<DWORD>(headers.size()), WINHTTP_NO_REQUEST_DATA,
                          0, static_cast<DWORD>(body.size()), 0)) {
    return FailureBeforeSending(GetLastError());
  }
  if (settings.pin) {
    if (const std::optional<Failure> failure = CheckPin(request.get(), *settings.pin)) return *failure;
  }
  const ULONGLONG waitStart = GetTickCount64();
  if (!body.empty()) {
    DWORD written = 0;
    if (!WinHttpWriteData(request.get(), body.data(), static_cast<DWORD>(body.size()), &written) ||
        written != body.size()) {
      return Failure::kConnectionLost;
    }
  }
  if (!WinHttpReceiveResponse(request.get(), nullptr)) {
    return FailureAfterSending(GetLastError(), waitStart, settings);
  }

  ServiceAnswer answer;
  DWORD status = 0;
  DWORD size = sizeof(status);
  if (!WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX)) {
    return Failure::kBadAnswer;
  }
  answer.status = status;
  answer.contentType =
      QueryHeader(request.get(), WINHTTP_QUERY_CONTENT_TYPE, WINHTTP_HEADER_NAME_BY_INDEX).value_or("");
  answer.exitHeader = QueryHeader(request.get(), WINHTTP_QUERY_CUSTOM, Utf8ToWide(protocol::kExitHeader).c_str());
  DWORD length = 0;
  size = sizeof(length);
  if (WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
                          WINHTTP_HEADER_NAME_BY_INDEX, &length, &size, WINHTTP_NO_HEADER_INDEX)) {
    answer.bodyLength = length;
  }
  char buffer[8192];
  for (;;) {
    DWORD read = 0;
    if (!WinHttpReadData(request.get(), buffer, sizeof(buffer), &read)) {
      // An import's answer cut short: it ran, and its outcome is not known here.
      if (status == 200) return FailureAfterSending(GetLastError(), waitStart, settings);
      answer.bodyComplete = false;
      break;
    }
    if (read == 0) break;
    if (answer.body.size() + read > kMaxAnswerBytes) {
      answer.bodyComplete = false;
      break;
    }
    answer.body.append(buffer, read);
  }
  return answer;
}

}  // namespace korvane::winclient
