// Operating the stores: a missing store is refused unless asked to create one; an SQLite file
// deleted or replaced under a running server makes every save fail (never a lost "ok"); stores of
// earlier releases are migrated with every row and audit row intact (SQLite at start after a
// copy, PostgreSQL by the migrate command) and newer ones refused; a backup taken while clients
// save holds every save acknowledged before it began, and a restore gives the same store back.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "ServiceFixture.h"
#include "server/store/PgConnection.h"
#include "server/store/SqliteDatabase.h"
#include "server/store/StoreBackup.h"

namespace server::test {
namespace {

using host::wire::ChangeOp;

const char* const kTables[] = {"PRODUTO",          "FORNECEDOR",       "CLIENTE",   "FILIAL",        "DESONERA_FORNECEDOR",
                               "DESONERA_CLIENTE", "DESONERA_FILIAL", "AUDITORIA", "AUDITORIA_ITEM"};

const std::string kCurrent = std::to_string(Store::kSchemaVersion);

// The columns every release has: the access column of AUDITORIA is new in version 3.
std::string Columns(const std::string& table) {
  return table == "AUDITORIA" ? "NRPACOTE, DTHRALTERACAO, NMMETODO, DSENDERECO, NMUSUARIO" : "*";
}

// Every row of a table, sorted, "a|b|c" each.
std::vector<std::string> SortedRows(const TestDatabase& db, const std::string& table) {
  auto rows = db.Rows("SELECT " + Columns(table) + " FROM " + table);
  std::sort(rows.begin(), rows.end());
  return rows;
}
std::vector<std::string> SortedSqliteRows(const std::string& path, const std::string& table) {
  SqliteDatabase db(path, SqliteDatabase::Mode::ReadOnly);
  SqliteStatement s = db.Prepare("SELECT " + Columns(table) + " FROM " + table);
  std::vector<std::string> rows;
  while (s.Step()) {
    std::string line;
    for (int i = 0; i < s.ColumnCount(); ++i) line += (i ? "|" : "") + std::string(s.Text(i));
    rows.push_back(line);
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}
std::string SqliteOne(const std::string& path, const std::string& sql) {
  SqliteDatabase db(path, SqliteDatabase::Mode::ReadOnly);
  SqliteStatement s = db.Prepare(sql);
  return s.Step() ? std::string(s.Text(0)) : "";
}

// A copy of the store release 1, 2 or 3 wrote (tests/data), in dir. Some are in WAL mode, so
// even a read-only open writes beside the file: tests open only copies, never the files themselves.
std::string ReleaseStore(int release, const TempDir& dir) {
  const std::string name = "store-release" + std::to_string(release) + ".db";
  const std::string copy = dir.File(name);
  if (!std::filesystem::exists(copy)) std::filesystem::copy_file(std::string(PDI_TEST_DATA_DIR) + "/" + name, copy);
  return copy;
}
// The PostgreSQL script of release 1, 2 or 3 (tests/data).
std::string ReleaseScript(int release) {
  std::ifstream in(std::string(PDI_TEST_DATA_DIR) + "/store-release" + std::to_string(release) + ".pg.sql");
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A file's bytes, "" when it is missing.
std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class StoreKindTest : public ::testing::TestWithParam<StoreKind> {
 protected:
  void SetUp() override { PDI_SKIP_UNLESS_STORE(GetParam()); }
  TempDir dir_;
};
INSTANTIATE_TEST_SUITE_P(Stores, StoreKindTest, ::testing::Values(StoreKind::Sqlite, StoreKind::Postgres),
                         StoreParamName());

TEST_P(StoreKindTest, MissingStoreIsRefusedNamingItUnlessCreateIsGiven) {
  TestDatabase db(GetParam(), dir_);
  const std::string expected = GetParam() == StoreKind::Sqlite ? "no server database at " + db.Location()
                                                               : "holds no server tables";
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"serve", "--db", db.Location(), "--listen", "127.0.0.1:0"},
        {"audit", "--db", db.Location()}, {"export-local", "--db", db.Location(), dir_.File("l.db")},
        {"backup", "--db", db.Location(), dir_.File("b.db")}, {"migrate", "--db", db.Location()}}) {
    const CommandResult r = RunServerCommand(args);
    EXPECT_EQ(r.status, 1) << args[0] << ": " << r.output;
    EXPECT_NE(r.output.find(expected), std::string::npos)
        << args[0] << ": " << r.output;
  }
  EXPECT_FALSE(std::filesystem::exists(dir_.File("b.db")));
  if (GetParam() == StoreKind::Sqlite) {
    EXPECT_FALSE(std::filesystem::exists(db.Location()));
  }

