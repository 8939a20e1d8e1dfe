// The built korvane-server as the administrator and systemd run it: its commands, and `run` until
// a stop signal.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <regex>
#include <thread>

#include "certificates/CertificateAuthority.h"
#include "loopback/Loopback.h"
#include "support/DesktopClient.h"
#include "support/ProgramFolder.h"
#include "support/RegistrySimulator.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"

namespace korvane {
namespace {

using namespace std::chrono_literals;
using testing::RunProgram;

std::string FileText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}

unsigned Mode(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 ? status.st_mode & 0777 : 0;
}

class ServerProgramTest : public ::testing::Test {
 protected:
  void SetUp() override { WriteSettings(""); }

  void WriteSettings(const std::string& extra) {
    std::ofstream(settings_) << "# korvane-server\n"
                             << "Indirizzo = 127.0.0.1\n"
                             << "Certificato = " << dir_.File("server.crt") << "\n"
                             << "ChiavePrivata = " << dir_.File("server.key") << "\n"
                             << "ChiaviDesktop = " << dir_.File("desktop-keys") << "\n"
                             << "CartellaStato = " << dir_.File("") << "\n"
                             << extra;
  }

  testing::ProgramResult Server(std::vector<std::string> arguments) {
    arguments.insert(arguments.end(), {"--config", settings_});
    return RunProgram(KORVANE_SERVER, arguments);
  }

