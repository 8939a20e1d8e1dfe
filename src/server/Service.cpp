#include "server/Service.h"

#include <httplib.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <atomic>
#include <charconv>
#include <mutex>
#include <thread>

#include "server/AccessLog.h"
#include "server/ConnectionGate.h"
#include "server/Authentication.h"
#include "server/ImportRequest.h"
#include "server/ImportRunner.h"
#include "server/Refusal.h"
#include "protocol/DesktopProtocol.h"

namespace korvane::server {

namespace {

using SteadyClock = std::chrono::steady_clock;

using protocol::kImportPath;
// TLS 1.2: forward-secret AEAD suites only (TLS 1.3 has no other).
constexpr const char* kTls12Ciphers = "ECDHE+AESGCM:ECDHE+CHACHA20";
// Threads beyond the imports and their queue, for the requests refused at once.
constexpr std::size_t kSpareThreads = 4;

std::string OpenSslError() {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return "errore sconosciuto";
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return text;
}

// The header's value, or "" when it is missing or given more than once.
std::string OneHeader(const httplib::Request& request, std::string_view name) {
  const std::string key(name);
  return request.get_header_value_count(key.c_str()) == 1 ? request.get_header_value(key.c_str()) : std::string();
}

std::int64_t UnixNow() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// What one request has done so far, for its access-log line. A connection carries one request
// and is served by one thread from start to end.
struct RequestState {
  const httplib::Request* request = nullptr;
  bool logged = false;
  SteadyClock::time_point start;
  AccessRecord record;
};
thread_local RequestState requestState;

// The library's pool, telling the gate when each connection it served has ended.
class GatedPool : public httplib::TaskQueue {
 public:
  GatedPool(std::size_t threads, ConnectionGate& gate) : pool_(threads), gate_(gate) {}
  void enqueue(std::function<void()> connection) override {
    pool_.enqueue([this, connection = std::move(connection)] {
      connection();
      gate_.Left();
    });
  }
  void shutdown() override { pool_.shutdown(); }

 private:
  httplib::ThreadPool pool_;
  ConnectionGate& gate_;
};

// Called by the TLS library on the serving thread; the handshake's start is the first moment the
// socket is seen, before anything is read from it.
void HandshakeEvents(const SSL* ssl, int where, int) {
  if ((where & SSL_CB_HANDSHAKE_START) == 0 || SSL_get_app_data(ssl) != nullptr) return;
  auto* gate = static_cast<ConnectionGate*>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl)));
  // Marked, so that a later handshake message of the same connection is not a new connection.
  SSL_set_app_data(const_cast<SSL*>(ssl), gate);
  gate->Admit(SSL_get_fd(ssl));
}

void Answer(httplib::Response& response, const Refusal& refusal) {
  response.status = refusal.Status();
  response.set_content(refusal.Message(), std::string(protocol::kRefusalType));
}

}  // namespace

struct Service::Impl {
  Impl(Settings settingsIn, LogSink logIn)
      : settings(std::move(settingsIn)),
        log(std::move(logIn)),
        gate(settings.connections, settings.allowedClients,
             [this](const std::string& client, const std::string& note) { LogDrop(client, note); }),
        server([this](SSL_CTX& context) { return SetUpTls(context); }),
        queue(settings.maxRunning, settings.queueLength, settings.queueWait),
        runner(settings.program, settings.importerEnvironment, settings.importLimit),
        nonces(settings.stateFolder.empty() ? std::string() : settings.stateFolder + "/" + kNonceFileName, UnixNow()) {}

