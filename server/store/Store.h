// Store is where the remote service keeps its data: the master tables (products, suppliers,
// clients, branches, with the columns of the local database) and, per related list, the stored
// pairs (product key, item key), and the audit trail of applied change packets. The method code
// talks only to this interface; SqliteStore and PgStore implement it with the same behaviour.
//
// Thread rules: a Store is shared by every worker thread; OpenSession is thread-safe. A
// StoreSession (one connection, from a pool) is used by one thread at a time, and a RowCursor by
// the thread using its session. Neither is copyable. REQUIRES: a session does not outlive its
// store, and a cursor does not outlive its session.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "server/store/ListCatalog.h"
#include "server/store/StoreError.h"

namespace server {

enum class AccessStatement : size_t;  // StoreSchema.h
enum class ChangeStatement : size_t;  // StoreSchema.h
struct StoreStatement;                // StoreSchema.h
class StoreStatements;                // StoreSchema.h

// One applied change packet as the audit trail keeps it: when, which method, from which client
// address, by which user (empty when the request carried none), and each change of the packet
// in order with the number of stored rows it actually added or removed.
struct AuditChange {
  std::string operation;  // "insert" or "delete"
  std::string productKey;
  std::string itemKey;    // empty for a product change
  std::string itemCode;   // the typed code stored with the pair (empty for deletions, branches)
  int64_t rows = 0;       // stored rows added or removed by this change
};
struct AuditPacket {
  std::string time;    // UTC, "YYYY-MM-DDTHH:MM:SS.mmmZ" (see AuditTime)
  std::string method;  // "SetFornecedor"
  std::string client;  // "127.0.0.1:51234"
  std::string user;
  // How the person was identified: "token" (the tokens file), "local" (a local user's session),
  // "diretorio" (a directory user's session); empty when the server accepts anyone.
  std::string access;
  std::vector<AuditChange> changes;

  // True when some change added or removed a stored row.
  bool ChangedRows() const {
    for (const AuditChange& c : changes) {
      if (c.rows != 0) return true;
    }
    return false;
  }
};
// Which packets an audit listing shows: those at or after `since` (an AuditTime text; empty: all)
// and, when productKey is not empty, only their changes of that product (packets without one
// are left out).
struct AuditFilter {
  std::string since;
  std::string productKey;
};

// A local user as the store keeps it. key is the name in lower case (names are matched without
// regard to case); name keeps the spelling it was added with.
struct UserRecord {
  std::string key;
  std::string name;
  std::string role;          // "edicao" or "consulta"
  std::string passwordHash;  // an Argon2id string (see server/access/PasswordHash.h)
  bool disabled = false;
  std::string created;  // AuditTime texts
  std::string changed;
};

// An open session: the hash of its token (never the token), whose it is, and its times in
// milliseconds since the epoch.
struct SessionRecord {
  std::string tokenHash;
  std::string key;     // the user's name in lower case
  std::string user;    // the name as the directory or the local user spells it
  std::string role;    // "edicao" or "consulta"
  std::string access;  // "local" or "diretorio"
  int64_t started = 0;
  int64_t lastUsed = 0;
};

// Failed sign-ins counted since some time: how many, and when the latest was (0: none).
struct FailureCount {
  int64_t count = 0;
  int64_t latest = 0;
};

// A related list and one product of it, whose rows a save added or removed.
struct ListProduct {
  ListKind list;
  std::string productKey;
  auto operator<=>(const ListProduct&) const = default;
};

// A forward-only reader of rows.
class RowCursor {
 public:
  RowCursor() = default;
  RowCursor(const RowCursor&) = delete;
  RowCursor& operator=(const RowCursor&) = delete;
  virtual ~RowCursor() = default;

