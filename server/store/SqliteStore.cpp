#include "server/store/SqliteStore.h"

#include <sys/stat.h>

#include <array>
#include <map>

#include "server/store/JoinedList.h"
#include "server/store/SqliteBackup.h"

#include "server/store/SqliteStatement.h"

namespace server {
namespace {

constexpr const char* kSchema = R"SQL(
CREATE TABLE IF NOT EXISTS PRODUTO (
  CDPRODUTO TEXT NOT NULL PRIMARY KEY,
  CDARVPROD TEXT NOT NULL DEFAULT '',
  NMPRODUTO TEXT NOT NULL DEFAULT '') WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS PRODUTO_CDARVPROD ON PRODUTO (CDARVPROD, CDPRODUTO);
CREATE TABLE IF NOT EXISTS FORNECEDOR (
  NRINSJURFORN TEXT NOT NULL DEFAULT '',
  NMRAZSOCFORN TEXT NOT NULL DEFAULT '',
  IDTPIJURFORN TEXT NOT NULL DEFAULT '',
  CDFORNECED TEXT NOT NULL PRIMARY KEY) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS FORNECEDOR_NRINSJURFORN ON FORNECEDOR (NRINSJURFORN);
CREATE TABLE IF NOT EXISTS CLIENTE (
  NRINSJURCLIE TEXT NOT NULL DEFAULT '',
  NMRAZSOCCLIE TEXT NOT NULL DEFAULT '',
  IDTPIJURCLIE TEXT NOT NULL DEFAULT '',
  CDCLIENTE TEXT NOT NULL PRIMARY KEY) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS CLIENTE_NRINSJURCLIE ON CLIENTE (NRINSJURCLIE);
CREATE TABLE IF NOT EXISTS FILIAL (
  CDFILIAL TEXT NOT NULL PRIMARY KEY,
  NMFILIAL TEXT NOT NULL DEFAULT '') WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS DESONERA_FORNECEDOR (
  CDPRODUTODES TEXT NOT NULL,
  CDFORNECED TEXT NOT NULL,
  CDFORNECEDDES TEXT NOT NULL DEFAULT '',
  PRIMARY KEY (CDPRODUTODES, CDFORNECED)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS DESONERA_CLIENTE (
  CDPRODUTODES TEXT NOT NULL,
  CDCLIENTE TEXT NOT NULL,
  CDCLIENTEDES TEXT NOT NULL DEFAULT '',
  PRIMARY KEY (CDPRODUTODES, CDCLIENTE)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS DESONERA_FILIAL (
  CDPRODUTODES TEXT NOT NULL,
  CDFILIALDES TEXT NOT NULL,
  PRIMARY KEY (CDPRODUTODES, CDFILIALDES)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS AUDITORIA (
  NRPACOTE INTEGER PRIMARY KEY,
  DTHRALTERACAO TEXT NOT NULL,
  NMMETODO TEXT NOT NULL,
  DSENDERECO TEXT NOT NULL DEFAULT '',
  NMUSUARIO TEXT NOT NULL DEFAULT '');
CREATE INDEX IF NOT EXISTS AUDITORIA_DTHRALTERACAO ON AUDITORIA (DTHRALTERACAO);
CREATE TABLE IF NOT EXISTS AUDITORIA_ITEM (
  NRPACOTE INTEGER NOT NULL REFERENCES AUDITORIA (NRPACOTE),
  NRITEM INTEGER NOT NULL,
  IDOPERACAO TEXT NOT NULL,
  CDPRODUTO TEXT NOT NULL,
  CDITEM TEXT NOT NULL DEFAULT '',
  CDITEMDES TEXT NOT NULL DEFAULT '',
  QTLINHAS INTEGER NOT NULL DEFAULT 0,
  PRIMARY KEY (NRPACOTE, NRITEM)) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS AUDITORIA_ITEM_CDPRODUTO ON AUDITORIA_ITEM (CDPRODUTO);
CREATE TABLE IF NOT EXISTS CONTROLE (
  NMCHAVE TEXT NOT NULL PRIMARY KEY,
  NRVALOR INTEGER NOT NULL) WITHOUT ROWID;
INSERT OR IGNORE INTO CONTROLE (NMCHAVE, NRVALOR) VALUES ('VERSAO_CADASTRO', 1);
)SQL";
// kSchema makes a new store and completes an older one (every statement is idempotent); the
// version is written in the same transaction.

constexpr const char* kMasterVersionSql = "SELECT NRVALOR FROM CONTROLE WHERE NMCHAVE = 'VERSAO_CADASTRO'";
constexpr const char* kMasterChangedSql = "UPDATE CONTROLE SET NRVALOR = NRVALOR + 1 WHERE NMCHAVE = 'VERSAO_CADASTRO'";

constexpr const char* kAuditSql =
    "SELECT a.NRPACOTE, a.DTHRALTERACAO, a.NMMETODO, a.DSENDERECO, a.NMUSUARIO, i.NRITEM, i.IDOPERACAO,"
    " i.CDPRODUTO, i.CDITEM, i.CDITEMDES, i.QTLINHAS"
    " FROM AUDITORIA a LEFT JOIN AUDITORIA_ITEM i ON i.NRPACOTE = a.NRPACOTE"
    " WHERE a.DTHRALTERACAO >= ?1 AND (?2 = '' OR i.CDPRODUTO = ?2)"
    " ORDER BY a.NRPACOTE, i.NRITEM";

// The SQL of the lists that are not joined lists (see JoinedList.h): products, and branches,
// whose code is their key.
const char* ListSql(ListKind kind) {
  switch (kind) {
    case ListKind::Product:
      return "SELECT p.CDARVPROD, p.CDPRODUTO, p.NMPRODUTO FROM PRODUTO p"
             " WHERE EXISTS (SELECT 1 FROM DESONERA_FORNECEDOR d WHERE d.CDPRODUTODES = p.CDPRODUTO)"
             "    OR EXISTS (SELECT 1 FROM DESONERA_CLIENTE d WHERE d.CDPRODUTODES = p.CDPRODUTO)"
             "    OR EXISTS (SELECT 1 FROM DESONERA_FILIAL d WHERE d.CDPRODUTODES = p.CDPRODUTO)"
             " ORDER BY p.CDARVPROD, p.CDPRODUTO";
    case ListKind::Branch:
      return "SELECT d.CDPRODUTODES, d.CDFILIALDES, b.NMFILIAL FROM DESONERA_FILIAL d"
             " LEFT JOIN FILIAL b ON b.CDFILIAL = d.CDFILIALDES"
             " ORDER BY d.CDPRODUTODES, d.CDFILIALDES";
    case ListKind::Supplier:
    case ListKind::Client: break;
  }
  return "";
}

// Statements a session prepares once and reuses, by purpose.
enum class Sql {
  PutProduct, PutSupplier, PutClient, PutBranch,
  CodeProduct, CodeSupplier, CodeClient, CodeBranch,
  ProductListed,
  StoredSupplier, StoredClient, StoredBranch,
  InsertSupplier, InsertClient, InsertBranch,
  DeleteSupplier, DeleteClient, DeleteBranch,
  DeleteProductSuppliers, DeleteProductClients, DeleteProductBranches,
  CountProduct, CountSupplier, CountClient, CountBranch,
  CountSupplierPairs, CountClientPairs, CountBranchPairs,
  AuditPacket, AuditChange,
};

const char* SqlText(Sql sql) {
  switch (sql) {
    case Sql::PutProduct: return "INSERT OR REPLACE INTO PRODUTO (CDPRODUTO, CDARVPROD, NMPRODUTO) VALUES (?1, ?2, ?3)";
    case Sql::PutSupplier:
      return "INSERT OR REPLACE INTO FORNECEDOR (NRINSJURFORN, NMRAZSOCFORN, IDTPIJURFORN, CDFORNECED)"
             " VALUES (?1, ?2, ?3, ?4)";
    case Sql::PutClient:
      return "INSERT OR REPLACE INTO CLIENTE (NRINSJURCLIE, NMRAZSOCCLIE, IDTPIJURCLIE, CDCLIENTE)"
             " VALUES (?1, ?2, ?3, ?4)";
    case Sql::PutBranch: return "INSERT OR REPLACE INTO FILIAL (CDFILIAL, NMFILIAL) VALUES (?1, ?2)";
    case Sql::CodeProduct: return "SELECT CDARVPROD FROM PRODUTO WHERE CDPRODUTO = ?1";
    case Sql::CodeSupplier: return "SELECT NRINSJURFORN FROM FORNECEDOR WHERE CDFORNECED = ?1";
    case Sql::CodeClient: return "SELECT NRINSJURCLIE FROM CLIENTE WHERE CDCLIENTE = ?1";
    case Sql::CodeBranch: return "SELECT CDFILIAL FROM FILIAL WHERE CDFILIAL = ?1";
    case Sql::ProductListed:
      return "SELECT EXISTS (SELECT 1 FROM DESONERA_FORNECEDOR WHERE CDPRODUTODES = ?1)"
             " OR EXISTS (SELECT 1 FROM DESONERA_CLIENTE WHERE CDPRODUTODES = ?1)"
             " OR EXISTS (SELECT 1 FROM DESONERA_FILIAL WHERE CDPRODUTODES = ?1)";
    case Sql::StoredSupplier:
      return "SELECT 1 FROM DESONERA_FORNECEDOR WHERE CDPRODUTODES = ?1 AND CDFORNECED = ?2";
    case Sql::StoredClient: return "SELECT 1 FROM DESONERA_CLIENTE WHERE CDPRODUTODES = ?1 AND CDCLIENTE = ?2";
    case Sql::StoredBranch: return "SELECT 1 FROM DESONERA_FILIAL WHERE CDPRODUTODES = ?1 AND CDFILIALDES = ?2";
    case Sql::InsertSupplier:
      return "INSERT OR IGNORE INTO DESONERA_FORNECEDOR (CDPRODUTODES, CDFORNECED, CDFORNECEDDES) VALUES (?1, ?2, ?3)";
    case Sql::InsertClient:
      return "INSERT OR IGNORE INTO DESONERA_CLIENTE (CDPRODUTODES, CDCLIENTE, CDCLIENTEDES) VALUES (?1, ?2, ?3)";
    case Sql::InsertBranch: return "INSERT OR IGNORE INTO DESONERA_FILIAL (CDPRODUTODES, CDFILIALDES) VALUES (?1, ?2)";
    case Sql::DeleteSupplier: return "DELETE FROM DESONERA_FORNECEDOR WHERE CDPRODUTODES = ?1 AND CDFORNECED = ?2";
    case Sql::DeleteClient: return "DELETE FROM DESONERA_CLIENTE WHERE CDPRODUTODES = ?1 AND CDCLIENTE = ?2";
    case Sql::DeleteBranch: return "DELETE FROM DESONERA_FILIAL WHERE CDPRODUTODES = ?1 AND CDFILIALDES = ?2";
    case Sql::DeleteProductSuppliers: return "DELETE FROM DESONERA_FORNECEDOR WHERE CDPRODUTODES = ?1";
    case Sql::DeleteProductClients: return "DELETE FROM DESONERA_CLIENTE WHERE CDPRODUTODES = ?1";
    case Sql::DeleteProductBranches: return "DELETE FROM DESONERA_FILIAL WHERE CDPRODUTODES = ?1";
    case Sql::CountProduct: return "SELECT COUNT(*) FROM PRODUTO";
    case Sql::CountSupplier: return "SELECT COUNT(*) FROM FORNECEDOR";
    case Sql::CountClient: return "SELECT COUNT(*) FROM CLIENTE";
    case Sql::CountBranch: return "SELECT COUNT(*) FROM FILIAL";
    case Sql::CountSupplierPairs: return "SELECT COUNT(*) FROM DESONERA_FORNECEDOR";
    case Sql::CountClientPairs: return "SELECT COUNT(*) FROM DESONERA_CLIENTE";
    case Sql::CountBranchPairs: return "SELECT COUNT(*) FROM DESONERA_FILIAL";
    case Sql::AuditPacket:
      return "INSERT INTO AUDITORIA (DTHRALTERACAO, NMMETODO, DSENDERECO, NMUSUARIO) VALUES (?1, ?2, ?3, ?4)";
    case Sql::AuditChange:
      return "INSERT INTO AUDITORIA_ITEM (NRPACOTE, NRITEM, IDOPERACAO, CDPRODUTO, CDITEM, CDITEMDES, QTLINHAS)"
             " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)";
  }
  return "";
}

// Picks the statement of a related list from three by kind.
Sql ByKind(ListKind kind, Sql supplier, Sql client, Sql branch) {
  switch (kind) {
    case ListKind::Supplier: return supplier;
    case ListKind::Client: return client;
    case ListKind::Branch: return branch;
    case ListKind::Product: break;
  }
  throw EStoreError("internal error: a related list was expected");
}

// Rethrows an SQLite failure as a store failure.
[[noreturn]] void Rethrow(const ESqliteError& e) {
  const int primary = e.Code() & 0xFF;
  throw EStoreError(e.what(), primary == SQLITE_BUSY || primary == SQLITE_LOCKED);
}

}  // namespace

struct SqliteStore::PooledConnection {
  PooledConnection(const std::string& path, bool create, bool fullSync)
      : db(path, create ? SqliteDatabase::Mode::ReadWriteCreate : SqliteDatabase::Mode::ReadWrite) {
    db.Exec(fullSync ? "PRAGMA synchronous=FULL;" : "PRAGMA synchronous=NORMAL;");
  }
  SqliteDatabase db;
  std::map<Sql, SqliteStatement> statements;  // prepared once, reused by every session
};

namespace {

class SqliteCursor : public RowCursor {
 public:
  SqliteCursor(SqliteDatabase& db, const char* sql, std::span<const std::string_view> args = {})
      : stmt_(db.Prepare(sql)) {
    for (size_t i = 0; i < args.size(); ++i) stmt_.Bind(static_cast<int>(i + 1), args[i]);
    row_.resize(static_cast<size_t>(stmt_.ColumnCount()));
  }
  bool Next() override {
    try {
      if (!stmt_.Step()) return false;
    } catch (const ESqliteError& e) {
      Rethrow(e);
    }
    for (size_t i = 0; i < row_.size(); ++i) row_[i] = stmt_.Text(static_cast<int>(i));
    return true;
  }
  std::span<const std::string_view> Row() const override { return row_; }

 private:
  SqliteStatement stmt_;
  std::vector<std::string_view> row_;
};

// An item's master entry for a joined list, looked up once per read and remembered (a list
// names each supplier many times), misses included.
class SqliteMasterLookup {
 public:
  SqliteMasterLookup(SqliteDatabase& db, const JoinedList& list) : statement_(db.Prepare(list.masterSql)) {}

  const MasterEntry* operator()(std::string_view key) {
    const MasterEntry* entry = entries_.Find(key);
    if (!entry) {
      if (entries_.Size() >= kMostRemembered) entries_.Clear();
      MasterEntry read;
      read.key = key;
      try {
        statement_.Reset();
        statement_.Bind(1, key);
        read.found = statement_.Step();
        if (read.found) {
          for (size_t i = 0; i < read.values.size(); ++i) read.values[i] = statement_.Text(static_cast<int>(i));
        }
        statement_.Reset();
      } catch (const ESqliteError& e) {
        Rethrow(e);
      }
      entry = &entries_.Add(std::move(read));
    }
    return entry->found ? entry : nullptr;
  }

 private:
  // Enough for every supplier and client of a large company; past it the entries are
  // forgotten and looked up again, so that a read's memory stays bounded.
  static constexpr size_t kMostRemembered = 1 << 20;
  SqliteStatement statement_;
  MasterEntries entries_;
};

class SqliteSession : public StoreSession {
 public:
  SqliteSession(SqliteStore& store, std::unique_ptr<SqliteStore::PooledConnection> connection)
      : store_(store), connection_(std::move(connection)), db_(&connection_->db) {}
  ~SqliteSession() override {
    Rollback();
    store_.Release(std::move(connection_));
  }

  void BeginRead() override { Exec("BEGIN DEFERRED"); }
  // A save into a file that is no longer the one at the store's path would be acknowledged and
  // lost, so the file is checked once the write lock is held and again just before committing.
  void BeginWrite() override {
    Exec("BEGIN IMMEDIATE");
    writing_ = true;
    CheckFile();
  }
  void Commit() override {
    if (writing_) CheckFile();
    writing_ = false;
    Exec("COMMIT");
  }
  void Rollback() noexcept override {
    writing_ = false;
    if (db_->InTransaction()) {
      try {
        db_->Exec("ROLLBACK");
      } catch (...) {
        // A failed rollback leaves SQLite to roll back when the connection closes or the next
        // transaction begins; nothing more can be done here.
      }
    }
  }

  std::unique_ptr<RowCursor> ReadList(ListKind kind) override {
    if (!IsJoinedList(kind)) return Cursor(ListSql(kind));
    const JoinedList& list = JoinedListOf(kind);
    try {
      auto lookup = std::make_shared<SqliteMasterLookup>(*db_, list);
      return ReadJoinedList(Cursor(list.relationSql), kind, [lookup](std::string_view key) { return (*lookup)(key); });
    } catch (const ESqliteError& e) {
      Rethrow(e);
    }
  }
  std::unique_ptr<RowCursor> ReadMaster(ListKind kind) override { return Cursor(MasterSql(kind)); }

  void PutMaster(ListKind kind, std::span<const std::string_view> row) override {
    const Sql sql = kind == ListKind::Product    ? Sql::PutProduct
                    : kind == ListKind::Supplier ? Sql::PutSupplier
                    : kind == ListKind::Client   ? Sql::PutClient
                                                 : Sql::PutBranch;
    const size_t width = kind == ListKind::Product ? 3 : kind == ListKind::Branch ? 2 : 4;
    if (row.size() != width) throw EStoreError("master row of the wrong width");
    Run(sql, row);
  }

  std::optional<std::string> MasterCode(ListKind kind, std::string_view key) override {
    const Sql sql = kind == ListKind::Product    ? Sql::CodeProduct
                    : kind == ListKind::Supplier ? Sql::CodeSupplier
                    : kind == ListKind::Client   ? Sql::CodeClient
                                                 : Sql::CodeBranch;
    const std::array<std::string_view, 1> args{key};
    std::optional<std::string> code;
    Query(sql, args, [&](SqliteStatement& s) { code = std::string(s.Text(0)); });
    return code;
  }

  bool ProductListed(std::string_view productKey) override {
    const std::array<std::string_view, 1> args{productKey};
    bool listed = false;
    Query(Sql::ProductListed, args, [&](SqliteStatement& s) { listed = s.Text(0) == "1"; });
    return listed;
  }

  bool PairStored(ListKind kind, std::string_view productKey, std::string_view itemKey) override {
    const std::array<std::string_view, 2> args{productKey, itemKey};
    bool stored = false;
    Query(ByKind(kind, Sql::StoredSupplier, Sql::StoredClient, Sql::StoredBranch), args,
          [&](SqliteStatement&) { stored = true; });
    return stored;
  }

  bool InsertPair(ListKind kind, std::string_view productKey, std::string_view itemKey,
                  std::string_view itemCode) override {
    const Sql sql = ByKind(kind, Sql::InsertSupplier, Sql::InsertClient, Sql::InsertBranch);
    if (kind == ListKind::Branch) {
      const std::array<std::string_view, 2> args{productKey, itemKey};
      Run(sql, args);
    } else {
      const std::array<std::string_view, 3> args{productKey, itemKey, itemCode};
      Run(sql, args);
    }
    return sqlite3_changes(db_->Handle()) > 0;
  }

  bool DeletePair(ListKind kind, std::string_view productKey, std::string_view itemKey) override {
    const std::array<std::string_view, 2> args{productKey, itemKey};
    Run(ByKind(kind, Sql::DeleteSupplier, Sql::DeleteClient, Sql::DeleteBranch), args);
    return sqlite3_changes(db_->Handle()) > 0;
  }

  int64_t DeleteProductPairs(std::string_view productKey) override {
    const std::array<std::string_view, 1> args{productKey};
    int64_t removed = 0;
    for (const Sql sql : {Sql::DeleteProductSuppliers, Sql::DeleteProductClients, Sql::DeleteProductBranches}) {
      Run(sql, args);
      removed += sqlite3_changes(db_->Handle());
    }
    return removed;
  }

  int64_t CountMaster(ListKind kind) override {
    return Count(kind == ListKind::Product    ? Sql::CountProduct
                 : kind == ListKind::Supplier ? Sql::CountSupplier
                 : kind == ListKind::Client   ? Sql::CountClient
                                              : Sql::CountBranch);
  }
  int64_t CountPairs(ListKind kind) override {
    return Count(ByKind(kind, Sql::CountSupplierPairs, Sql::CountClientPairs, Sql::CountBranchPairs));
  }

  void RecordAudit(const AuditPacket& packet) override {
    if (!packet.ChangedRows()) return;
    const std::array<std::string_view, 4> head{packet.time, packet.method, packet.client, packet.user};
    Run(Sql::AuditPacket, head);
    const std::string id = std::to_string(sqlite3_last_insert_rowid(db_->Handle()));
    for (size_t i = 0; i < packet.changes.size(); ++i) {
      const AuditChange& c = packet.changes[i];
      if (c.rows == 0) continue;
      const std::string number = std::to_string(i + 1);
      const std::string rows = std::to_string(c.rows);
      const std::array<std::string_view, 7> args{id, number, c.operation, c.productKey, c.itemKey, c.itemCode, rows};
      Run(Sql::AuditChange, args);
    }
  }

  int64_t MasterDataVersion() override {
    try {
      SqliteStatement s = db_->Prepare(kMasterVersionSql);
      return s.Step() ? std::stoll(std::string(s.Text(0))) : 0;
    } catch (const ESqliteError& e) {
      Rethrow(e);
    }
  }
  void MasterDataChanged() override { Exec(kMasterChangedSql); }

  std::unique_ptr<RowCursor> ReadAudit(const AuditFilter& filter) override {
    const std::array<std::string_view, 2> args{filter.since, filter.productKey};
    try {
      return std::make_unique<SqliteCursor>(*db_, kAuditSql, args);
    } catch (const ESqliteError& e) {
      Rethrow(e);
    }
  }

  std::unique_ptr<RowCursor> ReadHistory(std::string_view productKey) override {
    const std::array<std::string_view, 1> args{productKey};
    try {
      return std::make_unique<SqliteCursor>(*db_, HistorySql(), args);
    } catch (const ESqliteError& e) {
      Rethrow(e);
    }
  }

 private:
  void Exec(const char* sql) {
    try {
      db_->Exec(sql);
    } catch (const ESqliteError& e) {
      Rethrow(e);
    }
  }

  std::unique_ptr<RowCursor> Cursor(const char* sql) {
    try {
      return std::make_unique<SqliteCursor>(*db_, sql);
    } catch (const ESqliteError& e) {
      Rethrow(e);
    }
  }

  SqliteStatement& Statement(Sql sql) {
    auto& statements = connection_->statements;
    auto it = statements.find(sql);
    if (it == statements.end()) it = statements.emplace(sql, db_->Prepare(SqlText(sql))).first;
    return it->second;
  }

  template <class OnRow>
  void Query(Sql sql, std::span<const std::string_view> args, OnRow onRow) {
    try {
      SqliteStatement& s = Statement(sql);
      // A cached statement left mid-run would keep its read lock and refuse its next binding.
      struct ResetOnExit {
        SqliteStatement& statement;
        ~ResetOnExit() { statement.Reset(); }
      } reset{s};
      for (size_t i = 0; i < args.size(); ++i) s.Bind(static_cast<int>(i + 1), args[i]);
      while (s.Step()) onRow(s);
    } catch (const ESqliteError& e) {
      Rethrow(e);
    }
  }

  void Run(Sql sql, std::span<const std::string_view> args) {
    Query(sql, args, [](SqliteStatement&) {});
  }

  int64_t Count(Sql sql) {
    int64_t n = 0;
    Query(sql, {}, [&](SqliteStatement& s) { n = std::stoll(std::string(s.Text(0))); });
    return n;
  }

  void CheckFile() {
    try {
      store_.CheckFile();
    } catch (...) {
      Rollback();
      throw;
    }
  }

  SqliteStore& store_;
  std::unique_ptr<SqliteStore::PooledConnection> connection_;
  SqliteDatabase* db_;
  bool writing_ = false;  // a write transaction is open
};

}  // namespace

SqliteStore::SqliteStore(std::string path, const StoreOptions& options)
    : path_(std::move(path)), fullSync_(options.fullSync) {
  struct stat before {};
  const bool exists = stat(path_.c_str(), &before) == 0;
  if (!exists && !options.create) {
    throw EStoreError("no server database at " + path_ +
                      " (the file does not exist); check the path, or make a new store with --create");
  }
  auto connection = Connect(!exists);
  try {
    const int version = SchemaVersion(connection->db);
    if (version == 0 && !options.create) {
      throw EStoreError("the file " + path_ + " is not a server database (it holds none of its tables)");
    }
    if (version > kSchemaVersion) {
      throw EStoreError("the server database " + path_ + " has schema version " + std::to_string(version) +
                        ", newer than version " + std::to_string(kSchemaVersion) +
                        " that this server knows; run a newer pdi07310-server on it");
    }
    if (version > 0 && version < kSchemaVersion) {
      backupBeforeMigration_ = SqliteBackup::FreeName(path_ + ".v" + std::to_string(version) + ".backup");
      SqliteBackup::Copy(connection->db.Handle(), backupBeforeMigration_);
      migratedFrom_ = version;
    }
    if (version < kSchemaVersion) {
      connection->db.Exec("BEGIN IMMEDIATE");
      // Another process may have made or migrated the store while this one waited for the lock.
      if (SchemaVersion(connection->db) < kSchemaVersion) {
        connection->db.Exec(kSchema);
        connection->db.Exec("PRAGMA user_version = " + std::to_string(kSchemaVersion));
      }
      connection->db.Exec("COMMIT");
    }
  } catch (const ESqliteError& e) {
    Rethrow(e);
  }
  struct stat opened {};
  if (stat(path_.c_str(), &opened) != 0) throw EStoreError("the server database " + path_ + " vanished while opening");
  device_ = opened.st_dev;
  inode_ = opened.st_ino;
  Release(std::move(connection));
}

int SqliteStore::SchemaVersion(SqliteDatabase& db) {
  SqliteStatement version = db.Prepare("PRAGMA user_version");
  const int recorded = version.Step() ? std::stoi(std::string(version.Text(0))) : 0;
  if (recorded != 0) return recorded;
  // The first release recorded no version; its stores are known by their tables.
  SqliteStatement tables = db.Prepare("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'PRODUTO'");
  return tables.Step() ? 1 : 0;
}

std::string SqliteStore::Notes() const {
  if (migratedFrom_ == 0) return {};
  return "migrated the schema of " + path_ + " from version " + std::to_string(migratedFrom_) + " to " +
         std::to_string(kSchemaVersion) + " (a copy of the store as it was is at " + backupBeforeMigration_ + ")";
}

void SqliteStore::CheckFile() const {
  struct stat now {};
  const bool present = stat(path_.c_str(), &now) == 0;
  if (present && now.st_dev == device_ && now.st_ino == inode_) return;
  throw EStoreLost("the server database file " + path_ + (present ? " was replaced by another file" : " was deleted") +
                    " while the server was running; saves are refused until the server is restarted on the right file");
}

SqliteStore::~SqliteStore() = default;

std::unique_ptr<SqliteStore::PooledConnection> SqliteStore::Connect(bool create) {
  try {
    return std::make_unique<PooledConnection>(path_, create, fullSync_);
  } catch (const ESqliteError& e) {
    Rethrow(e);
  }
}

std::unique_ptr<StoreSession> SqliteStore::OpenSession() {
  std::unique_ptr<PooledConnection> connection;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!idle_.empty()) {
      connection = std::move(idle_.back());
      idle_.pop_back();
    }
  }
  if (!connection) connection = Connect(false);
  return std::make_unique<SqliteSession>(*this, std::move(connection));
}

void SqliteStore::Release(std::unique_ptr<PooledConnection> connection) {
  if (!connection) return;
  std::lock_guard<std::mutex> lock(mutex_);
  idle_.push_back(std::move(connection));
}

}  // namespace server