  bool SetUpTls(SSL_CTX& context) {
    SSL_CTX_set_app_data(&context, &gate);
    SSL_CTX_set_info_callback(&context, HandshakeEvents);
    SSL_CTX_set_min_proto_version(&context, TLS1_2_VERSION);
    SSL_CTX_set_options(&context, SSL_OP_NO_RENEGOTIATION | SSL_OP_CIPHER_SERVER_PREFERENCE | SSL_OP_NO_COMPRESSION);
    if (SSL_CTX_set_cipher_list(&context, kTls12Ciphers) != 1) {
      tlsError = "Cifrari TLS non disponibili: " + OpenSslError();
      return false;
    }
    if (SSL_CTX_use_certificate_chain_file(&context, settings.certificate.c_str()) != 1) {
      tlsError = "Certificato " + settings.certificate + " non leggibile: " + OpenSslError();
      return false;
    }
    if (SSL_CTX_use_PrivateKey_file(&context, settings.privateKey.c_str(), SSL_FILETYPE_PEM) != 1) {
      tlsError = "Chiave privata " + settings.privateKey + " non leggibile: " + OpenSslError();
      return false;
    }
    if (SSL_CTX_check_private_key(&context) != 1) {
      tlsError = "La chiave privata " + settings.privateKey + " non corrisponde al certificato " + settings.certificate;
      return false;
    }
    return true;
  }

  void Begin(const httplib::Request& request) {
    requestState = {};
    requestState.request = &request;
    requestState.start = SteadyClock::now();
    requestState.record.time = std::chrono::system_clock::now();
    requestState.record.client = request.remote_addr;
  }

  // A connection the gate dropped: no request was read from it.
  void LogDrop(const std::string& client, const std::string& note) {
    AccessRecord record;
    record.time = std::chrono::system_clock::now();
    record.client = client;
    record.note = note;
    const std::string line = AccessLine(record);
    const std::lock_guard lock(logMutex);
    log(line);
  }

  void Log(int status, std::string note) {
    RequestState& state = requestState;
    if (state.logged) return;
    state.logged = true;
    state.record.status = status;
    if (state.record.note.empty()) state.record.note = std::move(note);
    state.record.duration = std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - state.start);
    const std::string line = AccessLine(state.record);
    const std::lock_guard lock(logMutex);
    log(line);
  }

  httplib::Server::HandlerResponse BeforeBody(const httplib::Request& request, httplib::Response& response) {
    Begin(request);
    try {
      if (!settings.allowedClients.Allows(request.remote_addr)) throw Refusal::AddressNotAllowed();
      // The target exactly as the desktop signs it: a query or a percent-encoded name is another
      // resource, refused before its signature is looked at.
      if (request.method != protocol::kMethod || request.target != kImportPath) throw Refusal::NotFound();
      // A body of a declared length only: the library reads a chunked one without a bound.
      if (request.get_header_value_count("Content-Length") > 1) throw Refusal::BadRequest("Content-Length ripetuto");
      const std::string length = request.get_header_value("Content-Length");
      if (length.empty() || request.has_header("Transfer-Encoding"))
        throw Refusal::BadRequest("Content-Length mancante");
      std::size_t size = 0;
      const auto parsed = std::from_chars(length.data(), length.data() + length.size(), size);
      if (parsed.ec == std::errc::result_out_of_range) throw Refusal::TooLarge();
      if (parsed.ec != std::errc() || parsed.ptr != length.data() + length.size()) {
        throw Refusal::BadRequest("Content-Length non valido");
      }
      if (size > kMaxBodyBytes) throw Refusal::TooLarge();
      gate.HeadRead();
    } catch (const Refusal& refusal) {
      Answer(response, refusal);
      Log(refusal.Status(), refusal.Status() == 400 ? refusal.Message() : refusal.Reason());
      return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
  }

  void Import(const httplib::Request& request, httplib::Response& response) {
    AccessRecord& record = requestState.record;
    try {
      const SignedHeaders headers{OneHeader(request, protocol::kKeyHeader), OneHeader(request, protocol::kTimeHeader),
                                  OneHeader(request, protocol::kNonceHeader),
                                  OneHeader(request, protocol::kSignatureHeader)};
      record.keyName =
          Authenticate(settings.keysFile, nonces, request.method, request.target, headers, request.body, UnixNow());
      gate.KeyKnown();
      ImportRequest import = ReadImportRequest(request.body);
      record.utente = import.utente;
      record.ditta = import.ditta;
      record.piva = import.piva;
      const ImportQueue::Place place = queue.Enter();
      if (!place) throw Refusal::Busy();
      ++started;
      ImportOutcome outcome;
      try {
        outcome = runner.Run(import.arguments);
      } catch (const Exception& error) {
        throw Refusal::Internal(error.Message());
      }
      response.status = 200;
      response.set_header(std::string(protocol::kExitHeader), std::to_string(outcome.exitCode));
      response.set_content(outcome.output, std::string(protocol::kBodyType));
      record.exitCode = outcome.exitCode;
      // Logged now, before the answer is written: a desktop that has gone does not lose the outcome.
      Log(200, outcome.overTime ? "killed at the service's limit" : "");
    } catch (const Refusal& refusal) {
      Answer(response, refusal);
      Log(refusal.Status(), refusal.Status() == 400 ? refusal.Message() : refusal.Reason());
    }
  }

  Settings settings;
  LogSink log;
  std::mutex logMutex;
  ConnectionGate gate;
  std::string tlsError;
  httplib::SSLServer server;
  ImportQueue queue;
  ImportRunner runner;
  SeenNonces nonces;
  std::atomic<std::uint64_t> started{0};
  std::atomic<bool> stopping{false};
  std::atomic<bool> serving{false};
  std::atomic<bool> served{false};
};