  {
    ServerProcess created(ServerBinary(), db.Location());  // serve --create
    RpcClient rpc(created.Port());
    EXPECT_TRUE(rpc.Call("getDados").ok);
    EXPECT_EQ(created.Stop(), 0);
  }
  const CommandResult audit = RunServerCommand({"audit", "--db", db.Location()});
  EXPECT_EQ(audit.status, 0) << audit.output;
  const CommandResult init = RunServerCommand({"init", "--db", db.Location()});
  EXPECT_EQ(init.status, 0) << init.output;
}

TEST_P(StoreKindTest, StoreNewerThanTheServerIsRefusedNamingBothVersions) {
  TestDatabase db(GetParam(), dir_);
  ASSERT_EQ(RunServerCommand({"init", "--db", db.Location()}).status, 0);
  const std::string newer = std::to_string(Store::kSchemaVersion + 1);
  if (GetParam() == StoreKind::Sqlite) {
    SqliteDatabase(db.Location(), SqliteDatabase::Mode::ReadWrite).Exec("PRAGMA user_version = " + newer);
  } else {
    PgConnection(db.Location()).Exec("UPDATE CONTROLE SET NRVALOR = " + newer + " WHERE NMCHAVE = 'VERSAO_ESQUEMA'");
  }
  for (const char* command : {"serve", "audit", "migrate"}) {
    const CommandResult r = RunServerCommand({command, "--db", db.Location()});
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("schema version " + newer + ", newer than version " + kCurrent), std::string::npos)
        << r.output;
  }
}

// The stores of earlier releases (tests/data), upgraded: every row of every table as it was.
class StoreUpgrade : public ::testing::TestWithParam<int> {};
INSTANTIATE_TEST_SUITE_P(Releases, StoreUpgrade, ::testing::Values(1, 2, 3),
                         [](const auto& p) { return "Release" + std::to_string(p.param); });

