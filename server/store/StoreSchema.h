// StoreSchema describes, once for both stores, the tables the service keeps: every table with its
// columns in order, their kinds and defaults, its primary key and its indexes; which master table
// and which relation stand behind each list; and, built from them, every statement the stores
// run. What SQLite and PostgreSQL spell differently (parameters, column types, an insert that
// replaces or skips a stored row, how a new audit packet's number comes back) is a SqlDialect,
// which each store defines for itself; the rest of a statement's text is the same for both.
//
// The tables:
//   PRODUTO, FORNECEDOR, CLIENTE, FILIAL   the master data, with the local database's columns
//   DESONERA_FORNECEDOR, DESONERA_CLIENTE, DESONERA_FILIAL
//                                          the related lists: (product key, item key[, the item's
//                                          typed code]), keyed by the pair
//   AUDITORIA, AUDITORIA_ITEM              the audit trail: a row per applied change packet, a row
//                                          per change that added or removed stored rows
//   CONTROLE                               named numbers: the master-data version, the list
//                                          version and the oldest list version still known (both
//                                          stores), and the schema version (PostgreSQL; SQLite
//                                          keeps it in user_version)
//   USUARIO                                local users: name, role, password hash, disabled flag
//   SESSAO                                 open sessions, keyed by a hash of their token
//   TENTATIVA_ACESSO                       failed sign-ins of the last minutes (name, address)
//   ALTERACAO                              per related list and product, the list version of the
//                                          last save that added or removed its rows (a product
//                                          whose rows are all gone keeps its row: the mark of
//                                          the deletion)
//
// An older store is brought to this release by the steps of SchemaSteps (the columns a version
// added to tables that older stores already have), then by Schema (the tables it lacks).
//
// Immutable after static initialization; safe to read from any thread.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "server/store/ListCatalog.h"

namespace server {

// What a column holds. Every column is NOT NULL but a Serial one, which the store fills.
enum class ColumnKind {
  Text,
  Integer,     // a small number (INTEGER in both stores)
  BigInteger,  // a 64-bit number (SQLite's INTEGER, PostgreSQL's BIGINT)
  Serial,      // the table's key, numbered by the store on insert
};

struct StoreColumn {
  const char* name;
  ColumnKind kind = ColumnKind::Text;
  const char* defaultValue = nullptr;  // an SQL literal, or none
  const char* references = nullptr;    // "TABLE (COLUMN)", or none
};

struct StoreIndex {
  const char* name;
  std::vector<const char*> columns;
};

struct StoreTable {
  const char* name;
  std::vector<StoreColumn> columns;  // in the table's order
  std::vector<const char*> key;      // the primary key
  std::vector<StoreIndex> indexes;

  // The names of the columns in order, joined by ", ", each after prefix ("d.").
  std::string ColumnList(std::string_view prefix = "") const;
  // "TABLE.COLUMN" of the column at that place, for messages.
  std::string Qualified(size_t column) const { return std::string(name) + "." + columns.at(column).name; }
  // True when the table has a column of that name.
  bool Has(std::string_view column) const;
  // True when the table numbers its own rows (its key is a Serial column).
  bool Numbered() const;
};

// The tables behind one list. Master columns are in ReadMaster's order. A relation's columns are
// (product key, item key) and, but for branches, the item's typed code, in InsertPairs' order;
// its primary key is (product key, item key).
struct ListTables {
  const StoreTable& master;
  const char* code;   // the master column the user knows an entry by (see StoreSession::MasterCode)
  const char* name;   // the master column of the entry's name
  const char* alias;  // the master table's alias in statements that join it
  const StoreTable* relation;  // null for the product list