  // Moves to the next row. Returns false when there is none. Raises EStoreError.
  virtual bool Next() = 0;
  // The values of the current row; valid until the next call of Next. A NULL reads as empty.
  virtual std::span<const std::string_view> Row() const = 0;
};

// A writer of many rows into one table in one go: the bulk path of the demo and of master-data
// imports (see StoreSession::PutMasters and InsertPairs). Rows are handed over with Add and
// written at the latest by Finish; until Finish returns the session runs nothing else.
// Destroying a writer without Finish abandons its rows: on PostgreSQL the transaction around it
// fails, so the caller must roll it back (a StoreTransaction does). Not copyable.
class RowSink {
 public:
  RowSink() = default;
  RowSink(const RowSink&) = delete;
  RowSink& operator=(const RowSink&) = delete;
  virtual ~RowSink() = default;

  // Takes one row (copied; the views may die after the call). Raises EStoreError, also on a
  // row of the wrong width; the writer is spoiled then.
  virtual void Add(std::span<const std::string_view> row) = 0;
  // Writes what is left and returns the number of rows stored. Raises EStoreError: nothing of
  // the writer's rows may be kept then, and the transaction must be rolled back.
  virtual int64_t Finish() = 0;
};

class StoreSession {
 public:
  // statements: every prepared statement of the store, in its dialect (outlives the session).
  explicit StoreSession(const StoreStatements& statements) : statements_(statements) {}
  StoreSession(const StoreSession&) = delete;
  StoreSession& operator=(const StoreSession&) = delete;
  // Rolls back a transaction left open.
  virtual ~StoreSession() = default;

  // Transactions. BeginRead gives a consistent snapshot for several reads; BeginWrite takes the
  // write lock at once (waiting for other writers up to the store's limit). Raise EStoreError.
  virtual void BeginRead() = 0;
  virtual void BeginWrite() = 0;
  virtual void Commit() = 0;
  virtual void Rollback() noexcept = 0;

  // The rows of a list as the remote service serves them, values in the order of
  // ListCatalog::Get(kind).fields, names and person types joined from the master data.
  // Products: every product with at least one related row, by code then key. Related lists: by
  // product key, then the item's code (taxpayer number or branch code), then the item key.
  // REQUIRES: no other cursor of this session is being read (a list may be streamed over the
  // session's one connection); a cursor dropped early may be followed by any call.
  virtual std::unique_ptr<RowCursor> ReadList(ListKind kind) = 0;

  // A hint that the lists given are about to be read, in this order, inside the read
  // transaction just begun: a store may start reading the later ones at once, on other
  // connections and in the same snapshot, so that they are ready when asked for. Reading them
  // is optional; what is not read is dropped with the transaction. Does nothing by default.
  virtual void ReadAhead(std::span<const ListKind> kinds) { (void)kinds; }

  // The master rows of one kind in the local database's column order:
  //   Product  CDPRODUTO, CDARVPROD, NMPRODUTO
  //   Supplier NRINSJURFORN, NMRAZSOCFORN, IDTPIJURFORN, CDFORNECED
  //   Client   NRINSJURCLIE, NMRAZSOCCLIE, IDTPIJURCLIE, CDCLIENTE
  //   Branch   CDFILIAL, NMFILIAL
  virtual std::unique_ptr<RowCursor> ReadMaster(ListKind kind) = 0;

  // Adds a master row (same column order as ReadMaster), replacing the row with the same key.
  virtual void PutMaster(ListKind kind, std::span<const std::string_view> row) = 0;

  // The bulk form of PutMaster: master rows of one kind, each replacing the stored row with the
  // same key (of rows with one key, the last given wins); Finish returns the rows written.
  // REQUIRES: inside a write transaction; nothing else runs on the session until Finish.
  virtual std::unique_ptr<RowSink> PutMasters(ListKind kind);

  // The bulk form of InsertPair: rows (product key, item key, item code) of a related list, or
  // (product key, item key) for branches. Pairs already stored are skipped; Finish returns the
  // pairs stored. REQUIRES: inside a write transaction; nothing else runs on the session until
  // Finish; no pair is given twice (a store may then fail the whole write instead of skipping).
  virtual std::unique_ptr<RowSink> InsertPairs(ListKind kind);