TEST_P(StoreUpgrade, SqliteStoreIsCopiedThenMigratedAtStartKeepingEveryRow) {
  const int release = GetParam();
  TempDir dir;
  const std::string old = ReleaseStore(release, dir), version = std::to_string(release);
  const std::string db = dir.File("s.db");
  std::filesystem::copy_file(old, db);
  const std::string packets = SqliteOne(db, "SELECT COUNT(*) FROM AUDITORIA");

  ServerProcess process(ServerBinary(), db);
  EXPECT_NE(process.Log().find("migrated the schema of " + db + " from version " + version + " to " + kCurrent),
            std::string::npos)
      << process.Log();
  EXPECT_EQ(SqliteOne(db, "PRAGMA user_version"), kCurrent);
  EXPECT_EQ(SqliteOne(db + ".v" + version + ".backup", "PRAGMA user_version"), release == 1 ? "0" : version);
  for (const char* table : kTables) {
    EXPECT_EQ(SortedSqliteRows(db, table), SortedSqliteRows(old, table)) << table;
    EXPECT_EQ(SortedSqliteRows(db + ".v" + version + ".backup", table), SortedSqliteRows(old, table)) << table;
  }
  EXPECT_EQ(SqliteOne(db, "SELECT COUNT(*) FROM AUDITORIA WHERE IDACESSO <> ''"), "0");
  RpcClient rpc(process.Port());
  const Answer suppliers = rpc.Call("getFornecedor");
  ASSERT_TRUE(suppliers.ok);
  EXPECT_EQ(ReadPacket(suppliers.dataJson).rows.size(), std::stoul(SqliteOne(db, "SELECT COUNT(*) FROM DESONERA_FORNECEDOR")));
  const Answer listVersion = rpc.Call("getVersaoListas");
  ASSERT_TRUE(listVersion.ok) << listVersion.body;
  const Answer saved = rpc.Call("SetFilial", {Changes(BranchFields(), {{ChangeOp::Insert, {"P000000001", "CE01", ""}}})});
  EXPECT_TRUE(saved.ok) << saved.body;
  // The migrated store tells the save's change to a client holding the version read before it.
  const std::string since = listVersion.dataJson.substr(1, listVersion.dataJson.size() - 2);
  const Answer changes = rpc.Call("getFilialDesde", {host::wire::JsonRpcParam::Text(since)});
  EXPECT_NE(changes.dataJson.find(",false,[\"P000000001\"],"), std::string::npos) << changes.body;
  EXPECT_EQ(process.Stop(), 0);

  const CommandResult audit = RunServerCommand({"audit", "--db", db});
  EXPECT_EQ(audit.status, 0) << audit.output;
  const size_t next = std::stoul(packets) + 1;
  EXPECT_EQ(Count(audit.output, "  packet "), next) << audit.output;
  EXPECT_NE(audit.output.find("packet " + std::to_string(next) + "  SetFilial"), std::string::npos) << audit.output;
  // Opened again: nothing more to migrate, no second copy.
  EXPECT_EQ(RunServerCommand({"audit", "--db", db}).output.find("migrated"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(db + ".v" + version + ".backup.1"));
}

TEST_P(StoreUpgrade, PostgresStoreIsMigratedByTheMigrateCommandKeepingEveryRow) {
  PDI_SKIP_UNLESS_STORE(StoreKind::Postgres);
  const int release = GetParam();
  const std::string version = std::to_string(release);
  TempDir dir;
  TestDatabase db(StoreKind::Postgres, dir);
  PgConnection(db.Location()).Exec(ReleaseScript(release));

  const CommandResult refused = RunServerCommand({"serve", "--db", db.Location(), "--listen", "127.0.0.1:0"});
  EXPECT_EQ(refused.status, 1) << refused.output;
  EXPECT_NE(refused.output.find("has schema version " + version + "; this server needs version " + kCurrent),
            std::string::npos)
      << refused.output;
  EXPECT_NE(refused.output.find("pdi07310-server migrate --db"), std::string::npos) << refused.output;

  const CommandResult migrated = RunServerCommand({"migrate", "--db", db.Location()});
  ASSERT_EQ(migrated.status, 0) << migrated.output;
  EXPECT_NE(migrated.output.find("migrated the schema from version " + version + " to " + kCurrent), std::string::npos)
      << migrated.output;
  EXPECT_EQ(db.One("SELECT NRVALOR FROM CONTROLE WHERE NMCHAVE = 'VERSAO_ESQUEMA'"), kCurrent);
  for (const char* table : kTables) {
    EXPECT_EQ(SortedRows(db, table), SortedSqliteRows(ReleaseStore(release, dir), table)) << table;
  }
  const std::string packets = db.One("SELECT COUNT(*) FROM AUDITORIA");
  ServerProcess process(ServerBinary(), db.Location());
  RpcClient rpc(process.Port());
  const Answer saved = rpc.Call("SetFilial", {Changes(BranchFields(), {{ChangeOp::Insert, {"P000000001", "CE01", ""}}})});
  EXPECT_TRUE(saved.ok) << saved.body;
  EXPECT_EQ(process.Stop(), 0);
  const CommandResult audit = RunServerCommand({"audit", "--db", db.Location()});
  const size_t next = std::stoul(packets) + 1;
  EXPECT_EQ(Count(audit.output, "  packet "), next) << audit.output;
  EXPECT_NE(audit.output.find("packet " + std::to_string(next) + "  SetFilial"), std::string::npos) << audit.output;
}

// What is not a store is refused by every command that takes one, naming what it is, and left
// exactly as it was: the desktops' local database (whose tables have the store's master tables'
// names), another SQLite database, a file that is not SQLite at all.
TEST(StoreRecognition, FilesThatAreNotStoresAreRefusedByEveryStoreCommandUntouched) {
  TempDir dir;
  const std::string store = dir.File("s.db");
  const std::string local = dir.File("l.db");
  ASSERT_EQ(RunServerCommand({"demo", "--db", store, "--local", local, "--products", "20", "--rows-per-product", "3"})
                .status, 0);
  const std::string other = dir.File("other.db");
  SqliteDatabase(other, SqliteDatabase::Mode::CreatePlain).Exec("CREATE TABLE PRODUTO (A TEXT); CREATE TABLE NOTA (B TEXT)");
  const std::string text = dir.File("notes.txt");
  std::ofstream(text) << std::string(4096, 'n');
  for (const auto& [file, says] : std::vector<std::pair<std::string, std::string>>{
           {local, "is the desktops' local database (tables CLIENTE, FILIAL, FORNECEDOR, PRODUTO)"},
           {other, "is not a server store (it holds the tables NOTA, PRODUTO)"},
           {text, "is not an SQLite database"}}) {
    const std::string before = FileBytes(file);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"serve", "--db", file, "--listen", "127.0.0.1:0"}, {"audit", "--db", file},
          {"migrate", "--db", file}, {"init", "--db", file}, {"backup", "--db", file, dir.File("b.db")},
          {"restore", "--db", dir.File("r.db"), file}, {"export-local", "--db", file, dir.File("x.db")},
          {"import-master", "--db", file, local}, {"demo", "--db", file, "--local", dir.File("y.db")}}) {
      const CommandResult r = RunServerCommand(args);
      EXPECT_EQ(r.status, 1) << args[0] << " " << file << ": " << r.output;
      EXPECT_NE(r.output.find(says), std::string::npos) << args[0] << " " << file << ": " << r.output;
    }
    EXPECT_EQ(FileBytes(file), before) << file;
    for (const char* side : {"-wal", "-shm", ".v1.backup"}) EXPECT_FALSE(std::filesystem::exists(file + side)) << side;
  }
  for (const char* made : {"b.db", "r.db", "x.db", "y.db"}) EXPECT_FALSE(std::filesystem::exists(dir.File(made))) << made;
  // Nor is a store ever written over as a local database.
  const CommandResult over = RunServerCommand({"export-local", "--db", store, store});
  EXPECT_EQ(over.status, 1) << over.output;
  EXPECT_NE(over.output.find("which a local database does not"), std::string::npos) << over.output;
  EXPECT_EQ(SqliteOne(store, "SELECT COUNT(*) FROM DESONERA_FORNECEDOR") != "0", true);
  EXPECT_EQ(SqliteOne(store, "SELECT COUNT(*) FROM PRODUTO"), "25");
}