  const char* Key() const { return master.key[0]; }
};

// Every table, in the order they are created.
const std::vector<StoreTable>& StoreTables();
// The names of the tables the first release's schema (version 1) made: every table but CONTROLE.
// A store holds them all; a file or schema holding only some is not a store.
const std::vector<std::string>& FirstReleaseTables();

// What a set of table names (of an SQLite file or a PostgreSQL schema) is: "" when it holds every
// first-release table (a store) or none at all (empty), else a description for a refusal: "the
// desktops' local database (tables CLIENTE, FILIAL, FORNECEDOR, PRODUTO)" or "not a server store
// (it holds the tables …)".
std::string NotAStore(const std::vector<std::string>& tables);
const ListTables& TablesOf(ListKind kind);
// REQUIRES: kind is a related list. Raises EStoreError otherwise.
const StoreTable& RelationOf(ListKind kind);

// The audit trail's tables and the named numbers of CONTROLE.
const StoreTable& AuditPacketTable();
const StoreTable& AuditChangeTable();
const StoreTable& ControlTable();
const StoreTable& UserTable();
const StoreTable& SessionTable();
const StoreTable& FailedSignInTable();
const StoreTable& ListChangeTable();
// The columns of AUDITORIA that ReadAudit gives first (number, time, method, client, user); the
// columns after them come at the end of its rows.
inline constexpr size_t kAuditPacketColumns = 5;
inline constexpr const char* kMasterVersionName = "VERSAO_CADASTRO";
inline constexpr const char* kSchemaVersionName = "VERSAO_ESQUEMA";
inline constexpr const char* kListVersionName = "VERSAO_LISTAS";
inline constexpr const char* kOldestListVersionName = "VERSAO_LISTAS_MINIMA";

// One step of the schema's history: the version it makes, and the columns (table, column) it
// added to tables older stores already have. Tables new in a version need no step: Schema makes
// what a store lacks.
struct SchemaStep {
  int version;
  std::vector<std::pair<const char*, const char*>> addedColumns;
};
// Every step after the first release's schema, oldest first; the last makes Store::kSchemaVersion.
const std::vector<SchemaStep>& SchemaSteps();

// The statements of the access records: users, sessions and failed sign-ins. Their parameters
// are those of the StoreSession methods of the same names.
enum class AccessStatement : size_t {
  kFindUser,
  kAddUser,
  kUpdateUser,
  kListUsers,
  kCountUsers,
  kAddSession,
  kFindSession,
  kTouchSession,
  kEndSession,
  kEndUserSessions,
  kEndOldSessions,
  kAddFailure,
  kFailuresOfName,
  kFailuresOfAddress,
  kClearFailures,
  kDropFailures,
  kCount,
};

// The statements of the list versions (see StoreSession::ListVersion). Parameters:
//   kListVersion, kOldestListVersion  none; answer the number
//   kNextListVersion                  none; raises the list version by one and answers it
//   kListChanged                      list number (1..3), product key, version
//   kChangedProducts                  list number, version, most rows; answers product keys after
//                                     that version, by key
//   kPruneListChanges                 version: forgets the changes at or before it
//   kRaiseOldestListVersion           version: the oldest known becomes it, unless already later
//   kListVersionAtLeast               version: the list version becomes the larger of itself + 1
//                                     and it; answers the new one
//   kForgetListChanges                none: forgets every change
enum class ChangeStatement : size_t {
  kListVersion,
  kOldestListVersion,
  kNextListVersion,
  kListChanged,
  kChangedProducts,
  kPruneListChanges,
  kRaiseOldestListVersion,
  kListVersionAtLeast,
  kForgetListChanges,
  kCount,
};

// The index of a master table (0..3) or related list (0..2) among its kind, for tables of
// statements. RelatedIndex raises EStoreError for the product list.
size_t MasterIndex(ListKind kind);
size_t RelatedIndex(ListKind kind);

// How one store spells what the stores spell differently.
class SqlDialect {
 public:
  virtual ~SqlDialect() = default;
  // Parameter n (from 1) standing for a value of a column of this kind.
  virtual std::string Parameter(int n, ColumnKind kind) const = 0;
  // The type of a column of this kind, as a table's definition gives it.
  virtual std::string ColumnType(ColumnKind kind) const = 0;
  // What follows the closing parenthesis of a table's definition.
  virtual std::string TableOptions(const StoreTable& table) const = 0;
  // INSERT of one row (columns and values as SQL lists) that replaces the stored row with the
  // same key, or that stores nothing when the key is stored.
  virtual std::string InsertReplacing(const StoreTable& table, const std::string& columns,
                                      const std::string& values) const = 0;
  virtual std::string InsertSkipping(const StoreTable& table, const std::string& columns,
                                     const std::string& values) const = 0;
  // What ends an INSERT into a Numbered table so that it answers the new row's number; empty
  // when the store learns it otherwise.
  virtual std::string ReturningNumber(const StoreTable& table) const = 0;
  // An expression of the time now in microseconds since 1970 (a 64-bit number).
  virtual std::string NowMicroseconds() const = 0;
};

// A statement a store runs often and keeps prepared on each connection.
struct StoreStatement {
  size_t id = 0;     // its place in its StoreStatements, from 0: a store keeps it prepared by it
  std::string name;  // unique in its StoreStatements: PostgreSQL prepares it under this name
  std::string text;
};

// Every statement of one store, built from the schema in its dialect. The parameters of each are
// those of the StoreSession method of the same name, in order.
class StoreStatements {
 public:
  explicit StoreStatements(const SqlDialect& dialect);
  StoreStatements(const StoreStatements&) = delete;
  StoreStatements& operator=(const StoreStatements&) = delete;