  // The code the user knows a master entry by (product: CDARVPROD; supplier, client: taxpayer
  // number; branch: CDFILIAL), or nothing when the key is not in the master data.
  virtual std::optional<std::string> MasterCode(ListKind kind, std::string_view key) = 0;

  // True when the product has at least one related row.
  virtual bool ProductListed(std::string_view productKey) = 0;

  // True when the pair is stored in the related list. REQUIRES: kind is a related list.
  virtual bool PairStored(ListKind kind, std::string_view productKey, std::string_view itemKey) = 0;

  // Stores a pair with the item's typed code (ignored for branches). Returns false, storing
  // nothing, when the pair is already stored. REQUIRES: kind is a related list.
  virtual bool InsertPair(ListKind kind, std::string_view productKey, std::string_view itemKey,
                          std::string_view itemCode) = 0;

  // Removes a pair; removing a pair not stored does nothing. Returns true when a pair was
  // removed. REQUIRES: kind is a related list.
  virtual bool DeletePair(ListKind kind, std::string_view productKey, std::string_view itemKey) = 0;

  // Removes every related row of the product (the master product stays). Returns the number of
  // rows removed.
  virtual int64_t DeleteProductPairs(std::string_view productKey) = 0;

  // Number of rows in the master table or related list of this kind (related: pairs).
  virtual int64_t CountMaster(ListKind kind) = 0;
  virtual int64_t CountPairs(ListKind kind) = 0;

  // Appends one applied change packet to the audit trail, with only the changes that added or
  // removed stored rows (each keeps its number within the packet); a packet that changed no
  // stored row (deletes of pairs not stored, product inserts, no changes) writes nothing.
  // REQUIRES: inside the write transaction that applied the packet, so the record and the
  // change commit or vanish together.
  virtual void RecordAudit(const AuditPacket& packet) = 0;

  // The audit trail, oldest packet first, one row per change (a packet without changes gives
  // one row whose change values are empty), values in this order:
  //   packet number, time, method, client, user, change number (1-based), operation,
  //   product key, item key, item code, rows, access
  virtual std::unique_ptr<RowCursor> ReadAudit(const AuditFilter& filter) = 0;

  // The change history of one product, newest change first, at most kHistoryLimit rows (see
  // HistorySql for the columns and what is left out). Raises EStoreError.
  virtual std::unique_ptr<RowCursor> ReadHistory(std::string_view productKey) = 0;

  // The version of the master data: a number that every change of the master tables through
  // MasterDataChanged raises, so whoever caches something built from them (the local database
  // served to desktops) knows when to build it again, across every server sharing the store.
  virtual int64_t MasterDataVersion() = 0;
  // Raises the master-data version. REQUIRES: inside the write transaction that changed them,
  // which must also call ForgetListChanges (the names every list shows may have changed).
  virtual void MasterDataChanged() = 0;

  // ---- List versions. Every save that adds or removes related rows takes the next list version
  // (RecordListChanges); per related list and product the store keeps the version at which the
  // product's rows last changed, for the last kKeptListVersions versions. A client holding the
  // lists as of version V asks which products changed since (ChangedProducts) and reads their
  // rows alone (ReadProductRows) instead of the whole list. Raise EStoreError.

  // How many versions back the changes are kept; a client further behind reads whole lists.
  static constexpr int64_t kKeptListVersions = 100'000;

