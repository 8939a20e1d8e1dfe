// korvane.exe under wine against the real service: korvane-server on 127.0.0.1 with a certificate
// of its own making, running the built korvane on a program folder with embedded databases, which
// asks the offline registry simulator (or, to hold an import, a gated registry in the test).

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "Desktop.h"
#include "loopback/Loopback.h"
#include "platform/CodePages.h"
#include "support/FirebirdFixture.h"
#include "support/ProgramFolder.h"
#include "support/TestCertificates.h"
#include "support/TlsGatedServer.h"

namespace korvane::testing {
namespace {

const std::vector<std::string> kImport = {"-UTENTE", "5", "-DITTA", "01", "-PIVA", "01234567890"};

// The value after "<name>=" on a line of `text`.
std::string ValueOf(const std::string& text, const std::string& name) {
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with(name + "=")) return line.substr(name.size() + 1);
  }
  return {};
}

int FreePort() {
  const loopback::Listener probe;
  return probe.Port();
}

// The service's limits on imports at once and the queue.
struct Limits {
  int running = 4;
  int queue = 16;
  int queueWaitSeconds = 30;
};

class ServiceTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (std::unique_ptr<StartedProgram>* program : {&service_, &simulator_}) {
      if (*program) {
        kill((*program)->Pid(), SIGTERM);
        (*program)->Wait(20000);
      }
    }
  }

  // The offline registry simulator with the demo's answers.
  void StartSimulator() {
    caFile_ = dir_.File("registry-ca.pem");
    const std::string portFile = dir_.File("registry-port");
    simulator_ = std::make_unique<StartedProgram>(
        KORVANE_SIMULATOR, std::vector<std::string>{"--data", std::string(KORVANE_SOURCE_DIR) + "/tools/demo/registry",
                                                    "--ca-out", caFile_, "--port-file", portFile});
    std::string port;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (port.empty() && std::chrono::steady_clock::now() < deadline) {
      std::ifstream(portFile) >> port;
      if (port.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_FALSE(port.empty()) << "the simulator did not start";
    registryUrl_ = "https://localhost:" + port + "/base/";
  }

  // The service with its own certificate and one desktop's key, importing from `registryUrl`
  // (trusted through the certificate authority in `caFile`).
  void StartService(const std::string& registryUrl, const std::string& caFile, const Limits& limits = {}) {
    port_ = FreePort();
    config_ = dir_.File("korvane-server.conf");
    std::ofstream(config_) << "Indirizzo = 127.0.0.1\n"
                           << "Porta = " << port_ << "\n"
                           << "Certificato = " << dir_.File("server.crt") << "\n"
                           << "ChiavePrivata = " << dir_.File("server.key") << "\n"
                           << "ChiaviDesktop = " << dir_.File("desktop-keys") << "\n"
                           << "CartellaStato = " << dir_.File("") << "\n"
                           << "Programma = " << folder_.Program() << "\n"
                           << "ImportazioniContemporanee = " << limits.running << "\n"
                           << "Coda = " << limits.queue << "\n"
                           << "AttesaInCoda = " << limits.queueWaitSeconds << "\n";
    pin_ = ValueOf(ServerCommand({"certificate", "--name", "localhost"}), "Impronta");
    ASSERT_FALSE(pin_.empty());
    key_ = ValueOf(ServerCommand({"key", "add", "desktop-01"}), "Chiave");
    ASSERT_EQ(key_.size(), 64u);
    importerEnvironment_ = {
        {"KORVANE_REGISTRY_URL", registryUrl}, {"SSL_CERT_FILE", caFile}, {"KORVANE_APITOKEN", "segreto"}};
    service_ = std::make_unique<StartedProgram>(
        KORVANE_SERVER_BINARY, std::vector<std::string>{"run", "--config", config_}, importerEnvironment_);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (;;) {
      const int socket = loopback::Connect(port_);
      if (socket >= 0) {
        close(socket);
        break;
      }
      ASSERT_FALSE(service_->Wait(0)) << "the service ended: " << service_->Result().out << service_->Result().err;
      ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the service does not listen";
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  // A command of korvane-server on the service's settings; its standard output.
  std::string ServerCommand(std::vector<std::string> arguments) {
    arguments.insert(arguments.end(), {"--config", config_});
    const ProgramResult result = RunProgram(KORVANE_SERVER_BINARY, arguments);
    EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
    return result.out;
  }

  Desktop DesktopWith(const std::string& keyName, const std::string& key) const {
    return Desktop(DesktopIni("https://localhost:" + std::to_string(port_), pin_, keyName, key));
  }

  // The importer run here directly, as the service runs it.
  ProgramResult RunImporter(const std::vector<std::string>& arguments) const {
    return RunProgram(folder_.Program(), arguments, importerEnvironment_);
  }

  TempDir dir_;
  ProgramFolder folder_{KORVANE_BINARY};
  std::unique_ptr<StartedProgram> simulator_;
  std::unique_ptr<StartedProgram> service_;
  std::string caFile_;
  std::string registryUrl_;
  std::map<std::string, std::string> importerEnvironment_;
  std::string config_;
  std::string pin_;
  std::string key_;
  int port_ = 0;
};

TEST_F(ServiceTest, AnImportPrintsTheImportersOutputInTheCodePageOfThePipe) {
  StartSimulator();
  StartService(registryUrl_, caFile_);
  const Desktop desktop = DesktopWith("desktop-01", key_);

  const ProgramResult imported = desktop.Run(kImport);
  EXPECT_EQ(imported.out, "0124\r\n");
  EXPECT_EQ(imported.exitCode, 0);
  EXPECT_FALSE(folder_.Customer("0124").empty());

  // A write the archive refuses: the engine's lines after a bare CR, and exit 1, as the importer
  // prints them here. A key of the firm's own that the row breaks: only the write itself finds it
  // (a given code already stored is refused before the registry is asked).
  RunIsql(folder_.Archive(), "ALTER TABLE CLIENTI ADD CONSTRAINT PI_UNICA UNIQUE (PI);\n");
  const std::vector<std::string> taken = kImport;
  const ProgramResult direct = RunImporter(taken);
  ASSERT_TRUE(direct.out.starts_with("Fallita scrittura su database\r")) << direct.out;
  for (const CodePage codePage : {CodePage::Windows1252, CodePage::Utf8}) {
    const ProgramResult refused = desktop.Run(taken, {}, codePage);
    EXPECT_EQ(refused.out, codePage == CodePage::Utf8 ? direct.out : platform::Utf8ToCp1252(direct.out));
    EXPECT_EQ(refused.exitCode, 1);
  }
  EXPECT_EQ(folder_.Customers(), (std::vector<std::string>{"0123", "0124"}));
}

TEST_F(ServiceTest, HelpAndVersionAreTheServersKorvane) {
  StartSimulator();
  StartService(registryUrl_, caFile_);
  const Desktop desktop = DesktopWith("desktop-01", key_);
  for (const std::string switchName : {"--version", "--help"}) {
    const ProgramResult direct = RunImporter({switchName});
    ASSERT_EQ(direct.exitCode, 0);
    const ProgramResult ansi = desktop.Run({switchName}, {}, CodePage::Windows1252);
    EXPECT_EQ(ansi.out, platform::Utf8ToCp1252(direct.out));
    EXPECT_EQ(ansi.exitCode, 0);
    const ProgramResult utf8 = desktop.Run({switchName}, {}, CodePage::Utf8);
    EXPECT_EQ(utf8.out, direct.out);
  }
  // The usage has accented letters: the two code pages differ indeed.
  EXPECT_NE(RunImporter({"--help"}).out.find("più"), std::string::npos);
}

TEST_F(ServiceTest, AKeyTheServiceDoesNotTakeRunsNothing) {
  StartSimulator();
  StartService(registryUrl_, caFile_);
  struct Case {
    std::string keyName;
    std::string key;
  };
  const Case cases[] = {{"desktop-01", kUnknownKey}, {"desktop-02", key_}};
  for (const Case& c : cases) {
    const ProgramResult result = DesktopWith(c.keyName, c.key).Run(kImport);
    EXPECT_EQ(result.out, "Chiave del desktop non valida\r\n") << c.keyName;
    EXPECT_EQ(result.exitCode, 1);
  }
  ServerCommand({"key", "revoke", "desktop-01"});
  const ProgramResult revoked = DesktopWith("desktop-01", key_).Run(kImport);
  EXPECT_EQ(revoked.out, "Chiave del desktop non valida\r\n");
  EXPECT_EQ(revoked.exitCode, 1);
  EXPECT_EQ(folder_.Customers(), std::vector<std::string>{"0123"});
}

TEST_F(ServiceTest, ABusyServiceRefusesWhileItsOneImportRuns) {
  // The registry holds the first import's answer until the test opens it.
  TlsGatedServer registry(CompleteAnswer(), 2);
  const std::string caFile = dir_.File("test-ca.pem");
  TestCertificates::Get().WriteCaPem(caFile);
  StartService(registry.Url("/base/"), caFile, {.running = 1, .queue = 1, .queueWaitSeconds = 1});
  const Desktop desktop = DesktopWith("desktop-01", key_);

  const std::unique_ptr<StartedProgram> first = desktop.Start(kImport);
  ASSERT_TRUE(registry.WaitForRequests(1, 60000));
  std::vector<std::string> other = kImport;
  other[5] = "02345678901";
  const ProgramResult busy = desktop.Run(other);
  EXPECT_EQ(busy.out, "Servizio occupato (riprovare)\r\n");
  EXPECT_EQ(busy.exitCode, 1);
  registry.Open();
  ASSERT_TRUE(first->Wait(60000));
  EXPECT_EQ(first->Result().out, "0124\r\n");
  EXPECT_EQ(first->Result().exitCode, 0);
  EXPECT_EQ(registry.Requests(), 1);
}

TEST_F(ServiceTest, TheServiceStoppedRunsNothing) {
  StartSimulator();
  StartService(registryUrl_, caFile_);
  kill(service_->Pid(), SIGTERM);
  ASSERT_TRUE(service_->Wait(20000));
  service_.reset();
  const ProgramResult result = DesktopWith("desktop-01", key_).Run(kImport);
  EXPECT_EQ(result.out, "Servizio korvane non raggiungibile (localhost:" + std::to_string(port_) +
                            "): nessuna importazione eseguita\r\n");
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(folder_.Customers(), std::vector<std::string>{"0123"});
}

}  // namespace
}  // namespace korvane::testing
