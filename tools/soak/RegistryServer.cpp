#include "RegistryServer.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include "certificates/CertificateAuthority.h"

namespace korvane::soak {

namespace certificates = korvane::certificates;

std::string RunTag(int run) { return "Soak run " + std::to_string(run); }

namespace {

// How long the server waits for a client that says nothing: longer than any bound of the
// program's, so that the program's own bounds are what ends an exchange.
constexpr int kQuietLimitSeconds = 75;

certificates::SslContextPtr ServerContext(const certificates::Identity& identity) {
  certificates::SslContextPtr context(SSL_CTX_new(TLS_server_method()));
  if (!context || !certificates::UseIdentity(context.get(), identity)) {
    throw std::runtime_error("cannot make a TLS server context");
  }
  return context;
}

void CloseSocket(int socket, bool reset) {
  if (reset) {
    linger hard{1, 0};
    setsockopt(socket, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  }
  ::close(socket);
}

// Waits up to `milliseconds` for the client to go away; true when it did.
bool ClientLeavesWithin(int socket, int milliseconds) {
  pollfd watched{socket, POLLRDHUP, 0};
  return ::poll(&watched, 1, milliseconds) > 0;
}

const char* StatusText(int status) {
  switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 402: return "Payment Required";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 406: return "Not Acceptable";
    case 429: return "Too Many Requests";
    case 500: return "Internal Server Error";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
  }
  return "Unknown";
}

std::string Head(int status, const std::string& type, std::size_t length) {
  return "HTTP/1.1 " + std::to_string(status) + " " + StatusText(status) + "\r\nContent-Type: " + type +
         "\r\nContent-Length: " + std::to_string(length) + "\r\nConnection: close\r\n\r\n";
}

std::string Response(int status, const std::string& type, const std::string& body) {
  return Head(status, type, body.size()) + body;
}

// The company of the run's answer, in the format its address asks for.
std::string CompanyBody(const RunPlan& run, const std::string& success) {
  const PoolNumber& number = VatPool()[static_cast<std::size_t>(run.vat)];
  const std::string status = number.ceased ? "CESSATA" : "ATTIVA";
  if (run.successorFormat) {
    return "{\"data\":[{\"taxCode\":\"" + number.digits + "\",\"companyName\":\"" + RunTag(run.index) +
           "\",\"vatCode\":\"" + number.digits +
           "\",\"address\":{\"registeredOffice\":{\"streetNumber\":\"12\",\"streetName\":\"VIA ROMA 12\","
           "\"town\":\"MILANO\",\"province\":\"MI\",\"zipCode\":\"20121\"}},\"activityStatus\":\"" +
           status + "\"}],\"success\":" + success + ",\"message\":\"\",\"error\":null}";
  }
  return "{\"success\":" + success + ",\"message\":\"\",\"data\":{\"cf\":\"" + number.digits +
         "\",\"denominazione\":\"" + RunTag(run.index) +
         "\",\"indirizzo\":\"Via Roma 12\",\"civico\":\"12\",\"comune\":\"Milano\",\"provincia\":\"MI\","
         "\"cap\":\"20121\",\"stato_attivita\":\"" +
         status + "\"}}";
}

std::string ChunkedResponse(const std::string& body) {
  std::string response = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nTransfer-Encoding: chunked\r\n\r\n";
  const std::size_t half = body.size() / 2;
  for (const std::string& piece : {body.substr(0, half), body.substr(half)}) {
    char size[20];
    std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
    response += size + piece + "\r\n";
  }
  return response + "0\r\n\r\n";
}

// The bytes a garbage answer sends, and whether the connection is then cut at once.
std::string GarbageAnswer(const RunPlan& run) {
  switch (run.fault.variant) {
    case 0: {
      Random random(static_cast<std::uint64_t>(run.index));
      std::string bytes;
      for (int i = 0; i < 300; ++i) bytes += static_cast<char>(random.Below(256));
      return bytes;
    }
    case 1:
      return Response(200, "text/html", "<html><body><h1>Servizio temporaneamente non disponibile</h1></body></html>");
    case 2: {
      const std::string body = CompanyBody(run, "true");
      return Head(200, "application/json", body.size()) + body.substr(0, body.size() / 2);
    }
    case 3: return Response(200, "application/json", "{\"success\":false,\"message\":\"Soak\",\"data\":null}");
    case 4: return "HTTP/1.1 2x0 OK\r\nContent-Length: 2\r\n\r\n{}";
    case 5: return "HTTP/1.1 200 OK\r\nContent-Ty";
    case 6:
      return "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n{}\r\n";
    default: return Response(200, "application/json", CompanyBody(run, "\"yes\""));
  }
}

std::string ErrorAnswer(const RunPlan& run) {
  const int status = run.fault.status;
  if (run.fault.variant == 0) {
    return Response(
        status, "application/json",
        "{\"success\":false,\"message\":\"Soak error\",\"error\":" + std::to_string(status) + ",\"data\":null}");
  }
  return Response(status, "text/html",
                  "<html><head><title>" + std::to_string(status) + "</title></head><body>nginx</body></html>");
}

bool WriteAll(SSL* ssl, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const int n = SSL_write(ssl, bytes.data() + done, static_cast<int>(bytes.size() - done));
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// The run index in a request's bearer token "soak-<index>", or -1.
int TokenRun(const std::string& head) {
  const std::string marker = "\r\nAuthorization: Bearer soak-";
  const std::size_t at = head.find(marker);
  if (at == std::string::npos) return -1;
  return std::atoi(head.c_str() + at + marker.size());
}

}  // namespace

RegistryServer::RegistryServer(const std::string& caFile, int slots) : slots_(static_cast<std::size_t>(slots)) {
  const certificates::CertificateAuthority authority("korvane soak registry CA");
  const certificates::CertificateAuthority stranger("korvane soak stranger CA");
  const std::string names = "DNS:localhost,IP:127.0.0.1";
  trusted_ = ServerContext(authority.IssueServer("localhost", names));
  stranger_ = ServerContext(stranger.IssueServer("localhost", names));
  wrongName_ = ServerContext(authority.IssueServer("elsewhere.invalid", "DNS:elsewhere.invalid"));
  std::ofstream out(caFile, std::ios::binary | std::ios::trunc);
  out << authority.CertificatePem();
  if (!out.flush()) throw std::runtime_error("cannot write " + caFile);
  for (int i = 0; i < slots; ++i) listeners_.emplace_back(0, 64);
  if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("pipe failed");
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

RegistryServer::~RegistryServer() {
  stop_ = true;
  const char byte = 0;
  if (write(wake_[1], &byte, 1) < 0) {
    // The loop also wakes on its own every second.
  }
  acceptor_.join();
  {
    // Whatever a worker still waits on ends now.
    const std::lock_guard lock(mutex_);
    for (const int socket : liveSockets_) ::shutdown(socket, SHUT_RDWR);
  }
  ReapWorkers(true);
  close(wake_[0]);
  close(wake_[1]);
}

void RegistryServer::Assign(int slot, const RunPlan* run) {
  const std::lock_guard lock(mutex_);
  slots_[static_cast<std::size_t>(slot)] = run ? std::optional<RunPlan>(*run) : std::nullopt;
  if (run) logs_[run->index];
}

RegistryLog RegistryServer::Log(int run) const {
  const std::lock_guard lock(mutex_);
  const auto found = logs_.find(run);
  return found == logs_.end() ? RegistryLog{} : found->second;
}

void RegistryServer::Note(int run, const std::function<void(RegistryLog&)>& change) {
  const std::lock_guard lock(mutex_);
  change(logs_[run]);
}

void RegistryServer::ReapWorkers(bool all) {
  for (auto worker = workers_.begin(); worker != workers_.end();) {
    if (all || *worker->done) {
      worker->thread.join();
      worker = workers_.erase(worker);
    } else {
      ++worker;
    }
  }
}

void RegistryServer::AcceptLoop() {
  while (!stop_) {
    std::vector<pollfd> watched{{wake_[0], POLLIN, 0}};
    for (const auto& listener : listeners_) watched.push_back({listener.Handle(), POLLIN, 0});
    ReapWorkers(false);
    if (::poll(watched.data(), watched.size(), 1000) <= 0) continue;
    for (std::size_t slot = 0; slot < listeners_.size(); ++slot) {
      if (watched[slot + 1].revents == 0) continue;
      const int socket = ::accept4(listeners_[slot].Handle(), nullptr, nullptr, SOCK_CLOEXEC);
      if (socket < 0) continue;
      std::optional<RunPlan> run;
      int connection = 0;
      {
        const std::lock_guard lock(mutex_);
        run = slots_[slot];
        if (run) {
          connection = ++logs_[run->index].connections;
          liveSockets_.insert(socket);
        }
      }
      if (!run) {
        ::close(socket);
        continue;
      }
      auto done = std::make_shared<std::atomic<bool>>(false);
      workers_.push_back({std::thread([this, socket, run = *run, connection, done] {
                            Serve(socket, run, connection);
                            *done = true;
                          }),
                          done});
    }
  }
}

void RegistryServer::Serve(int socket, const RunPlan& run, int connection) {
  const int on = 1;
  setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  timeval limit{kQuietLimitSeconds, 0};
  setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  bool reset = false;
  if (run.fault.kind == FaultKind::RegistryRefuse) {
    reset = run.fault.reset;
  } else if (run.fault.kind == FaultKind::RegistryHandshake && run.fault.variant == 0) {
    const std::string garbage = "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n";
    (void)::send(socket, garbage.data(), garbage.size(), MSG_NOSIGNAL);
    ClientLeavesWithin(socket, 2000);
  } else if (run.fault.kind == FaultKind::RegistryHandshake && run.fault.variant == 1) {
    char hello[512];
    (void)::recv(socket, hello, sizeof hello, 0);
  } else {
    ServeTls(socket, run, connection);
    reset = run.fault.kind == FaultKind::RegistryNoAnswer && run.fault.reset;
  }
  {
    const std::lock_guard lock(mutex_);
    liveSockets_.erase(socket);
  }
  CloseSocket(socket, reset);
}

void RegistryServer::ServeTls(int socket, const RunPlan& run, int connection) {
  const Fault& fault = run.fault;
  SSL_CTX* context = trusted_.get();
  if (fault.kind == FaultKind::RegistryHandshake) context = fault.variant == 2 ? stranger_.get() : wrongName_.get();
  certificates::SslPtr ssl(SSL_new(context));
  SSL_set_fd(ssl.get(), socket);
  const bool shook = SSL_accept(ssl.get()) == 1;
  ERR_clear_error();
  if (!shook) return;
  Note(run.index, [](RegistryLog& log) { ++log.handshakes; });
  if (fault.kind == FaultKind::RegistryDropIdle && connection == 1) {
    SSL_shutdown(ssl.get());
    return;
  }

  std::string head;
  char buffer[4096];
  while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
    const int n = SSL_read(ssl.get(), buffer, sizeof buffer);
    if (n <= 0) {
      ERR_clear_error();
      return;
    }
    head.append(buffer, static_cast<std::size_t>(n));
    Note(run.index, [n](RegistryLog& log) { log.requestBytes += static_cast<std::size_t>(n); });
  }
  if (head.find("\r\n\r\n") == std::string::npos) return;
  const int tokenRun = TokenRun(head);
  Note(run.index, [&](RegistryLog& log) {
    ++log.requests;
    if (tokenRun != run.index) log.strayToken = head.substr(0, head.find("\r\n"));
  });

  std::string answer;
  switch (fault.kind) {
    case FaultKind::RegistryNoAnswer: return;
    case FaultKind::RegistryHang: ClientLeavesWithin(socket, kQuietLimitSeconds * 1000); return;
    case FaultKind::RegistryStall:
      if (ClientLeavesWithin(socket, fault.delayMs)) return;
      break;
    case FaultKind::RegistryGarbage: answer = GarbageAnswer(run); break;
    case FaultKind::RegistryHttpError: answer = ErrorAnswer(run); break;
    default: break;
  }
  if (answer.empty()) {
    const std::string body = CompanyBody(run, "true");
    answer = run.chunkedAnswer ? ChunkedResponse(body) : Response(200, "application/json", body);
  }
  Note(run.index, [](RegistryLog& log) {
    if (!log.answerAt) log.answerAt = std::chrono::steady_clock::now();
  });
  bool written = true;
  if (fault.kind == FaultKind::RegistryDrip) {
    for (std::size_t at = 0; written && at < answer.size(); at += static_cast<std::size_t>(fault.chunk)) {
      written = WriteAll(ssl.get(), answer.substr(at, static_cast<std::size_t>(fault.chunk)));
      std::this_thread::sleep_for(std::chrono::milliseconds(fault.delayMs));
    }
  } else {
    written = WriteAll(ssl.get(), answer);
  }
  ERR_clear_error();
  if (!written) return;
  Note(run.index, [](RegistryLog& log) { ++log.answers; });
  SSL_shutdown(ssl.get());
  ERR_clear_error();
}

}  // namespace korvane::soak