  // The list version as the transaction sees it.
  int64_t ListVersion();
  // The products of a related list whose rows changed after version since, by key, when the store
  // can tell: since lies between the oldest version it keeps and ListVersion(), and at most `most`
  // products changed. Nothing otherwise: the whole list must be read. REQUIRES: inside a read
  // transaction, so that this, ListVersion and ReadProductRows see one state.
  std::optional<std::vector<std::string>> ChangedProducts(ListKind kind, int64_t since, size_t most);
  // The rows of a related list of the given products, one product after the other in the order
  // given, each product's rows in ReadList's order and columns. The cursor reads through this
  // session: nothing else runs on it meanwhile.
  std::unique_ptr<RowCursor> ReadProductRows(ListKind kind, std::vector<std::string> productKeys);
  // Takes the next list version and records that the rows of each (list, product) changed at it;
  // returns the version. Every so many versions the changes older than kKeptListVersions are
  // forgotten. REQUIRES: inside the write transaction that changed the rows, after its changes.
  int64_t RecordListChanges(std::span<const ListProduct> changed);
  // Forgets every change recorded and moves the list version past both its current value and
  // atLeast, so that every version handed out before is too old: on a change of the master data,
  // and in a store restored from a backup, whose clients may hold lists of a later state.
  // REQUIRES: inside a write transaction.
  void ForgetListChanges(int64_t atLeast = 0);

  // ---- Access records: local users, sessions, failed sign-ins. Each runs on its own (in the
  // transaction open, if any). Raise EStoreError.

  // The user whose key (lower-case name) is given, or nothing.
  std::optional<UserRecord> FindUser(std::string_view key);
  // Adds a user; returns false, storing nothing, when one with the same key is stored.
  bool AddUser(const UserRecord& user);
  // Writes the role, password hash, disabled flag and change time of the stored user with the
  // same key; returns false when there is none.
  bool UpdateUser(const UserRecord& user);
  // Every user, by key.
  std::vector<UserRecord> ListUsers();
  int64_t CountUsers();

  void AddSession(const SessionRecord& session);
  std::optional<SessionRecord> FindSession(std::string_view tokenHash);
  // Records a later use of the session (an earlier time than the stored one is ignored).
  void TouchSession(std::string_view tokenHash, int64_t lastUsed);
  // Ends one session; returns false when it was not open.
  bool EndSession(std::string_view tokenHash);
  // Ends every session of the user with this key; returns how many.
  int64_t EndUserSessions(std::string_view key);
  // Ends the sessions last used before idleBefore or started before startedBefore.
  int64_t EndOldSessions(int64_t idleBefore, int64_t startedBefore);

  void AddFailedSignIn(std::string_view key, std::string_view address, int64_t time);
  // The failed sign-ins at or after since, of one name (key) or from one address.
  FailureCount FailuresOfName(std::string_view key, int64_t since);
  FailureCount FailuresOfAddress(std::string_view address, int64_t since);
  // Forgets the failed sign-ins of one name, or those before a time.
  void ClearFailures(std::string_view key);
  void DropFailuresBefore(int64_t time);

 protected:
  // The rows a statement answered, each value as text (NULL as empty), and how many rows it
  // changed.
  struct StatementRows {
    std::vector<std::vector<std::string>> rows;
    int64_t changed = 0;
  };
  // Runs one of the store's prepared statements with its parameters as text, all its rows read.
  // Raises EStoreError.
  virtual StatementRows Rows(const StoreStatement& statement, std::span<const std::string_view> args) = 0;

 private:
  // A statement of the access records, of the list versions, and a related list's rows of one
  // product, through Rows.
  StatementRows RunAccess(AccessStatement which, std::span<const std::string_view> args);
  StatementRows RunChange(ChangeStatement which, std::span<const std::string_view> args);
  StatementRows ProductRowsOf(ListKind kind, std::string_view productKey);