  testing::TempDir dir_;
  std::string settings_ = dir_.File("korvane-server.conf");
};

TEST_F(ServerProgramTest, TheAdministratorsCommands) {
  const auto made = Server({"certificate", "--name", "srv01", "--dns", "srv01.studio.local", "--ip", "192.168.1.10"});
  EXPECT_EQ(made.exitCode, 0) << made.err;
  const std::string pin = certificates::Sha256Fingerprint(FileText(dir_.File("server.crt")));
  EXPECT_NE(made.out.find("\nImpronta=" + pin + "\n"), std::string::npos) << made.out;
  EXPECT_EQ(Mode(dir_.File("server.key")), 0600u);
  EXPECT_EQ(Server({"fingerprint"}).out, "Impronta=" + pin + "\n");
  const auto again = Server({"certificate", "--name", "srv01"});
  EXPECT_EQ(again.exitCode, 1);
  EXPECT_EQ(again.err,
            "korvane-server: Il file " + dir_.File("server.crt") + " esiste già (--force per sostituirlo)\n");
  EXPECT_EQ(Server({"certificate", "--name", "srv02", "--force"}).exitCode, 0);
  EXPECT_NE(Server({"fingerprint"}).out, "Impronta=" + pin + "\n");

  const auto added = Server({"key", "add", "desk01"});
  EXPECT_EQ(added.exitCode, 0) << added.err;
  EXPECT_TRUE(std::regex_match(added.out, std::regex("\\[Desktop\\]\nNome=desk01\nChiave=[0-9a-f]{64}\n")))
      << added.out;
  EXPECT_EQ(Mode(dir_.File("desktop-keys")), 0600u);
  EXPECT_NE(FileText(dir_.File("desktop-keys")).find(added.out.substr(added.out.size() - 65, 64)), std::string::npos);
  EXPECT_TRUE(std::regex_match(Server({"key", "list"}).out, std::regex("desk01  aggiunta [0-9T:Z-]{20}  in uso\n")));
  EXPECT_EQ(Server({"key", "revoke", "desk01"}).out, "Chiave desk01 revocata\n");
  const std::string list = Server({"key", "list"}).out;
  EXPECT_TRUE(std::regex_match(list, std::regex("desk01  aggiunta [0-9T:Z-]{20}  revocata [0-9T:Z-]{20}\n"))) << list;
  // The key is gone from the file, not only marked.
  EXPECT_EQ(FileText(dir_.File("desktop-keys")).find(added.out.substr(added.out.size() - 65, 64)), std::string::npos);

  const auto badName = Server({"key", "add", "desk/01"});
  EXPECT_EQ(badName.exitCode, 1);
  EXPECT_EQ(badName.out, "");
  EXPECT_EQ(RunProgram(KORVANE_SERVER, {"--version"}).out.substr(0, 21), "korvane-server 1.0.0 ");
  EXPECT_EQ(RunProgram(KORVANE_SERVER, {"serve"}).exitCode, 1);
}

// Commands at the same moment take turns on the keys file: every key printed is kept, the key
// revoked meanwhile stays revoked, and a list never sees a half-written file.
TEST_F(ServerProgramTest, KeyCommandsAtOnceLoseNothing) {
  ASSERT_EQ(Server({"key", "add", "old"}).exitCode, 0);
  std::vector<std::future<testing::ProgramResult>> runs;
  for (int i = 0; i < 12; ++i) {
    runs.push_back(std::async(std::launch::async, [this, i] {
      return Server({"key", "add", "desk" + std::to_string(i)});
    }));
    if (i == 6) runs.push_back(std::async(std::launch::async, [this] { return Server({"key", "revoke", "old"}); }));
    if (i % 4 == 0) runs.push_back(std::async(std::launch::async, [this] { return Server({"key", "list"}); }));
  }
  std::vector<std::string> printedKeys;
  for (auto& run : runs) {
    const auto result = run.get();
    EXPECT_EQ(result.exitCode, 0) << result.err;
    const std::size_t key = result.out.find("Chiave=");
    if (key != std::string::npos) printedKeys.push_back(result.out.substr(key + 7, 64));
  }
  ASSERT_EQ(printedKeys.size(), 12u);
  const std::string file = FileText(dir_.File("desktop-keys"));
  for (const std::string& key : printedKeys) EXPECT_NE(file.find(key), std::string::npos) << key;
  const std::string list = Server({"key", "list"}).out;
  EXPECT_NE(list.find("old  aggiunta "), std::string::npos);
  EXPECT_NE(list.find("  revocata "), std::string::npos) << list;
  EXPECT_EQ(std::count(list.begin(), list.end(), '\n'), 13) << list;
}

TEST_F(ServerProgramTest, RunRefusesKeysOthersCanRead) {
  ASSERT_EQ(Server({"certificate", "--name", "srv01"}).exitCode, 0);
  ASSERT_EQ(Server({"key", "add", "desk01"}).exitCode, 0);
  std::filesystem::permissions(dir_.File("desktop-keys"), std::filesystem::perms::group_read,
                               std::filesystem::perm_options::add);
  const auto run = Server({"run"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, "korvane-server: Il file " + dir_.File("desktop-keys") +
                         " è accessibile ad altri utenti (chmod 600 " + dir_.File("desktop-keys") + ")\n");
}

// Whether the process has a child (in any of its threads): an import has started.
bool HasChild(pid_t pid) {
  for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
    if (!FileText((task.path() / "children").string()).empty()) return true;
  }
  return false;
}

// SIGTERM: no new connection, the import under way ends and is answered and logged, then the
// service exits 0.
TEST_F(ServerProgramTest, RunServesUntilAStopSignal) {
  testing::ProgramFolder folder(KORVANE_BINARY);
  testing::RegistrySimulator registry(KORVANE_SIMULATOR, {"01234567890"}, 1500);
  int port = 0;
  {
    const loopback::Listener free;
    port = free.Port();
  }
  WriteSettings("Porta = " + std::to_string(port) + "\nProgramma = " + folder.Program() + "\n");
  ASSERT_EQ(Server({"certificate", "--name", "localhost", "--ip", "127.0.0.1"}).exitCode, 0);
  const std::string added = Server({"key", "add", "desk01"}).out;
  const std::string key = added.substr(added.size() - 65, 64);

  testing::StartedProgram server(KORVANE_SERVER, {"run", "--config", settings_},
                                 {{"KORVANE_APITOKEN", "segreto"},
                                  {"SSL_CERT_FILE", registry.CaFile()},
                                  {"KORVANE_REGISTRY_URL", registry.Url("/base/")}});
  int connection = -1;
  for (int i = 0; i < 2000 && connection < 0; ++i) {
    connection = loopback::Connect(port);
    if (connection < 0) std::this_thread::sleep_for(5ms);
  }
  ASSERT_GE(connection, 0);
  ::close(connection);

  auto import = std::async(std::launch::async, [&] {
    return testing::Send(port, testing::RequestBytes(testing::SignedImport(
                                   "desk01", key, {"-UTENTE", "5", "-DITTA", "01", "-PIVA", "01234567890"})));
  });
  for (int i = 0; i < 2000 && !HasChild(server.Pid()); ++i) std::this_thread::sleep_for(5ms);
  ASSERT_TRUE(HasChild(server.Pid()));
  ASSERT_EQ(::kill(server.Pid(), SIGTERM), 0);

  const testing::HttpAnswer answer = import.get();
  EXPECT_EQ(answer.status, 200);
  EXPECT_EQ(answer.body, "0124\r\n");
  ASSERT_TRUE(server.Wait(30000));
  EXPECT_EQ(server.Result().exitCode, 0);
  EXPECT_EQ(loopback::Connect(port), -1);
  EXPECT_TRUE(
      std::regex_match(server.Result().out, std::regex("[0-9T:.Z-]{24} key=desk01 client=127.0.0.1 user=5 company=01 "
                                                       "vat=01234567890 status=200 exit=0 ms=[0-9]+\n")))
      << server.Result().out;
  EXPECT_NE(server.Result().err.find("SIGTERM, non accetto altre richieste; attendo le importazioni in corso\n"),
            std::string::npos)
      << server.Result().err;
  EXPECT_EQ(folder.Customers(), (std::vector<std::string>{"0123", "0124"}));
}

}  // namespace
}  // namespace korvane