  // Creates what a store lacks of the schema (every statement is idempotent) and the
  // master-data version; run once in the transaction that records the schema version.
  const std::string& Schema() const { return schema_; }
  // What brings a store of schema version `from` (1 or later) to this release before Schema runs:
  // the columns of SchemaSteps after that version ("" when none).
  std::string Upgrade(int from) const;
  // The audit trail as ReadAudit gives it; parameters: since, product key.
  const std::string& Audit() const { return audit_; }
  // The same, every packet and change.
  const std::string& AuditAll() const { return auditAll_; }
  // An audit statement (Audit or AuditAll) as a store of schema `version` can run it: the packet's
  // columns of later versions, which it lacks, read as ''.
  static std::string AuditOf(std::string sql, int version);
  // A plain INSERT of every column of table (restores and copies).
  std::string Insert(const StoreTable& table) const;
  // Sets the master-data version; parameter: the version.
  const std::string& SetMasterVersion() const { return setMasterVersion_; }

  const StoreStatement& PutMaster(ListKind kind) const { return putMaster_[MasterIndex(kind)]; }
  const StoreStatement& MasterCode(ListKind kind) const { return masterCode_[MasterIndex(kind)]; }
  const StoreStatement& CountMaster(ListKind kind) const { return countMaster_[MasterIndex(kind)]; }
  const StoreStatement& ProductListed() const { return productListed_; }
  const StoreStatement& PairStored(ListKind kind) const { return pairStored_[RelatedIndex(kind)]; }
  const StoreStatement& InsertPair(ListKind kind) const { return insertPair_[RelatedIndex(kind)]; }
  const StoreStatement& DeletePair(ListKind kind) const { return deletePair_[RelatedIndex(kind)]; }
  const StoreStatement& DeleteProductPairs(ListKind kind) const { return deleteProduct_[RelatedIndex(kind)]; }
  const StoreStatement& CountPairs(ListKind kind) const { return countPairs_[RelatedIndex(kind)]; }
  const StoreStatement& Access(AccessStatement which) const { return access_[static_cast<size_t>(which)]; }
  const StoreStatement& Change(ChangeStatement which) const { return change_[static_cast<size_t>(which)]; }
  // A related list's rows of one product (parameter: the product key), in ReadList's order.
  const StoreStatement& ProductRows(ListKind kind) const { return productRows_[RelatedIndex(kind)]; }
  // RecordAudit's: the packet (time, method, client, user, access) and each change (packet number,
  // change number, operation, product key, item key, item code, rows).
  const StoreStatement& AuditPacket() const { return auditPacket_; }
  const StoreStatement& AuditChange() const { return auditChange_; }
  const StoreStatement& MasterVersion() const { return masterVersion_; }
  const StoreStatement& MasterChanged() const { return masterChanged_; }
  // How many prepared statements there are (ids run from 0 to Count() - 1).
  size_t Count() const { return count_; }

 private:
  StoreStatement Make(std::string purpose, std::string_view table, std::string text);
  void MakeAccess();
  void MakeChanges();
  std::string Parameters(const StoreTable& table, size_t first, size_t count) const;

  const SqlDialect& dialect_;
  size_t count_ = 0;
  std::string schema_, audit_, auditAll_, setMasterVersion_;
  std::array<StoreStatement, 4> putMaster_, masterCode_, countMaster_;
  std::array<StoreStatement, 3> pairStored_, insertPair_, deletePair_, deleteProduct_, countPairs_, productRows_;
  StoreStatement productListed_, auditPacket_, auditChange_, masterVersion_, masterChanged_;
  std::array<StoreStatement, static_cast<size_t>(AccessStatement::kCount)> access_;
  std::array<StoreStatement, static_cast<size_t>(ChangeStatement::kCount)> change_;
};

// Statements the same in both stores (their one parameter, where they have one, is $1, which
// SQLite reads as its first parameter, as PostgreSQL does).

// One master table whole, in key order, columns in ReadMaster's order.
const std::string& MasterSql(ListKind kind);

// A list read by one statement that joins the master data, in the order ReadList gives (an item
// missing from the master data reads as NULLs and sorts first among its product's rows).
const std::string& ListSql(ListKind kind);

// A product's change history (its one parameter the product key), newest change first, at most
// kHistoryLimit rows, changes that stored or removed nothing left out. Columns: time, user,
// client address, method, operation, item key, the item's code (the typed taxpayer number, else
// the master one; the branch code), the item's name (the product's for a product change); names
// of items no longer in the master data read as empty.
const std::string& HistorySql();

}  // namespace server
