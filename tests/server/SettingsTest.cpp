#include "server/Settings.h"

#include <gtest/gtest.h>

#include "server/AddressList.h"
#include "server/CommandLine.h"
#include "support/ErrorOf.h"

namespace korvane::server {
namespace {

using testing::ErrorOf;

TEST(Settings, TheFileAndItsDefaults) {
  const Settings defaults = Settings::Parse("# nothing set\n", "f");
  EXPECT_EQ(defaults.address, "0.0.0.0");
  EXPECT_EQ(defaults.port, 8443);
  EXPECT_EQ(defaults.maxRunning, 4u);
  EXPECT_EQ(defaults.importLimit, std::chrono::seconds(180));
  EXPECT_TRUE(defaults.allowedClients.Empty());

  const Settings settings = Settings::Parse(
      "; korvane-server\r\n"
      "indirizzo = 192.168.1.10\r\n"
      "Porta=9443\r\n"
      "  Certificato =  /etc/k/c.pem  \r\n"
      "ChiavePrivata = /etc/k/k.pem\n"
      "ChiaviDesktop = /etc/k/keys\n"
      "Programma = /usr/bin/korvane\n"
      "ImportazioniContemporanee = 2\n"
      "Coda = 0\n"
      "AttesaInCoda = 5\n"
      "DurataMassima = 60\n"
      "IndirizziAmmessi = 192.168.1.0/24, 10.0.0.5\n",
      "f");
  EXPECT_EQ(settings.address, "192.168.1.10");
  EXPECT_EQ(settings.port, 9443);
  EXPECT_EQ(settings.certificate, "/etc/k/c.pem");
  EXPECT_EQ(settings.privateKey, "/etc/k/k.pem");
  EXPECT_EQ(settings.keysFile, "/etc/k/keys");
  EXPECT_EQ(settings.program, "/usr/bin/korvane");
  EXPECT_EQ(settings.maxRunning, 2u);
  EXPECT_EQ(settings.queueLength, 0u);
  EXPECT_EQ(settings.queueWait, std::chrono::seconds(5));
  EXPECT_EQ(settings.importLimit, std::chrono::seconds(60));
  EXPECT_TRUE(settings.allowedClients.Allows("10.0.0.5"));
  EXPECT_FALSE(settings.allowedClients.Allows("10.0.0.6"));
}

// The template the package ships reads as the defaults.
TEST(Settings, TheShippedTemplate) {
  const Settings shipped = Settings::Load(std::string(KORVANE_SOURCE_DIR) + "/src/server/korvane-server.conf");
  const Settings defaults;
  EXPECT_EQ(shipped.address, defaults.address);
  EXPECT_EQ(shipped.port, defaults.port);
  EXPECT_EQ(shipped.certificate, defaults.certificate);
  EXPECT_EQ(shipped.privateKey, defaults.privateKey);
  EXPECT_EQ(shipped.keysFile, defaults.keysFile);
  EXPECT_EQ(shipped.program, defaults.program);
  EXPECT_EQ(shipped.stateFolder, defaults.stateFolder);
  EXPECT_EQ(shipped.maxRunning, defaults.maxRunning);
  EXPECT_EQ(shipped.queueLength, defaults.queueLength);
  EXPECT_EQ(shipped.queueWait, defaults.queueWait);
  EXPECT_EQ(shipped.importLimit, defaults.importLimit);
  EXPECT_TRUE(shipped.allowedClients.Empty());
}

TEST(Settings, WhatIsRefused) {
  const std::pair<std::string, std::string> cases[] = {
      {"Porta 9443", "Riga 2 di f: atteso \"Nome = valore\""},
      {"Port = 9443", "Riga 2 di f: impostazione sconosciuta \"Port\""},
      {"Porta = 0", "Riga 2 di f: Porta: atteso un numero da 1 a 65535"},
      {"Porta = 8443x", "Riga 2 di f: Porta: atteso un numero da 1 a 65535"},
      {"ImportazioniContemporanee = 0", "Riga 2 di f: ImportazioniContemporanee: atteso un numero da 1 a 64"},
      {"DurataMassima = -5", "Riga 2 di f: DurataMassima: atteso un numero da 1 a 3600"},
      {"Programma = korvane", "Riga 2 di f: Programma: atteso un percorso assoluto"},
      {"IndirizziAmmessi = 192.168.1.0/33",
       "Riga 2 di f: IndirizziAmmessi: Indirizzo o rete non valida: 192.168.1.0/33"},
  };
  for (const auto& c : cases) EXPECT_EQ(ErrorOf([&] { Settings::Parse("# x\n" + c.first + "\n", "f"); }), c.second);
}

TEST(Settings, TheImporterSeesOnlyItsOwnVariables) {
  const char* environment[] = {"KORVANE_APITOKEN=segreto",
                               "KORVANE_DB_PASSWORD=x=y",
                               "HOME=/root",
                               "LD_PRELOAD=/tmp/evil.so",
                               "https_proxy=http://proxy:3128",
                               "SSL_CERT_FILE=/etc/ca.pem",
                               "PATH=/tmp/bin",
                               "KORVANE",
                               "TZ=Europe/Rome",
                               nullptr};
  EXPECT_EQ(ImporterEnvironment(environment),
            (std::vector<std::string>{"PATH=/usr/local/bin:/usr/bin:/bin", "KORVANE_APITOKEN=segreto",
                                      "KORVANE_DB_PASSWORD=x=y", "https_proxy=http://proxy:3128",
                                      "SSL_CERT_FILE=/etc/ca.pem", "TZ=Europe/Rome"}));
}

TEST(AddressList, NetworksAndAddresses) {
  const AddressList list = AddressList::Parse("192.168.1.0/24 10.0.0.5,fd00::/8, 2001:db8::1");
  struct Case {
    std::string address;
    bool allowed;
  };
  const Case cases[] = {
      {"192.168.1.1", true},     {"192.168.1.255", true},      {"192.168.2.1", false},     {"10.0.0.5", true},
      {"10.0.0.4", false},       {"::ffff:192.168.1.7", true}, {"::ffff:10.0.0.6", false}, {"fd12::1", true},
      {"fe80::1", false},        {"2001:db8::1", true},        {"2001:db8::2", false},     {"", false},
      {"not an address", false},
  };
  for (const auto& c : cases) EXPECT_EQ(list.Allows(c.address), c.allowed) << c.address;
  EXPECT_TRUE(AddressList::Parse("").Allows("203.0.113.9"));
  EXPECT_TRUE(AddressList::Parse("0.0.0.0/0").Allows("203.0.113.9"));
  for (const std::string entry : {"10.0.0.5/24", "10.0.0.0/", "10.0.0.0/x", "300.0.0.1", "srv01", "fd00::/129"}) {
    EXPECT_EQ(ErrorOf([&] { AddressList::Parse(entry); }), "Indirizzo o rete non valida: " + entry);
  }
}

TEST(CommandLine, TheCommands) {
  const Command run = ReadCommandLine({"run", "--config", "/etc/k.conf"});
  EXPECT_EQ(run.kind, Command::Kind::Run);
  EXPECT_EQ(run.settingsFile, "/etc/k.conf");
  EXPECT_EQ(ReadCommandLine({"run"}).settingsFile, kDefaultSettingsFile);
  const Command add = ReadCommandLine({"key", "add", "desk01"});
  EXPECT_EQ(add.kind, Command::Kind::KeyAdd);
  EXPECT_EQ(add.name, "desk01");
  EXPECT_EQ(ReadCommandLine({"key", "revoke", "desk01"}).kind, Command::Kind::KeyRevoke);
  EXPECT_EQ(ReadCommandLine({"key", "list"}).kind, Command::Kind::KeyList);
  const Command certificate = ReadCommandLine(
      {"certificate", "--name", "srv01", "--ip", "192.168.1.10", "--dns", "srv01.studio.local", "--days", "30"});
  EXPECT_EQ(certificate.days, 30);
  EXPECT_EQ(SubjectAltNames(certificate), "DNS:srv01,DNS:srv01.studio.local,IP:192.168.1.10");

  EXPECT_EQ(ErrorOf([] { ReadCommandLine({}); }), "Manca il comando (korvane-server --help)");
  EXPECT_EQ(ErrorOf([] { ReadCommandLine({"serve"}); }), "Argomento non previsto: serve (korvane-server --help)");
  EXPECT_EQ(ErrorOf([] {
              ReadCommandLine({"run", "--name", "x"});
            }),
            "Argomento non previsto: --name (korvane-server --help)");
  EXPECT_EQ(ErrorOf([] { ReadCommandLine({"key", "add"}); }), "Argomento non previsto: key (korvane-server --help)");
  EXPECT_EQ(ErrorOf([] { ReadCommandLine({"certificate"}); }), "certificate: manca --name HOST");
  EXPECT_EQ(ErrorOf([] {
              ReadCommandLine({"certificate", "--name", "a", "--days", "0"});
            }),
            "--days: atteso un numero di giorni da 1 a 36500");
  EXPECT_EQ(ErrorOf([] {
              SubjectAltNames(ReadCommandLine({"certificate", "--name", "srv 01"}));
            }),
            "Nome non valido per il certificato: srv 01");
  EXPECT_EQ(ErrorOf([] {
              SubjectAltNames(ReadCommandLine({"certificate", "--name", "a", "--ip", "srv01"}));
            }),
            "Indirizzo non valido per il certificato: srv01");
}

}  // namespace
}  // namespace korvane::server
