// The desktops' copy of the local database, fetched from a real server: a first download, an
// unchanged copy answered by 304, a master-data change reaching the next refresh, a server that
// cannot be reached leaving the old copy untouched with one message, the same over TLS (the CA
// and the host's name checked, the token's user named by the service), a download given up
// midway, and the scenario runner's --local-from-server.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "host/net/LocalDatabaseDownload.h"
#include "host/net/NetConnection.h"
#include "tests/support/RawHttpStub.h"
#include "tests/support/TestCertificates.h"
#include "tests/support/TestServer.h"

namespace {

using host::LocalDatabaseDownload;
using Outcome = host::LocalDatabaseRefresh::Outcome;

constexpr const char* kService = "PDI07310.rdmProdDesoneraImpos";

std::string Bytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

int Count(const std::filesystem::path& path, const std::string& sql) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* s = nullptr;
  int n = -1;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr) == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW) {
    n = sqlite3_column_int(s, 0);
  }
  sqlite3_finalize(s);
  sqlite3_close(db);
  return n;
}

TEST(LocalDatabaseDownload, FetchesKeepsAndReplacesTheCopyOnlyWithAValidOne) {
  testsupport::TestServer server;
  const auto copy = server.Folder() / "desk" / "local.db";
  std::filesystem::create_directories(copy.parent_path());
  const LocalDatabaseDownload download("127.0.0.1", server.Port(), kService);

  const auto first = download.Refresh(copy.string());
  ASSERT_EQ(first.outcome, Outcome::Updated) << first.message;
  EXPECT_EQ(LocalDatabaseDownload::CheckLocalDatabase(copy.string()), "");
  const int suppliers = Count(copy, "SELECT COUNT(*) FROM FORNECEDOR");
  EXPECT_EQ(suppliers, Count(server.LocalDatabase(), "SELECT COUNT(*) FROM FORNECEDOR"));
  EXPECT_FALSE(std::filesystem::exists(copy.string() + ".new"));

  const auto second = download.Refresh(copy.string());
  EXPECT_EQ(second.outcome, Outcome::Unchanged) << second.message;

  // A master-data change on the server reaches the next refresh.
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(server.LocalDatabase().c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "INSERT INTO FORNECEDOR VALUES ('45723174000110', 'Novo Ltda.', 'J', 'FNOVO')", nullptr, nullptr,
                 nullptr);
    sqlite3_close(db);
  }
  server.ImportMaster();
  const auto third = download.Refresh(copy.string());
  ASSERT_EQ(third.outcome, Outcome::Updated) << third.message;
  EXPECT_EQ(Count(copy, "SELECT COUNT(*) FROM FORNECEDOR WHERE CDFORNECED = 'FNOVO'"), 1);

  // Nobody listening: the old copy stays as it was, and the message says so.
  const std::string before = Bytes(copy);
  const LocalDatabaseDownload nowhere("127.0.0.1", 1, kService);
  const auto failed = nowhere.Refresh(copy.string());
  EXPECT_EQ(failed.outcome, Outcome::Failed);
  EXPECT_NE(failed.message.find("A cópia local anterior continua em uso"), std::string::npos) << failed.message;
  EXPECT_EQ(Bytes(copy), before);

  // A wrong path on the server (404) leaves it too.
  const auto wrong = LocalDatabaseDownload("127.0.0.1", server.Port(), "Outro.Servico").Refresh(copy.string());
  EXPECT_EQ(wrong.outcome, Outcome::Failed);
  EXPECT_NE(wrong.message.find("HTTP 404"), std::string::npos) << wrong.message;
  EXPECT_EQ(Bytes(copy), before);

  // A copy over the size cap is refused whole.
  LocalDatabaseDownload capped("127.0.0.1", server.Port(), kService);
  capped.SetMaxBytes(1000);
  std::filesystem::remove(copy.string() + ".etag");
  const auto tooBig = capped.Refresh(copy.string());
  EXPECT_EQ(tooBig.outcome, Outcome::Failed);
  EXPECT_EQ(Bytes(copy), before);
  EXPECT_FALSE(std::filesystem::exists(copy.string() + ".new"));
}

TEST(LocalDatabaseDownload, ScenarioRunnerFetchesItsLocalDatabaseFirst) {
  testsupport::TestServer server;
  const auto copy = server.Folder() / "runner.db";
  const auto script = server.Folder() / "open.scn";
  std::ofstream(script) << "open\n";
  const int rc = testsupport::RunCommand({testsupport::ScenarioBinary(), "--server", "127.0.0.1:" + std::to_string(server.Port()),
                                          "--local", copy.string(), "--local-from-server", script.string()},
                                         server.Folder() / "runner.log");
  EXPECT_EQ(rc, 0) << Bytes(server.Folder() / "runner.log");
  EXPECT_NE(Bytes(server.Folder() / "runner.log").find("cadastros atualizados"), std::string::npos);
  EXPECT_EQ(LocalDatabaseDownload::CheckLocalDatabase(copy.string()), "");
}

