// An offline stand-in for the business registry: a small HTTPS server on 127.0.0.1 that answers
// GET /base/<VAT>, GET /IT-start/<VAT> and GET /IT-advanced/<VAT> from a data folder, each in its
// own format. It makes its own certificate authority and server certificate at start and writes
// the authority's certificate to a PEM file, so that a client can trust it through SSL_CERT_FILE.
//
//   registry-simulator --data DIR --ca-out FILE [--port N] [--port-file FILE] [--max-requests N]
//                      [--delay-ms N] [--wrong-token TOKEN]... [--outcomes FILE] [--credit N]
//
// Each connection is served in a thread of its own; --delay-ms holds every answer that long after
// its request has arrived, as a registry that takes its time does (for benchmarks of runs at the
// same time).
//
// The answers are files of the data folder, sent as they are: DIR/<VAT>.json for /base,
// DIR/IT-start/<VAT>.json and DIR/IT-advanced/<VAT>.json for the successor endpoints. They go out
// as 200 with application/json (no charset parameter, as the real service sends them).
//
// Every other outcome comes in the format of the endpoint asked, with the provider's error codes
// (successor / base) and statuses:
//   no bearer token                                    401
//   a token given with --wrong-token (one per option)  401, as a wrong or expired token gets it
//   no VAT number                                      400, error 300 / 200
//   VAT 00000000400                                    400, error 300 / 200
//   VAT 00000000402 (no credit left)                   402, error 610 / 202
//   a VAT number without a file                        404, error 302 / 203
//   VAT 00000000406, or one not made of 0-9 and A-Z    406, error 301 / 201
//   any other path                                     404
//
// --outcomes FILE gives numbers outcomes of their own, a line each ("#" starts a comment):
//   <VAT> <status> [retry-after=SECONDS] [times=N]
// e.g. "12485671007 429 retry-after=1 times=2": the first two requests for the number get 429
// with Retry-After: 1, the later ones their usual answer (without times=, every request). The
// statuses 400, 402, 404 and 406 come as above; 401, 429 and 5xx with a short JSON body.
// --credit N: after N answers with 200, every later request gets 402, as a wallet that runs dry.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "certificates/CertificateAuthority.h"
#include "certificates/OpenSslHandles.h"
#include "loopback/Loopback.h"