// Garbage written over the middle of a store: refused before anything is done to it, a first-
// release store before its migration copy is made.
TEST(StoreRecognition, ADamagedStoreIsRefusedBeforeAnythingIsDoneToIt) {
  TempDir dir;
  const std::string store = dir.File("s.db");
  ASSERT_EQ(RunServerCommand({"demo", "--db", store, "--local", dir.File("l.db"), "--products", "300",
                              "--rows-per-product", "6"}).status, 0);
  const std::string old = dir.File("old.db");
  std::filesystem::copy_file(ReleaseStore(1, dir), old);
  for (const std::string& file : {store, old}) {
    {
      std::fstream f(file, std::ios::binary | std::ios::in | std::ios::out);
      const auto pages = std::filesystem::file_size(file) / 4096;
      f.seekp(static_cast<std::streamoff>(pages / 2 * 4096));  // over a page's header and cells
      f << std::string(2048, '\xA5');
    }
    const std::string before = FileBytes(file);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"serve", "--db", file, "--listen", "127.0.0.1:0"}, {"audit", "--db", file},
          {"migrate", "--db", file}, {"backup", "--db", file, dir.File("b.db")}}) {
      const CommandResult r = RunServerCommand(args);
      EXPECT_EQ(r.status, 1) << args[0] << ": " << r.output;
      EXPECT_NE(r.output.find("the server database " + file + " is damaged"), std::string::npos)
          << args[0] << ": " << r.output;
      EXPECT_NE(r.output.find("restore it from a backup"), std::string::npos) << args[0] << ": " << r.output;
    }
    EXPECT_EQ(FileBytes(file), before);
  }
  EXPECT_FALSE(std::filesystem::exists(old + ".v1.backup"));
  EXPECT_FALSE(std::filesystem::exists(dir.File("b.db")));
}

