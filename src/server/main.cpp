// korvane-server: the firm's Windows desktops import through it. See UsageText() and the
// administrator's guide, "From the Windows desktops".
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <thread>

#include "app/Version.h"
#include "certificates/CertificateAuthority.h"
#include "platform/Exception.h"
#include "platform/UtcTime.h"
#include "server/AccessLog.h"
#include "server/CommandLine.h"
#include "server/DesktopKeys.h"
#include "server/PrivateFile.h"
#include "server/Service.h"

namespace {

using korvane::Exception;
using namespace korvane::server;

extern "C" char** environ;

std::string VersionLine() { return korvane::ProgramVersionLine("korvane-server"); }

// The access log: whole lines on standard output, never interleaved.
void WriteLogLine(const std::string& line) {
  std::string_view rest = line;
  while (!rest.empty()) {
    const ssize_t written = ::write(STDOUT_FILENO, rest.data(), rest.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    rest.remove_prefix(static_cast<std::size_t>(written));
  }
}

int Run(const Command& command) {
  Settings settings = Settings::Load(command.settingsFile);
  settings.importerEnvironment = ImporterEnvironment(environ);
  RequireOwnerOnly(settings.keysFile);
  RequireOwnerOnly(settings.privateKey);
  const DesktopKeys keys = DesktopKeys::Load(settings.keysFile);
  if (std::none_of(keys.Keys().begin(), keys.Keys().end(), [](const DesktopKey& key) { return key.key.has_value(); })) {
    std::cerr << "korvane-server: nessuna chiave in uso in " << settings.keysFile
              << ": ogni richiesta sarà rifiutata (korvane-server key add NOME)" << std::endl;
  }
  if (::access(settings.program.c_str(), X_OK) != 0) {
    throw Exception("Programma " + settings.program + " non eseguibile: " + std::strerror(errno));
  }

  // The stop signals are taken by this thread alone; every thread started from here inherits the
  // mask, and each import starts with none blocked.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
  ::signal(SIGHUP, SIG_IGN);

  const std::string address = settings.address;
  const std::size_t running = settings.maxRunning;
  Service service(std::move(settings), WriteLogLine);
  const int port = service.Bind();
  std::cerr << VersionLine() << ": in ascolto su " << address << " porta " << port << " (" << running
            << " importazioni alla volta)" << std::endl;
  std::atomic<bool> served{false};
  std::thread serving([&] {
    service.Serve();
    served = true;
  });
  while (!served) {
    const timespec second{1, 0};
    const int signal = ::sigtimedwait(&stopSignals, nullptr, &second);
    if (signal == SIGTERM || signal == SIGINT) {
      std::cerr << "korvane-server: " << (signal == SIGTERM ? "SIGTERM" : "SIGINT")
                << ", non accetto altre richieste; attendo le importazioni in corso" << std::endl;
      service.Stop();
      break;
    }
  }
  serving.join();
  std::cerr << "korvane-server: fermato" << std::endl;
  return 0;
}

int MakeCertificate(const Command& command) {
  const Settings settings = Settings::Load(command.settingsFile);
  for (const std::string& file : {settings.certificate, settings.privateKey}) {
    if (!command.force && ::access(file.c_str(), F_OK) == 0) {
      throw Exception("Il file " + file + " esiste già (--force per sostituirlo)");
    }
  }
  const korvane::certificates::Identity identity =
      korvane::certificates::SelfSignedServer(command.name, SubjectAltNames(command), command.days);
  WritePrivateFile(settings.privateKey, identity.keyPem);
  WritePrivateFile(settings.certificate, identity.certificatePem);
  std::cout << "Certificato: " << settings.certificate << " (" << SubjectAltNames(command) << ", " << command.days
            << " giorni)\nChiave privata: " << settings.privateKey
            << "\nImpronta per korvane.ini dei desktop:\nImpronta="
            << korvane::certificates::Sha256Fingerprint(identity.certificatePem) << std::endl;
  return 0;
}

int PrintFingerprint(const Command& command) {
  const Settings settings = Settings::Load(command.settingsFile);
  std::cout << "Impronta=" << korvane::certificates::Sha256Fingerprint(ReadWholeFile(settings.certificate))
            << std::endl;
  return 0;
}

int ChangeKeys(const Command& command) {
  const Settings settings = Settings::Load(command.settingsFile);
  const std::string now = korvane::platform::UtcTimeText(std::chrono::system_clock::now());
  if (command.kind == Command::Kind::KeyList) {
    const DesktopKeys keys = DesktopKeys::Load(settings.keysFile);
    for (const DesktopKey& key : keys.Keys()) {
      std::cout << key.name << "  aggiunta " << key.added
                << (key.revoked.empty() ? "  in uso" : "  revocata " + key.revoked) << '\n';
    }
    return 0;
  }
  if (command.kind == Command::Kind::KeyRevoke) {
    DesktopKeys::Change(settings.keysFile, [&](DesktopKeys& keys) { keys.Revoke(command.name, now); });
    std::cout << "Chiave " << command.name << " revocata" << std::endl;
    return 0;
  }
  std::string key;
  DesktopKeys::Change(settings.keysFile, [&](DesktopKeys& keys) { key = keys.Add(command.name, now); });
  std::cout << "[Desktop]\nNome=" << command.name << "\nChiave=" << key << std::endl;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const Command command = ReadCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    switch (command.kind) {
      case Command::Kind::Help: std::cout << UsageText(); return 0;
      case Command::Kind::Version: std::cout << VersionLine() << '\n'; return 0;
      case Command::Kind::Run: return Run(command);
      case Command::Kind::Certificate: return MakeCertificate(command);
      case Command::Kind::Fingerprint: return PrintFingerprint(command);
      default: return ChangeKeys(command);
    }
  } catch (const std::exception& error) {
    std::cerr << "korvane-server: " << error.what() << std::endl;
    return 1;
  }
}