namespace {

namespace certificates = korvane::certificates;
namespace loopback = korvane::loopback;

using certificates::SslContextPtr;
using certificates::SslPtr;

[[noreturn]] void Fail(const std::string& what) {
  std::cerr << "registry-simulator: " << what << '\n';
  ERR_print_errors_fp(stderr);
  std::exit(2);
}

std::string ReadFile(const std::string& path, bool& found) {
  std::ifstream in(path, std::ios::binary);
  found = static_cast<bool>(in);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::string Response(const std::string& status, const std::string& body, const std::string& extraHeaders = "") {
  return "HTTP/1.1 " + status + "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\n" + extraHeaders + "Connection: close\r\n\r\n" + body;
}

// An endpoint of the registry: the path before the VAT number and the data subfolder it reads.
struct Endpoint {
  const char* prefix;
  const char* folder;
  bool successor;
};

constexpr Endpoint kEndpoints[] = {
    {"/base/", "", false},
    {"/IT-start/", "/IT-start", true},
    {"/IT-advanced/", "/IT-advanced", true},
};

// A documented failure, with its error code in the successor's format and in /base.
struct Failure {
  const char* status;
  int successorError;
  int baseError;
  const char* message;
};

constexpr Failure kVatRequired{"400 Bad Request", 300, 200, "Id, taxCode or vatCode required"};
constexpr Failure kNoCredit{"402 Payment Required", 610, 202,
                            "Billing error message: Insufficient Credit in Wallet: ..."};
constexpr Failure kNoCompany{"404 Not Found", 302, 203, "no company matches this id: "};
constexpr Failure kVatNotValid{"406 Not Acceptable", 301, 201, "taxCode/vatCode/id not valid"};

std::string FailureResponse(const Failure& failure, const Endpoint& endpoint) {
  const int error = endpoint.successor ? failure.successorError : failure.baseError;
  return Response(failure.status, std::string("{\"success\":false,\"message\":\"") + failure.message +
                                      "\",\"error\":" + std::to_string(error) + ",\"data\":null}");
}

// The bearer token of a request head; nothing when there is none.
std::optional<std::string> BearerToken(const std::string& head) {
  const std::string field = "\r\nAuthorization: Bearer ";
  const std::size_t start = head.find(field);
  if (start == std::string::npos) return std::nullopt;
  const std::size_t value = start + field.size();
  return head.substr(value, head.find("\r\n", value) - value);
}

// An outcome of its own for one number (--outcomes).
struct ForcedOutcome {
  int status = 0;
  int retryAfter = -1;  // seconds; none when negative
  long times = -1;      // requests it holds for; every one when negative
};

// What the options ask beyond the data folder, shared by the connections' threads.
struct Behaviour {
  std::vector<std::string> wrongTokens;
  std::map<std::string, ForcedOutcome> forced;
  long credit = -1;  // answers with 200 still paid for; no limit when negative
  std::mutex lock;
};

std::map<std::string, ForcedOutcome> ReadOutcomes(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::map<std::string, ForcedOutcome> forced;
  std::string line;
  while (std::getline(in, line)) {
    line = line.substr(0, line.find('#'));
    std::istringstream words(line);
    std::string vat;
    ForcedOutcome outcome;
    if (!(words >> vat)) continue;
    if (!(words >> outcome.status)) throw std::runtime_error("no status for " + vat + " in " + path);
    for (std::string word; words >> word;) {
      if (word.rfind("retry-after=", 0) == 0) {
        outcome.retryAfter = std::atoi(word.c_str() + 12);
      } else if (word.rfind("times=", 0) == 0) {
        outcome.times = std::atol(word.c_str() + 6);
      } else {
        throw std::runtime_error("unknown word " + word + " in " + path);
      }
    }
    forced[vat] = outcome;
  }
  return forced;
}

std::string StatusLine(int status) {
  switch (status) {
    case 401: return "401 Unauthorized";
    case 429: return "429 Too Many Requests";
    case 500: return "500 Internal Server Error";
    case 502: return "502 Bad Gateway";
    case 503: return "503 Service Unavailable";
    case 504: return "504 Gateway Timeout";
    default: return std::to_string(status) + " Error";
  }
}

// The answer for one request head.
std::string Answer(const std::string& head, const std::string& dataFolder, Behaviour& behaviour) {
  const std::vector<std::string>& wrongTokens = behaviour.wrongTokens;
  const Endpoint* endpoint = nullptr;
  std::string target;
  if (head.compare(0, 4, "GET ") == 0) {
    target = head.substr(4, head.find_first_of(" \r", 4) - 4);
    for (const Endpoint& candidate : kEndpoints) {
      if (target.compare(0, std::strlen(candidate.prefix), candidate.prefix) == 0) endpoint = &candidate;
    }
  }
  if (!endpoint) return Response("404 Not Found", "{\"success\":false,\"message\":\"no such endpoint\"}");
  const std::optional<std::string> token = BearerToken(head);
  if (!token) return Response("401 Unauthorized", "{\"success\":false,\"message\":\"missing token\"}");
  if (std::find(wrongTokens.begin(), wrongTokens.end(), *token) != wrongTokens.end()) {
    return Response("401 Unauthorized", "{\"success\":false,\"message\":\"invalid or expired token\"}");
  }
  const std::string vat = target.substr(std::strlen(endpoint->prefix));
  std::optional<ForcedOutcome> forced;
  {
    const std::lock_guard<std::mutex> guard(behaviour.lock);
    if (auto found = behaviour.forced.find(vat); found != behaviour.forced.end() && found->second.times != 0) {
      forced = found->second;
      if (found->second.times > 0) --found->second.times;
    }
  }
  if (forced) {
    switch (forced->status) {
      case 400: return FailureResponse(kVatRequired, *endpoint);
      case 402: return FailureResponse(kNoCredit, *endpoint);
      case 404: return FailureResponse(kNoCompany, *endpoint);
      case 406: return FailureResponse(kVatNotValid, *endpoint);
      default:
        return Response(StatusLine(forced->status), "{\"success\":false,\"message\":\"simulated\"}",
                        forced->retryAfter >= 0 ? "Retry-After: " + std::to_string(forced->retryAfter) + "\r\n" : "");
    }
  }
  if (vat.empty() || vat == "00000000400") return FailureResponse(kVatRequired, *endpoint);
  if (vat == "00000000402") return FailureResponse(kNoCredit, *endpoint);
  if (vat == "00000000406" || vat.find_first_not_of("0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ") != std::string::npos) {
    return FailureResponse(kVatNotValid, *endpoint);
  }
  bool found = false;
  const std::string body = ReadFile(dataFolder + endpoint->folder + "/" + vat + ".json", found);
  if (!found) return FailureResponse(kNoCompany, *endpoint);
  {
    const std::lock_guard<std::mutex> guard(behaviour.lock);
    if (behaviour.credit == 0) return FailureResponse(kNoCredit, *endpoint);
    if (behaviour.credit > 0) --behaviour.credit;
  }
  return Response("200 OK", body);
}

void Serve(SSL_CTX* context, int client, const std::string& dataFolder, Behaviour& behaviour, int delayMs) {
  timeval limit{10, 0};
  setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  setsockopt(client, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  SslPtr ssl(SSL_new(context));
  SSL_set_fd(ssl.get(), client);
  if (SSL_accept(ssl.get()) != 1) return;
  std::string head;
  char buffer[4096];
  while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
    const int n = SSL_read(ssl.get(), buffer, sizeof buffer);
    if (n <= 0) return;
    head.append(buffer, static_cast<std::size_t>(n));
  }
  const std::string answer = Answer(head, dataFolder, behaviour);
  if (delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
  SSL_write(ssl.get(), answer.data(), static_cast<int>(answer.size()));
  SSL_shutdown(ssl.get());
}

}  // namespace

int main(int argc, char** argv) {
  std::string dataFolder, caOut, portFile;
  int port = 0;
  int delayMs = 0;
  long maxRequests = -1;
  Behaviour behaviour;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    const std::string value = argv[i + 1];
    if (option == "--data")
      dataFolder = value;
    else if (option == "--ca-out")
      caOut = value;
    else if (option == "--port")
      port = std::atoi(value.c_str());
    else if (option == "--port-file")
      portFile = value;
    else if (option == "--max-requests")
      maxRequests = std::atol(value.c_str());
    else if (option == "--delay-ms")
      delayMs = std::atoi(value.c_str());
    else if (option == "--wrong-token")
      behaviour.wrongTokens.push_back(value);
    else if (option == "--outcomes") {
      try {
        behaviour.forced = ReadOutcomes(value);
      } catch (const std::runtime_error& error) {
        Fail(error.what());
      }
    } else if (option == "--credit")
      behaviour.credit = std::atol(value.c_str());
    else
      Fail("unknown option " + option);
  }
  if (dataFolder.empty() || caOut.empty()) Fail("usage: --data DIR --ca-out FILE [--port N] [--port-file FILE]");
  std::signal(SIGPIPE, SIG_IGN);

  SslContextPtr context(SSL_CTX_new(TLS_server_method()));
  if (!context) Fail("cannot make the TLS context");
  try {
    const certificates::CertificateAuthority authority("korvane registry simulator CA");
    if (!certificates::UseIdentity(context.get(), authority.IssueServer("localhost", "DNS:localhost,IP:127.0.0.1"))) {
      Fail("cannot make the TLS context");
    }
    std::ofstream out(caOut, std::ios::binary | std::ios::trunc);
    out << authority.CertificatePem();
    if (!out.flush()) Fail("cannot write " + caOut);
  } catch (const std::runtime_error& error) {
    Fail(error.what());
  }

  std::optional<loopback::Listener> listener;
  try {
    listener.emplace(port, 16);
  } catch (const std::runtime_error& error) {
    Fail(error.what());
  }
  const int boundPort = listener->Port();
  if (!portFile.empty()) {
    // Written whole under another name first, so a reader never sees half a number.
    const std::string temporary = portFile + ".tmp";
    std::ofstream(temporary) << boundPort << '\n';
    std::rename(temporary.c_str(), portFile.c_str());
  }

  // Connections still being served; the last ones are waited for before the simulator ends.
  std::mutex lock;
  std::condition_variable idle;
  int serving = 0;
  for (long served = 0; maxRequests < 0 || served < maxRequests; ++served) {
    const int client = accept(listener->Handle(), nullptr, nullptr);
    if (client < 0) continue;
    {
      const std::lock_guard<std::mutex> guard(lock);
      ++serving;
    }
    std::thread([&, client] {
      Serve(context.get(), client, dataFolder, behaviour, delayMs);
      close(client);
      const std::lock_guard<std::mutex> guard(lock);
      --serving;
      idle.notify_all();
    }).detach();
  }
  std::unique_lock<std::mutex> guard(lock);
  idle.wait(guard, [&] { return serving == 0; });
  return 0;
}