TEST(LocalDatabaseDownload, OverTlsTheCaAndTheNameAreCheckedAndTheServerNamesTheTokensUser) {
  testsupport::TestCertificates certs;
  testsupport::TestServer server;
  const auto tokens = server.Folder() / "tokens.txt";
  std::ofstream(tokens) << "tok-maria-0123456789abcdef maria\n";
  std::filesystem::permissions(tokens, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::replace);
  server.RestartWith({"--tls-cert", certs.ServerCert(), "--tls-key", certs.ServerKey(), "--tokens", tokens.string()});
  const std::string token = "tok-maria-0123456789abcdef";
  const auto copy = server.Folder() / "tls" / "local.db";
  std::filesystem::create_directories(copy.parent_path());

  // A server the CA does not vouch for is refused, and the message says no copy exists yet,
  // with no library words.
  LocalDatabaseDownload untrusted("https://localhost", server.Port(), kService, token);
  untrusted.SetCaFile(certs.UntrustedCaCert());
  const auto refused = untrusted.Refresh(copy.string());
  EXPECT_EQ(refused.outcome, Outcome::Failed);
  EXPECT_NE(refused.message.find("não pôde ser verificado"), std::string::npos) << refused.message;
  EXPECT_NE(refused.message.find("Ainda não há cópia local dos cadastros."), std::string::npos) << refused.message;
  EXPECT_EQ(refused.message.find("inacessível ("), std::string::npos) << refused.message;
  EXPECT_FALSE(std::filesystem::exists(copy));

  LocalDatabaseDownload trusted("https://localhost", server.Port(), kService, token);
  trusted.SetCaFile(certs.CaCert());
  const auto first = trusted.Refresh(copy.string());
  ASSERT_EQ(first.outcome, Outcome::Updated) << first.message;
  EXPECT_EQ(LocalDatabaseDownload::CheckLocalDatabase(copy.string()), "");
  EXPECT_EQ(trusted.Refresh(copy.string()).outcome, Outcome::Unchanged);

  // Given up before it starts: nothing is asked, the copy stays and the message says so.
  host::DownloadCanceller cancel;
  cancel.Cancel();
  const auto given = trusted.Refresh(copy.string(), &cancel);
  EXPECT_EQ(given.outcome, Outcome::Failed);
  EXPECT_NE(given.message.find("cancelada. A cópia local anterior continua em uso."), std::string::npos) << given.message;

  // The connection learns the user the server knows the token by (Ajuda > Sobre shows it).
  host::TNetConnection connection;
  connection.SetHost("https://localhost");
  connection.SetPort(server.Port());
  connection.SetServerName(kService);
  connection.SetCaFile(certs.CaCert());
  connection.SetAccessToken(token);
  connection.Open();
  EXPECT_EQ(connection.ServerUser(), "maria");

  // The runner's --local-from-server over TLS.
  const auto fresh = server.Folder() / "tls" / "runner.db";
  const auto script = server.Folder() / "open.scn";
  std::ofstream(script) << "open\n";
  const int rc = testsupport::RunCommand({testsupport::ScenarioBinary(), "--server", "https://localhost:" + std::to_string(server.Port()),
                                          "--ca", certs.CaCert(), "--token", token, "--local", fresh.string(),
                                          "--local-from-server", script.string()},
                                         server.Folder() / "runner.log");
  EXPECT_EQ(rc, 0) << Bytes(server.Folder() / "runner.log");
  EXPECT_NE(Bytes(server.Folder() / "runner.log").find("cadastros atualizados"), std::string::npos);
}

TEST(LocalDatabaseDownload, ADownloadGivenUpMidwayEndsAtOnceAndLeavesNothing) {
  // A server that announces a large copy and sends it a few bytes at a time.
  testsupport::RawHttpStub slow(
      [&](int fd, const std::string&, const std::string&) {
        std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 100000000\r\n\r\n";
        if (!slow.Send(fd, head)) return false;
        while (slow.Send(fd, std::string(64, 'x'))) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return false;
      },
      true);
  const auto dir = std::filesystem::temp_directory_path() / ("pdi-cancel-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const auto copy = dir / "local.db";
  host::DownloadCanceller cancel;
  std::thread giveUp([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    cancel.Cancel();
  });
  const auto start = std::chrono::steady_clock::now();
  const auto result = LocalDatabaseDownload("127.0.0.1", slow.Port(), kService).Refresh(copy.string(), &cancel);
  giveUp.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(result.outcome, Outcome::Failed);
  EXPECT_NE(result.message.find("atualização cancelada. Ainda não há cópia local"), std::string::npos) << result.message;
  EXPECT_FALSE(std::filesystem::exists(copy.string() + ".new"));
  std::filesystem::remove_all(dir);
}

}  // namespace