// A disk that fills up under a running server: the clerk is told so, with the reference of the
// log line, and the log says what failed.
TEST(StoreDiskFull, AFullDiskIsSaidToTheClerkWithTheReference) {
  TempDir dir;
  const std::string db = dir.File("s.db");
  ASSERT_EQ(RunServerCommand({"demo", "--db", db, "--local", dir.File("l.db"), "--products", "20",
                              "--rows-per-product", "3"}).status, 0);
  // The server may not write a file much larger than the store is now: its log fills that soon,
  // as it would fill a disk.
  const std::string limited = dir.File("limited.sh");
  std::ofstream(limited) << "#!/bin/bash\nulimit -f " << std::filesystem::file_size(db) / 1024 + 64
                         << "\ntrap '' XFSZ\nexec " << ServerBinary() << " \"$@\"\n";
  std::filesystem::permissions(limited, std::filesystem::perms::owner_all);
  ServerProcess process(limited, db);
  RpcClient rpc(process.Port());
  std::vector<std::pair<ChangeOp, std::vector<std::string>>> churn;
  for (int i = 0; i < 200; ++i) {
    churn.push_back({ChangeOp::Delete, {"P000000001", "0001", ""}});
    churn.push_back({ChangeOp::Insert, {"P000000001", "0001", ""}});
  }
  std::string refusal;
  for (int i = 0; i < 300 && refusal.empty(); ++i) {
    const Answer a = rpc.Call("SetFilial", {Changes(BranchFields(), churn)});
    if (!a.ok) refusal = a.refusal;
  }
  std::smatch match;
  ASSERT_TRUE(std::regex_match(refusal, match, std::regex(R"(O servidor está sem espaço em disco; avise o suporte\. .*Referência ([0-9A-F]{8})\.)")))
      << refusal << "\n" << process.Log();
  const std::string reference = match[1];
  EXPECT_TRUE(process.LogShows("reference " + reference + ": disk full")) << process.Log();
}

// audit, export-local and backup only read: a store of the first release, which an older server
// may still be serving, is read as it is and comes out unchanged (before, audit migrated it).
TEST_P(StoreKindTest, ReadOnlyCommandsReadAnOlderStoreAsItIsAndNeverMigrateIt) {
  TestDatabase db(GetParam(), dir_);
  std::string before;
  if (GetParam() == StoreKind::Sqlite) {
    std::filesystem::copy_file(ReleaseStore(1, dir_), db.Location());
    std::ifstream in(db.Location(), std::ios::binary);
    before.assign(std::istreambuf_iterator<char>(in), {});
  } else {
    PgConnection(db.Location()).Exec(ReleaseScript(1));
  }
  const CommandResult audit = RunServerCommand({"audit", "--db", db.Location()});
  EXPECT_EQ(audit.status, 0) << audit.output;
  EXPECT_EQ(Count(audit.output, "  packet "), 3u) << audit.output;
  const CommandResult exported = RunServerCommand({"export-local", "--db", db.Location(), dir_.File("l.db")});
  EXPECT_EQ(exported.status, 0) << exported.output;
  const CommandResult backup = RunServerCommand({"backup", "--db", db.Location(), dir_.File("b.db")});
  EXPECT_EQ(backup.status, 0) << backup.output;
  EXPECT_EQ(SortedSqliteRows(dir_.File("b.db"), "DESONERA_FORNECEDOR"), SortedRows(db, "DESONERA_FORNECEDOR"));
  for (const CommandResult* r : {&audit, &exported, &backup}) {
    EXPECT_EQ(r->output.find("migrated"), std::string::npos) << r->output;
  }
  if (GetParam() == StoreKind::Sqlite) {
    std::ifstream in(db.Location(), std::ios::binary);
    EXPECT_TRUE(std::string(std::istreambuf_iterator<char>(in), {}) == before) << "the store's file changed";
    EXPECT_EQ(SqliteOne(db.Location(), "PRAGMA user_version"), "0");
    EXPECT_FALSE(std::filesystem::exists(db.Location() + ".v1.backup"));
  } else {
    EXPECT_EQ(db.One("SELECT to_regclass('controle') IS NULL"), "t");
  }
}

// The SQLite store of a running server, deleted or replaced by another file: saves fail.
class StoreFileTest : public ServiceFixture {};
INSTANTIATE_TEST_SUITE_P(Stores, StoreFileTest, ::testing::Values(StoreKind::Sqlite), StoreParamName());

