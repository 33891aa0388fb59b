#include "server/store/SqliteStore.h"

#include <sys/stat.h>

#include <array>
#include <optional>

#include "server/store/JoinedList.h"
#include "server/store/SqliteBackup.h"
#include "server/store/SqliteStatement.h"
#include "server/store/StoreSchema.h"

namespace server {
namespace {

// SQLite's spelling: numbered parameters, its own column types, tables keyed by their primary
// key (WITHOUT ROWID) but those that number their rows, INSERT OR REPLACE / OR IGNORE, and the
// new audit packet's number read with sqlite3_last_insert_rowid.
class SqliteDialect final : public SqlDialect {
 public:
  std::string Parameter(int n, ColumnKind) const override { return "?" + std::to_string(n); }
  std::string ColumnType(ColumnKind kind) const override { return kind == ColumnKind::Text ? "TEXT" : "INTEGER"; }
  std::string TableOptions(const StoreTable& table) const override { return table.Numbered() ? "" : " WITHOUT ROWID"; }
  std::string InsertReplacing(const StoreTable& table, const std::string& columns,
                              const std::string& values) const override {
    return std::string("INSERT OR REPLACE INTO ") + table.name + " (" + columns + ") VALUES (" + values + ")";
  }
  std::string InsertSkipping(const StoreTable& table, const std::string& columns,
                             const std::string& values) const override {
    return std::string("INSERT OR IGNORE INTO ") + table.name + " (" + columns + ") VALUES (" + values + ")";
  }
  std::string ReturningNumber(const StoreTable&) const override { return ""; }
  std::string NowMicroseconds() const override { return "CAST(strftime('%s', 'now') AS INTEGER) * 1000000"; }
};

const StoreStatements& DialectStatements() {
  static const StoreStatements kStatements(SqliteStore::Dialect());
  return kStatements;
}

}  // namespace

const SqlDialect& SqliteStore::Dialect() {
  static const SqliteDialect kDialect;
  return kDialect;
}

// How much of the store file a connection reads through a memory map instead of read calls
// (SQLite caps it at its own build limit, 2 GB on Debian). A page read from the map is neither
// copied nor held again in the connection's small page cache: getDados on a store of ten million
// related rows reads its four lists about a tenth faster, and so does one of a million. Writes
// still go through the write-ahead log.
constexpr long long kMappedStoreBytes = 8LL << 30;

struct SqliteStore::PooledConnection {
  PooledConnection(const std::string& path, bool create, const StoreOptions& options)
      : db(path, options.readOnly ? SqliteDatabase::Mode::ReadOnly
                 : create         ? SqliteDatabase::Mode::ReadWriteCreate
                                  : SqliteDatabase::Mode::ReadWrite) {
    db.Exec("PRAGMA mmap_size=" + std::to_string(kMappedStoreBytes) + ";");
    if (options.readOnly) return;
    db.Exec(options.fullSync ? "PRAGMA synchronous=FULL;" : "PRAGMA synchronous=NORMAL;");
    db.Exec("PRAGMA journal_size_limit=" + std::to_string(options.walSizeLimit) + ";");
  }
  SqliteDatabase db;
  // Prepared once, reused by every session; by StoreStatement::id.
  std::vector<std::optional<SqliteStatement>> statements =
      std::vector<std::optional<SqliteStatement>>(DialectStatements().Count());
};

namespace {

class SqliteCursor : public RowCursor {
 public:
  SqliteCursor(SqliteDatabase& db, std::string_view sql, std::span<const std::string_view> args = {})
      : stmt_(db.Prepare(sql)) {
    for (size_t i = 0; i < args.size(); ++i) stmt_.Bind(static_cast<int>(i + 1), args[i]);
    row_.resize(static_cast<size_t>(stmt_.ColumnCount()));
  }
  bool Next() override {
    if (!stmt_.Step()) return false;
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

  const MasterEntry* operator()(std::string_view key, uint64_t hash) {
    const MasterEntry* entry = entries_.Find(key, hash);
    if (!entry) {
      if (entries_.Size() >= kMostRemembered) entries_.Clear();
      statement_.Reset();
      statement_.Bind(1, key);
      const bool found = statement_.Step();
      std::array<std::string_view, 3> values;
      if (found) {
        for (size_t i = 0; i < values.size(); ++i) values[i] = statement_.Text(static_cast<int>(i));
      }
      entry = entries_.Add(key, values, found);
      statement_.Reset();
    }
    return entry->found ? entry : nullptr;
  }
  const MasterEntries& Entries() const { return entries_; }

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
      : StoreSession(DialectStatements()), store_(store), connection_(std::move(connection)), db_(&connection_->db) {}
  ~SqliteSession() override {
    Rollback();
    store_.Release(std::move(connection_));
  }

  void BeginRead() override { db_->Exec("BEGIN DEFERRED"); }
  // A save into a file that is no longer the one at the store's path would be acknowledged and
  // lost, so the file is checked once the write lock is held and again just before committing.
  void BeginWrite() override {
    db_->Exec("BEGIN IMMEDIATE");
    writing_ = true;
    CheckFile();
  }
  void Commit() override {
    if (writing_) CheckFile();
    writing_ = false;
    db_->Exec("COMMIT");
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
    if (!IsJoinedList(kind)) return std::make_unique<SqliteCursor>(*db_, ListSql(kind));
    const JoinedList& list = JoinedListOf(kind);
    auto lookup = std::make_shared<SqliteMasterLookup>(*db_, list);
    return ReadJoinedList(std::make_unique<SqliteCursor>(*db_, list.relationSql), kind,
                          [lookup](std::string_view key, uint64_t hash) { return (*lookup)(key, hash); },
                          lookup->Entries());
  }
  std::unique_ptr<RowCursor> ReadMaster(ListKind kind) override {
    return std::make_unique<SqliteCursor>(*db_, MasterSql(kind));
  }

  void PutMaster(ListKind kind, std::span<const std::string_view> row) override {
    if (row.size() != TablesOf(kind).master.columns.size()) throw EStoreError("master row of the wrong width");
    Run(DialectStatements().PutMaster(kind), row);
  }

  std::optional<std::string> MasterCode(ListKind kind, std::string_view key) override {
    const std::array<std::string_view, 1> args{key};
    std::optional<std::string> code;
    Query(DialectStatements().MasterCode(kind), args, [&](SqliteStatement& s) { code = std::string(s.Text(0)); });
    return code;
  }

  bool ProductListed(std::string_view productKey) override {
    const std::array<std::string_view, 1> args{productKey};
    bool listed = false;
    Query(DialectStatements().ProductListed(), args, [&](SqliteStatement& s) { listed = s.Text(0) == "1"; });
    return listed;
  }

  bool PairStored(ListKind kind, std::string_view productKey, std::string_view itemKey) override {
    const std::array<std::string_view, 2> args{productKey, itemKey};
    bool stored = false;
    Query(DialectStatements().PairStored(kind), args, [&](SqliteStatement&) { stored = true; });
    return stored;
  }

  bool InsertPair(ListKind kind, std::string_view productKey, std::string_view itemKey,
                  std::string_view itemCode) override {
    const std::array<std::string_view, 3> args{productKey, itemKey, itemCode};
    Run(DialectStatements().InsertPair(kind), std::span(args).first(RelationOf(kind).columns.size()));
    return sqlite3_changes(db_->Handle()) > 0;
  }

  bool DeletePair(ListKind kind, std::string_view productKey, std::string_view itemKey) override {
    const std::array<std::string_view, 2> args{productKey, itemKey};
    Run(DialectStatements().DeletePair(kind), args);
    return sqlite3_changes(db_->Handle()) > 0;
  }

  int64_t DeleteProductPairs(std::string_view productKey) override {
    const std::array<std::string_view, 1> args{productKey};
    int64_t removed = 0;
    for (const ListKind kind : kRelatedLists) {
      Run(DialectStatements().DeleteProductPairs(kind), args);
      removed += sqlite3_changes(db_->Handle());
    }
    return removed;
  }

  int64_t CountMaster(ListKind kind) override {
    return Number(DialectStatements().CountMaster(kind), std::string("COUNT(*) of ") + TablesOf(kind).master.name);
  }
  int64_t CountPairs(ListKind kind) override {
    return Number(DialectStatements().CountPairs(kind), std::string("COUNT(*) of ") + RelationOf(kind).name);
  }

  void RecordAudit(const AuditPacket& packet) override {
    if (!packet.ChangedRows()) return;
    const std::array<std::string_view, 5> head{packet.time, packet.method, packet.client, packet.user, packet.access};
    Run(DialectStatements().AuditPacket(), head);
    const std::string id = std::to_string(sqlite3_last_insert_rowid(db_->Handle()));
    for (size_t i = 0; i < packet.changes.size(); ++i) {
      const AuditChange& c = packet.changes[i];
      if (c.rows == 0) continue;
      const std::string number = std::to_string(i + 1);
      const std::string rows = std::to_string(c.rows);
      const std::array<std::string_view, 7> args{id, number, c.operation, c.productKey, c.itemKey, c.itemCode, rows};
      Run(DialectStatements().AuditChange(), args);
    }
  }

  int64_t MasterDataVersion() override { return Number(DialectStatements().MasterVersion(), ControlTable().Qualified(1)); }
  void MasterDataChanged() override {
    Run(DialectStatements().MasterChanged(), {});
    // The names every list shows may have changed: no client list is refreshed by changes across.
    ForgetListChanges(Store::FreshListVersion());
  }

  std::unique_ptr<RowCursor> ReadAudit(const AuditFilter& filter) override {
    const std::array<std::string_view, 2> args{filter.since, filter.productKey};
    return std::make_unique<SqliteCursor>(*db_, StoreStatements::AuditOf(DialectStatements().Audit(), store_.Version()), args);
  }

  std::unique_ptr<RowCursor> ReadHistory(std::string_view productKey) override {
    const std::array<std::string_view, 1> args{productKey};
    return std::make_unique<SqliteCursor>(*db_, HistorySql(), args);
  }

 protected:
  StatementRows Rows(const StoreStatement& statement, std::span<const std::string_view> args) override {
    StatementRows out;
    Query(statement, args, [&](SqliteStatement& s) {
      std::vector<std::string>& row = out.rows.emplace_back();
      for (int i = 0; i < s.ColumnCount(); ++i) row.emplace_back(s.Text(i));
    });
    out.changed = sqlite3_changes(db_->Handle());
    return out;
  }

 private:
  SqliteStatement& Statement(const StoreStatement& sql) {
    std::optional<SqliteStatement>& prepared = connection_->statements[sql.id];
    if (!prepared) prepared.emplace(db_->Prepare(sql.text));
    return *prepared;
  }

  template <class OnRow>
  void Query(const StoreStatement& sql, std::span<const std::string_view> args, OnRow onRow) {
    SqliteStatement& s = Statement(sql);
    // A cached statement left mid-run would keep its read lock and refuse its next binding.
    struct ResetOnExit {
      SqliteStatement& statement;
      ~ResetOnExit() { statement.Reset(); }
    } reset{s};
    for (size_t i = 0; i < args.size(); ++i) s.Bind(static_cast<int>(i + 1), args[i]);
    while (s.Step()) onRow(s);
  }

  void Run(const StoreStatement& sql, std::span<const std::string_view> args) {
    Query(sql, args, [](SqliteStatement&) {});
  }

  // The number the statement answers (0 when it answers no row); column names it in a failure.
  int64_t Number(const StoreStatement& sql, std::string_view column) {
    int64_t n = 0;
    Query(sql, {}, [&](SqliteStatement& s) { n = StoredNumber(s.Text(0), column); });
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

SqliteStore::SqliteStore(std::string path, const StoreOptions& options) : path_(std::move(path)), options_(options) {
  struct stat before {};
  const bool exists = stat(path_.c_str(), &before) == 0;
  if (!exists && (!options.create || options.readOnly)) {
    throw EStoreError("no server database at " + path_ +
                      " (the file does not exist); check the path, or make a new store with --create");
  }
  // What the file is, and whether it is sound, is read before anything may write to it: opening
  // it for writing would already turn another kind of SQLite file to WAL mode.
  const int version = exists ? Examine(path_) : 0;
  if (version == 0 && (!options.create || options.readOnly)) {
    throw EStoreError("the file " + path_ + " is not a server database (it holds none of its tables)");
  }
  if (version > kSchemaVersion) {
    throw EStoreError("the server database " + path_ + " has schema version " + std::to_string(version) +
                      ", newer than version " + std::to_string(kSchemaVersion) +
                      " that this server knows; run a newer pdi07310-server on it");
  }
  auto connection = Connect(!exists);
  if (options.readOnly) {
    // Read as it is: an older store is not migrated by a reader, and is read with the tables it has.
    version_ = version;
    RememberFile();
    idle_.push_back(std::move(connection));
    return;
  }
  if (version > 0 && version < kSchemaVersion) {
    backupBeforeMigration_ = SqliteBackup::FreeName(path_ + ".v" + std::to_string(version) + ".backup");
    SqliteBackup::Copy(connection->db.Handle(), backupBeforeMigration_);
    migratedFrom_ = version;
  }
  if (version < kSchemaVersion) {
    connection->db.Exec("BEGIN IMMEDIATE");
    // Another process may have made or migrated the store while this one waited for the lock.
    if (const int found = SchemaVersion(connection->db, path_); found < kSchemaVersion) {
      if (found > 0 && !DialectStatements().Upgrade(found).empty()) connection->db.Exec(DialectStatements().Upgrade(found));
      connection->db.Exec(DialectStatements().Schema());
      connection->db.Exec("PRAGMA user_version = " + std::to_string(kSchemaVersion));
    }
    connection->db.Exec("COMMIT");
  }
  RememberFile();
  idle_.push_back(std::move(connection));
}

void SqliteStore::RememberFile() {
  struct stat opened {};
  if (stat(path_.c_str(), &opened) != 0) throw EStoreError("the server database " + path_ + " vanished while opening");
  device_ = opened.st_dev;
  inode_ = opened.st_ino;
}

int SqliteStore::SchemaVersion(SqliteDatabase& db, const std::string& path) {
  SqliteStatement version = db.Prepare("PRAGMA user_version");
  // user_version is a 32-bit number.
  const int recorded = version.Step() ? static_cast<int>(StoredNumber(version.Text(0), "PRAGMA user_version")) : 0;
  // A store is known by its own tables; a version above this release's may have others.
  if (recorded > kSchemaVersion) return recorded;
  std::vector<std::string> tables;
  SqliteStatement names = db.Prepare("SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite%'");
  while (names.Step()) tables.emplace_back(names.Text(0));
  const std::string what = NotAStore(tables);
  if (!what.empty()) {
    throw EStoreError("the file " + path + " is " + what + ", not a server database; give --db the server's store");
  }
  if (tables.empty()) return 0;
  // The first release recorded no version.
  return recorded != 0 ? recorded : 1;
}

int SqliteStore::Examine(const std::string& path) {
  try {
    SqliteDatabase db(path, SqliteDatabase::Mode::ReadOnly);
    const int version = SchemaVersion(db, path);
    if (version == 0) return 0;
    // The quick form of SQLite's integrity check: every page and b-tree is read, in about the time
    // of reading the file once.
    SqliteStatement check = db.Prepare("PRAGMA quick_check(20)");
    std::string verdict;
    while (check.Step()) verdict += std::string(verdict.empty() ? "" : "; ") + std::string(check.Text(0));
    if (verdict != "ok") {
      // On one line, and short: the first of SQLite's findings say enough.
      for (char& c : verdict) c = c == '\n' ? ' ' : c;
      if (verdict.size() > 300) verdict = verdict.substr(0, 300) + "…";
      throw EStoreError("the server database " + path + " is damaged (SQLite's quick_check: " + verdict +
                        "); nothing was done to it: restore it from a backup (pdi07310-server restore)");
    }
    return version;
  } catch (const ESqliteError& e) {
    const int code = e.Code() & 0xFF;
    if (code == SQLITE_NOTADB) throw EStoreError("the file " + path + " is not an SQLite database, nor a server store");
    if (code == SQLITE_CORRUPT) {
      throw EStoreError("the server database " + path + " is damaged (" + e.what() +
                        "); nothing was done to it: restore it from a backup (pdi07310-server restore)");
    }
    throw;
  }
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
  return std::make_unique<PooledConnection>(path_, create, options_);
}

std::unique_ptr<StoreSession> SqliteStore::OpenSession() {
  std::unique_ptr<PooledConnection> connection;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++inUse_;
    if (!idle_.empty()) {
      connection = std::move(idle_.back());
      idle_.pop_back();
    }
  }
  try {
    if (!connection) connection = Connect(false);
  } catch (...) {
    std::lock_guard<std::mutex> lock(mutex_);
    --inUse_;
    throw;
  }
  return std::make_unique<SqliteSession>(*this, std::move(connection));
}

void SqliteStore::Release(std::unique_ptr<PooledConnection> connection) {
  if (!connection) return;
  std::lock_guard<std::mutex> lock(mutex_);
  --inUse_;
  idle_.push_back(std::move(connection));
}

void SqliteStore::Probe(std::chrono::milliseconds) {
  // A local file answers at once or not at all: what can go wrong is the file itself.
  CheckFile();
  const auto session = OpenSession();
  session->MasterDataVersion();
}

StoreStats SqliteStore::Stats() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return StoreStats{.connectionsInUse = inUse_, .connectionsOpen = inUse_ + static_cast<int64_t>(idle_.size())};
}

}  // namespace server