Service::Service(Settings settings, LogSink log) : impl_(std::make_unique<Impl>(std::move(settings), std::move(log))) {
  Impl& impl = *impl_;
  if (!impl.server.is_valid()) throw Exception(impl.tlsError.empty() ? "TLS non disponibile" : impl.tlsError);
  httplib::SSLServer& server = impl.server;
  // A thread for every import running or waiting and for every connection without a key yet, and
  // a few more: whatever the connections without a key do, a signed request finds a thread.
  const std::size_t threads =
      impl.settings.maxRunning + impl.settings.queueLength + impl.settings.connections.total + kSpareThreads;
  server.new_task_queue = [threads, &impl] { return new GatedPool(threads, impl.gate); };
  server.set_keep_alive_max_count(1);
  server.set_payload_max_length(kMaxBodyBytes);
  server.set_read_timeout(std::chrono::seconds(10));
  server.set_write_timeout(std::chrono::seconds(10));
  server.set_tcp_nodelay(true);
  server.set_pre_routing_handler([&impl](const httplib::Request& request, httplib::Response& response) {
    return impl.BeforeBody(request, response);
  });
  server.Post(std::string(kImportPath), [&impl](const httplib::Request& request, httplib::Response& response) {
    impl.Import(request, response);
  });
  server.set_error_handler(httplib::Server::Handler([](const httplib::Request&, httplib::Response& response) {
    if (response.body.empty()) {
      response.set_content(Refusal::TextForStatus(response.status), std::string(protocol::kRefusalType));
    }
  }));
  // After each answer: a request the library itself refused (a malformed request line, a body over
  // the limit) gets its line here.
  server.set_logger([&impl](const httplib::Request& request, const httplib::Response& response) {
    if (requestState.request != &request) impl.Begin(request);
    impl.Log(response.status, response.status >= 400 ? response.body : std::string());
    requestState.request = nullptr;
  });
}

Service::~Service() = default;

int Service::Bind() {
  Impl& impl = *impl_;
  if (impl.settings.port == 0) {
    const int port = impl.server.bind_to_any_port(impl.settings.address);
    if (port > 0) return port;
  } else if (impl.server.bind_to_port(impl.settings.address, impl.settings.port)) {
    return impl.settings.port;
  }
  throw Exception("Impossibile ascoltare su " + impl.settings.address + " porta " + std::to_string(impl.settings.port));
}

void Service::Serve() {
  Impl& impl = *impl_;
  impl.serving = true;
  if (!impl.stopping) impl.server.listen_after_bind();
  impl.served = true;
}

void Service::Stop() {
  Impl& impl = *impl_;
  impl.stopping = true;
  impl.queue.Close();
  // Serve may be about to listen: a stop before the library runs would be lost.
  while (impl.serving && !impl.served && !impl.server.is_running())
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  impl.server.stop();
}

ImportQueue::Counts Service::Queue() const { return impl_->queue.Now(); }
std::uint64_t Service::ImportsStarted() const { return impl_->started; }

}  // namespace korvane::server