TEST_P(StoreFileTest, SavesAfterTheFileWasReplacedOrDeletedFailAndTheLogSaysSo) {
  Save("SetFornecedor", SupplierFields(), {{ChangeOp::Insert, SupplierRow("P1", "F1")}});
  const CommandResult backup = RunServerCommand({"backup", "--db", db_, dir_.File("copy.db")});
  ASSERT_EQ(backup.status, 0) << backup.output;
  std::filesystem::rename(dir_.File("copy.db"), db_);  // same path, another file

  const std::string replaced = Refused("SetFornecedor", SupplierFields(), {{ChangeOp::Insert, SupplierRow("P1", "F2")}});
  EXPECT_NE(replaced.find("O banco de dados do servidor foi removido ou substituído"), std::string::npos) << replaced;
  EXPECT_EQ(replaced.find(db_), std::string::npos) << "the server's file name reached the client: " << replaced;

  for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(db_ + suffix);
  const std::string deleted = Refused("SetCliente", ClientFields(), {{ChangeOp::Insert, ClientRow("P1", "C1")}});
  EXPECT_NE(deleted.find("removido ou substituído"), std::string::npos) << deleted;
  process_->LogOnceItHolds(db_ + " was deleted");
  EXPECT_NE(process_->Log().find("the server database file " + db_ + " was replaced by another file"),
            std::string::npos)
      << process_->Log();
  EXPECT_NE(process_->Log().find("the server database file " + db_ + " was deleted"), std::string::npos)
      << process_->Log();
  EXPECT_FALSE(std::filesystem::exists(db_)) << "a save recreated the deleted file";
}

// Backups taken while clients save.
class BackupTest : public ServiceFixture {
 protected:
  void SetUp() override {
    ServiceFixture::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    WriteGridMasterFile(dir_.File("grid.db"));
    const CommandResult imported = RunServerCommand({"import-master", "--db", db_, dir_.File("grid.db")});
    ASSERT_EQ(imported.status, 0) << imported.output;
  }
};
INSTANTIATE_TEST_SUITE_P(Stores, BackupTest, ::testing::Values(StoreKind::Sqlite, StoreKind::Postgres),
                         StoreParamName());