  const StoreStatements& statements_;
};

// How a store is opened.
struct StoreOptions {
  // Makes a new, empty store when the location holds none (a missing SQLite file, a PostgreSQL
  // schema without tables). Without it such a location is refused, so a mistyped location is
  // never served as an empty store.
  bool create = false;
  // SQLite: every commit waits until it is on disk (synchronous=FULL), so a power loss never
  // drops an acknowledged save; false keeps synchronous=NORMAL (faster, may lose the last saves).
  bool fullSync = true;
  // PostgreSQL: migrate a store of an older schema version (only the migrate command asks it;
  // see PgStore). An SQLite store is migrated at open, after a backup of its file, unless
  // readOnly.
  bool migrate = false;
  // Opens the store as it is, for reading only: a store of an older schema version is neither
  // migrated nor refused (what it lacks fails when asked for, naming the migrate command), and
  // nothing is written to it (an SQLite file is opened read-only). For the commands that only
  // read (audit, export-local, backup).
  bool readOnly = false;
  // PostgreSQL: the most connections the server opens to the database, all uses together (the
  // pool of calls, the point checks and the health probe; see PgStore); 0: 32 for the pool.
  int connections = 0;
  // SQLite: the size the write-ahead log is cut back to once a checkpoint has emptied it
  // (journal_size_limit), so a log that grew behind a long reader does not keep its size.
  int64_t walSizeLimit = 64ll * 1024 * 1024;
  // PostgreSQL: how long a call waits for a connection when every one of the pool is in use,
  // before it fails (EStoreError, NoConnection).
  std::chrono::milliseconds connectionWait{60000};
};

// What a store's connections are doing now, for the server's metrics.
struct StoreStats {
  int64_t connectionsMax = 0;     // the most the store opens (0: no limit of its own)
  int64_t connectionsInUse = 0;   // held by sessions now
  int64_t connectionsOpen = 0;    // in use or idle
  int64_t waiting = 0;            // sessions waiting for a connection now
  int64_t waitsTimedOut = 0;      // waits that ended without a connection, since start
};

class Store {
 public:
  Store() = default;
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;
  virtual ~Store() = default;

  // A session on its own connection. Thread-safe. Raises EStoreError.
  virtual std::unique_ptr<StoreSession> OpenSession() = 0;

  // What opening did worth a line in the log (a migration and where its backup went), or "".
  virtual std::string Notes() const { return {}; }

  // Runs a trivial query on the store, giving up after limit. Raises EStoreError saying why the
  // store cannot serve (unreachable, no answer in time, the file deleted or replaced). Thread-safe;
  // probes run one at a time (a probe waiting for another counts its wait against limit). By
  // default it reads the master-data version on a session.
  virtual void Probe(std::chrono::milliseconds limit);

  // The state of the store's connections now. Thread-safe.
  virtual StoreStats Stats() const { return {}; }

  // The schema version the store has: kSchemaVersion, or an older one when it was opened
  // readOnly as it is.
  int Version() const { return version_; }

  // The schema version this release writes. Version 1 is the first release's schema, which
  // recorded no version; 2 adds the master-data version (CONTROLE); 3 the users, sessions and
  // failed sign-ins, and how the person of an audit packet was identified; 4 the list versions
  // (ALTERACAO; see SchemaSteps).
  static constexpr int kSchemaVersion = 4;

  // Opens the store at location: a path to an SQLite file, or a postgresql:// (postgres://) URI
  // naming a database on a PostgreSQL server. A missing store is made only with options.create;
  // a store of a newer schema version than kSchemaVersion is refused, naming both; an older one
  // is migrated (see StoreOptions::migrate). A store is known by its own tables: anything else
  // (the desktops' local database, another SQLite file) is refused naming what it is, never
  // taken for an old or an empty store; an SQLite store that fails SQLite's quick_check is
  // refused as damaged before anything is done to it. Raises EStoreError when it cannot be
  // opened.
  static std::unique_ptr<Store> Open(const std::string& location, const StoreOptions& options = {});

  // True when location names a PostgreSQL database rather than an SQLite file.
  static bool IsPostgresLocation(const std::string& location);

  // location fit to print: a password in a URI is replaced by "***".
  static std::string Redacted(const std::string& location);

  // The time now in microseconds since 1970: a list version past every one a store made or copied
  // earlier has handed out (a store takes one version a save, far fewer than a million a second).
  static int64_t FreshListVersion();

 protected:
  int version_ = kSchemaVersion;
};

}  // namespace server