TEST_P(BackupTest, CopyTakenWhileSavingHoldsEverySaveAcknowledgedBeforeItBeganAndRestores) {
  constexpr int kClients = 4;
  constexpr int kPairs = kProducts * kSuppliers;
  std::mutex mutex;
  std::set<std::string> acknowledged;
  std::atomic<int> next{0};
  std::atomic<bool> stop{false};
  std::atomic<int> failures{0};
  std::vector<std::thread> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([&] {
      RpcClient rpc(process_->Port());
      for (int n = next++; n < kPairs && !stop; n = next++) {
        const Answer a = rpc.Call("SetFornecedor", {Changes(SupplierFields(), {{ChangeOp::Insert, GridRow(n)}})});
        if (!a.ok) {
          ++failures;
          continue;
        }
        std::lock_guard<std::mutex> lock(mutex);
        acknowledged.insert(GridRow(n)[0] + "|" + GridRow(n)[4]);
      }
    });
  }
  // Wait (bounded) for saves to be under way, then take the backup while they go on.
  for (int i = 0; i < 1000 && next < 100; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::set<std::string> before;
  {
    std::lock_guard<std::mutex> lock(mutex);
    before = acknowledged;
  }
  const std::string copy = dir_.File("backup.db");
  const CommandResult backup = RunServerCommand({"backup", "--db", db_, copy});
  const int startedAfter = next;
  for (int i = 0; i < 1000 && next < startedAfter + 50 && next < kPairs; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  stop = true;
  for (auto& t : clients) t.join();
  ASSERT_EQ(backup.status, 0) << backup.output;
  EXPECT_EQ(failures, 0);
  EXPECT_GT(before.size(), 50u);

  EXPECT_EQ(StoreBackup::IntegrityCheck(copy), "ok");
  std::set<std::string> inCopy;
  for (const auto& row : SortedSqliteRows(copy, "DESONERA_FORNECEDOR")) inCopy.insert(row.substr(0, row.rfind('|')));
  for (const auto& pair : before) EXPECT_TRUE(inCopy.count(pair)) << pair << " acknowledged before the backup";
  std::set<std::string> all;
  {
    std::lock_guard<std::mutex> lock(mutex);
    all = acknowledged;
  }
  for (const auto& pair : inCopy) EXPECT_TRUE(all.count(pair)) << pair << " was never acknowledged";
  // Pairs and audit trail come from one snapshot: one audited packet per stored pair.
  EXPECT_EQ(SqliteOne(copy, "SELECT COUNT(*) FROM AUDITORIA"), std::to_string(inCopy.size()));
  EXPECT_EQ(SqliteOne(copy, "SELECT COUNT(*) FROM PRODUTO"), std::to_string(kProducts + 4));

  // The copy is a store serve runs on.
  {
    ServerProcess fromCopy(ServerBinary(), copy);
    RpcClient rpc(fromCopy.Port());
    const Answer a = rpc.Call("getFornecedor");
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(ReadPacket(a.dataJson).rows.size(), inCopy.size());
    EXPECT_EQ(fromCopy.Stop(), 0);
  }

  // Restored into a new store of the same kind: the same rows.
  TestDatabase restored(GetParam(), dir_, "restored");
  const CommandResult restore = RunServerCommand({"restore", "--db", restored.Location(), copy});
  ASSERT_EQ(restore.status, 0) << restore.output;
  for (const char* table : {"PRODUTO", "FORNECEDOR", "DESONERA_FORNECEDOR", "DESONERA_CLIENTE", "DESONERA_FILIAL"}) {
    EXPECT_EQ(SortedRows(restored, table), SortedSqliteRows(copy, table)) << table;
  }
  EXPECT_EQ(restored.One("SELECT COUNT(*) FROM AUDITORIA_ITEM"), SqliteOne(copy, "SELECT COUNT(*) FROM AUDITORIA_ITEM"));
  const CommandResult again = RunServerCommand({"restore", "--db", restored.Location(), copy});
  EXPECT_EQ(again.status, 1) << "a restore over a store with data must be refused";
}

TEST_P(BackupTest, ABackupNeverReplacesTheStoreAndReplacesAnotherFileOnlyWhenAsked) {
  Save("SetFornecedor", SupplierFields(), {{ChangeOp::Insert, GridRow(0)}});
  if (GetParam() == StoreKind::Sqlite) {
    // The store, its side files, the store under another name: refused, --force or not, and not a
    // byte of the store changes (a copy written over its log would lose the saves in it).
    const std::string alias = dir_.File("alias.db");
    std::filesystem::create_hard_link(db_, alias);
    const std::string before = FileBytes(db_) + FileBytes(db_ + "-wal");
    const std::string name = std::filesystem::path(db_).filename().string();
    for (const std::string& target : {db_, db_ + "-wal", db_ + "-shm", db_ + "-journal", dir_.File("./" + name), alias}) {
      for (const bool force : {false, true}) {
        std::vector<std::string> args = {"backup", "--db", db_, target};
        if (force) args.push_back("--force");
        const CommandResult r = RunServerCommand(args);
        EXPECT_EQ(r.status, 1) << target << ": " << r.output;
        EXPECT_NE(r.output.find("a copy never replaces the store"), std::string::npos) << target << ": " << r.output;
      }
    }
    EXPECT_EQ(FileBytes(db_) + FileBytes(db_ + "-wal"), before);
    EXPECT_FALSE(std::filesystem::exists(db_ + "-journal"));
  }
  const std::string old = dir_.File("old.db");
  std::ofstream(old) << "keep me";
  const CommandResult kept = RunServerCommand({"backup", "--db", db_, old});
  EXPECT_EQ(kept.status, 1) << kept.output;
  EXPECT_NE(kept.output.find("a file already exists at " + old), std::string::npos) << kept.output;
  EXPECT_EQ(FileBytes(old), "keep me");
  const CommandResult replaced = RunServerCommand({"backup", "--db", db_, old, "--force"});
  ASSERT_EQ(replaced.status, 0) << replaced.output;
  EXPECT_EQ(SqliteOne(old, "SELECT COUNT(*) FROM DESONERA_FORNECEDOR"), "1");
  // The copy is one file: nothing beside it, however it is opened.
  for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(old).parent_path())) {
    const std::string file = entry.path().filename().string();
    EXPECT_EQ(file.find("old.db-"), std::string::npos) << file;
    EXPECT_EQ(file.find(".part"), std::string::npos) << file;
  }
}

}  // namespace
}  // namespace server::test
