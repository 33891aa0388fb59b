#include "server/store/StoreSchema.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "server/store/StoreError.h"

namespace server {
namespace {

constexpr ColumnKind kText = ColumnKind::Text;
constexpr const char* kEmpty = "''";

// The order of creation: a table after those it references.
enum TableIndex : size_t {
  kProduct, kSupplier, kClient, kBranch,
  kSupplierPairs, kClientPairs, kBranchPairs,
  kPacket, kChange, kControl,
  kUsers, kSessions, kFailures, kListChanges,
};

std::string Joined(const std::vector<const char*>& names, std::string_view separator = ", ") {
  std::string out;
  for (const char* name : names) out += (out.empty() ? "" : std::string(separator)) + name;
  return out;
}

std::string Lower(std::string_view name) {
  std::string out(name);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// A related list: the relation's pairs joined to their master entries, by product key, then the
// item's code (unless the code is the key), then the item key; oneProduct: only the rows of the
// product key $1.
std::string RelatedListSql(ListKind kind, bool oneProduct) {
  const ListTables& list = TablesOf(kind);
  const StoreTable& r = *list.relation;
  const std::string m = list.alias;
  std::string s;
  for (const host::wire::FieldDef& f : ListCatalog::Get(kind).fields) {
    s += (s.empty() ? "SELECT " : ", ") + (r.Has(f.name) ? std::string("d") : m) + "." + std::string(f.name);
  }
  s += std::string(" FROM ") + r.name + " d LEFT JOIN " + list.master.name + " " + m + " ON " + m + "." + list.Key() +
       " = d." + r.key[1];
  if (oneProduct) s += std::string(" WHERE d.") + r.key[0] + " = $1";
  s += std::string(" ORDER BY d.") + r.key[0] + ", ";
  if (std::string_view(list.code) != list.Key()) s += m + "." + list.code + " NULLS FIRST, ";
  s += std::string("d.") + r.key[1];
  return s;
}

}  // namespace

const std::vector<StoreTable>& StoreTables() {
  static const std::vector<StoreTable> kTables = {
      {"PRODUTO",
       {{"CDPRODUTO"}, {"CDARVPROD", kText, kEmpty}, {"NMPRODUTO", kText, kEmpty}},
       {"CDPRODUTO"},
       {{"PRODUTO_CDARVPROD", {"CDARVPROD", "CDPRODUTO"}}}},
      {"FORNECEDOR",
       {{"NRINSJURFORN", kText, kEmpty}, {"NMRAZSOCFORN", kText, kEmpty}, {"IDTPIJURFORN", kText, kEmpty},
        {"CDFORNECED"}},
       {"CDFORNECED"},
       {{"FORNECEDOR_NRINSJURFORN", {"NRINSJURFORN"}}}},
      {"CLIENTE",
       {{"NRINSJURCLIE", kText, kEmpty}, {"NMRAZSOCCLIE", kText, kEmpty}, {"IDTPIJURCLIE", kText, kEmpty},
        {"CDCLIENTE"}},
       {"CDCLIENTE"},
       {{"CLIENTE_NRINSJURCLIE", {"NRINSJURCLIE"}}}},
      {"FILIAL", {{"CDFILIAL"}, {"NMFILIAL", kText, kEmpty}}, {"CDFILIAL"}, {}},
      {"DESONERA_FORNECEDOR",
       {{"CDPRODUTODES"}, {"CDFORNECED"}, {"CDFORNECEDDES", kText, kEmpty}},
       {"CDPRODUTODES", "CDFORNECED"},
       {}},
      {"DESONERA_CLIENTE",
       {{"CDPRODUTODES"}, {"CDCLIENTE"}, {"CDCLIENTEDES", kText, kEmpty}},
       {"CDPRODUTODES", "CDCLIENTE"},
       {}},
      {"DESONERA_FILIAL", {{"CDPRODUTODES"}, {"CDFILIALDES"}}, {"CDPRODUTODES", "CDFILIALDES"}, {}},
      {"AUDITORIA",
       {{"NRPACOTE", ColumnKind::Serial},
        {"DTHRALTERACAO"},
        {"NMMETODO"},
        {"DSENDERECO", kText, kEmpty},
        {"NMUSUARIO", kText, kEmpty},
        {"IDACESSO", kText, kEmpty}},
       {"NRPACOTE"},
       {{"AUDITORIA_DTHRALTERACAO", {"DTHRALTERACAO"}}}},
      {"AUDITORIA_ITEM",
       {{"NRPACOTE", ColumnKind::BigInteger, nullptr, "AUDITORIA (NRPACOTE)"},
        {"NRITEM", ColumnKind::Integer},
        {"IDOPERACAO"},
        {"CDPRODUTO"},
        {"CDITEM", kText, kEmpty},
        {"CDITEMDES", kText, kEmpty},
        {"QTLINHAS", ColumnKind::BigInteger, "0"}},
       {"NRPACOTE", "NRITEM"},
       {{"AUDITORIA_ITEM_CDPRODUTO", {"CDPRODUTO"}}}},
      {"CONTROLE", {{"NMCHAVE"}, {"NRVALOR", ColumnKind::BigInteger}}, {"NMCHAVE"}, {}},
      {"USUARIO",
       {{"NMCHAVE"},
        {"NMUSUARIO"},
        {"IDPAPEL"},
        {"DSSENHA"},
        {"FLDESATIVADO", ColumnKind::Integer, "0"},
        {"DTHRCRIACAO"},
        {"DTHRALTERACAO"}},
       {"NMCHAVE"},
       {}},
      {"SESSAO",
       {{"CDSESSAO"},
        {"NMCHAVE"},
        {"NMUSUARIO"},
        {"IDPAPEL"},
        {"IDACESSO"},
        {"NRINICIO", ColumnKind::BigInteger},
        {"NRULTIMOUSO", ColumnKind::BigInteger}},
       {"CDSESSAO"},
       {{"SESSAO_NMCHAVE", {"NMCHAVE"}}}},
      {"TENTATIVA_ACESSO",
       {{"NRTENTATIVA", ColumnKind::Serial},
        {"NMCHAVE"},
        {"DSENDERECO"},
        {"NRMOMENTO", ColumnKind::BigInteger}},
       {"NRTENTATIVA"},
       {{"TENTATIVA_ACESSO_NMCHAVE", {"NMCHAVE", "NRMOMENTO"}},
        {"TENTATIVA_ACESSO_DSENDERECO", {"DSENDERECO", "NRMOMENTO"}}}},
      {"ALTERACAO",
       {{"CDLISTA", ColumnKind::Integer}, {"CDPRODUTO"}, {"NRVERSAO", ColumnKind::BigInteger}},
       {"CDLISTA", "CDPRODUTO"},
       {{"ALTERACAO_NRVERSAO", {"CDLISTA", "NRVERSAO"}}}},
  };
  return kTables;
}

const std::vector<std::string>& FirstReleaseTables() {
  static const std::vector<std::string> kNames = [] {
    std::vector<std::string> names;
    // Later versions added the control table (2), the tables of users, sessions and failed
    // sign-ins (3) and the list changes (4).
    const std::array<const StoreTable*, 5> later = {&ControlTable(), &UserTable(), &SessionTable(),
                                                    &FailedSignInTable(), &ListChangeTable()};
    for (const StoreTable& t : StoreTables()) {
      if (std::find(later.begin(), later.end(), &t) == later.end()) names.emplace_back(t.name);
    }
    return names;
  }();
  return kNames;
}

std::string NotAStore(const std::vector<std::string>& tables) {
  if (tables.empty()) return {};
  std::vector<std::string> upper;
  for (const std::string& name : tables) {
    std::string u = name;
    for (char& c : u) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    upper.push_back(std::move(u));
  }
  std::sort(upper.begin(), upper.end());
  const auto has = [&](const std::string& name) { return std::binary_search(upper.begin(), upper.end(), name); };
  bool store = true;
  for (const std::string& name : FirstReleaseTables()) store = store && has(name);
  if (store) return {};
  std::vector<std::string> masters;
  for (const ListKind kind : kListKinds) masters.emplace_back(TablesOf(kind).master.name);
  std::sort(masters.begin(), masters.end());
  const auto listed = [](const std::vector<std::string>& names) {
    std::string out;
    for (size_t i = 0; i < names.size() && i < 12; ++i) out += (i ? ", " : "") + names[i];
    if (names.size() > 12) out += ", …";
    return out;
  };
  if (upper == masters) return "the desktops' local database (tables " + listed(upper) + ")";
  return "not a server store (it holds the tables " + listed(upper) + ")";
}

const ListTables& TablesOf(ListKind kind) {
  const auto& t = StoreTables();
  static const ListTables kLists[] = {
      {t[kProduct], "CDARVPROD", "NMPRODUTO", "p", nullptr},
      {t[kSupplier], "NRINSJURFORN", "NMRAZSOCFORN", "f", &t[kSupplierPairs]},
      {t[kClient], "NRINSJURCLIE", "NMRAZSOCCLIE", "c", &t[kClientPairs]},
      {t[kBranch], "CDFILIAL", "NMFILIAL", "b", &t[kBranchPairs]},
  };
  return kLists[MasterIndex(kind)];
}

const StoreTable& RelationOf(ListKind kind) {
  RelatedIndex(kind);  // raises for the product list
  return *TablesOf(kind).relation;
}

const StoreTable& AuditPacketTable() { return StoreTables()[kPacket]; }
const StoreTable& AuditChangeTable() { return StoreTables()[kChange]; }
const StoreTable& ControlTable() { return StoreTables()[kControl]; }
const StoreTable& UserTable() { return StoreTables()[kUsers]; }
const StoreTable& SessionTable() { return StoreTables()[kSessions]; }
const StoreTable& FailedSignInTable() { return StoreTables()[kFailures]; }
const StoreTable& ListChangeTable() { return StoreTables()[kListChanges]; }

const std::vector<SchemaStep>& SchemaSteps() {
  // Version 2 added CONTROLE; version 3 the users, sessions and failed sign-ins, and how the
  // person of an audit packet was identified; version 4 the list changes (ALTERACAO and the list
  // versions of CONTROLE, which Schema makes).
  static const std::vector<SchemaStep> kSteps = {
      {2, {}},
      {3, {{"AUDITORIA", "IDACESSO"}}},
      {4, {}},
  };
  return kSteps;
}

size_t MasterIndex(ListKind kind) { return static_cast<size_t>(kind); }

size_t RelatedIndex(ListKind kind) {
  if (kind == ListKind::Product) throw EStoreError("internal error: a related list was expected");
  return static_cast<size_t>(kind) - 1;
}

std::string StoreTable::ColumnList(std::string_view prefix) const {
  std::string out;
  for (const StoreColumn& c : columns) out += (out.empty() ? "" : ", ") + std::string(prefix) + c.name;
  return out;
}

bool StoreTable::Has(std::string_view column) const {
  for (const StoreColumn& c : columns) {
    if (column == c.name) return true;
  }
  return false;
}

bool StoreTable::Numbered() const {
  for (const StoreColumn& c : columns) {
    if (c.kind == ColumnKind::Serial) return true;
  }
  return false;
}

StoreStatements::StoreStatements(const SqlDialect& dialect) : dialect_(dialect) {
  // The schema: each table, then its indexes; a key of one column is declared with the column.
  for (const StoreTable& t : StoreTables()) {
    schema_ += std::string("CREATE TABLE IF NOT EXISTS ") + t.name + " (";
    for (size_t i = 0; i < t.columns.size(); ++i) {
      const StoreColumn& c = t.columns[i];
      schema_ += std::string(i ? ",\n  " : "\n  ") + c.name + " " + dialect.ColumnType(c.kind);
      if (c.kind != ColumnKind::Serial) schema_ += " NOT NULL";
      if (t.key.size() == 1 && t.key[0] == std::string_view(c.name)) schema_ += " PRIMARY KEY";
      if (c.defaultValue) schema_ += std::string(" DEFAULT ") + c.defaultValue;
      if (c.references) schema_ += std::string(" REFERENCES ") + c.references;
    }
    if (t.key.size() > 1) schema_ += ",\n  PRIMARY KEY (" + Joined(t.key) + ")";
    schema_ += ")" + dialect.TableOptions(t) + ";\n";
    for (const StoreIndex& index : t.indexes) {
      schema_ += std::string("CREATE INDEX IF NOT EXISTS ") + index.name + " ON " + t.name + " (" +
                 Joined(index.columns) + ");\n";
    }
  }
  const StoreTable& control = ControlTable();
  const std::string versionRow = std::string("'") + kMasterVersionName + "'";
  schema_ += dialect.InsertSkipping(control, control.ColumnList(), versionRow + ", 1") + ";\n";
  // The list versions start at the time the store is made, in microseconds: past every version a
  // store made earlier at the same place may have handed out to clients still running.
  for (const char* name : {kListVersionName, kOldestListVersionName}) {
    schema_ += dialect.InsertSkipping(control, control.ColumnList(),
                                      std::string("'") + name + "', " + dialect.NowMicroseconds()) +
               ";\n";
  }

  const std::string masterVersionWhere = std::string(" WHERE ") + control.key[0] + " = " + versionRow;
  setMasterVersion_ = std::string("UPDATE ") + control.name + " SET " + control.columns[1].name + " = " +
                      dialect.Parameter(1, control.columns[1].kind) + masterVersionWhere;
  masterVersion_ =
      Make("master_version", "",
           std::string("SELECT ") + control.columns[1].name + " FROM " + control.name + masterVersionWhere);
  masterChanged_ = Make("master_changed", "",
                        std::string("UPDATE ") + control.name + " SET " + control.columns[1].name + " = " +
                            control.columns[1].name + " + 1" + masterVersionWhere);

  for (const ListKind kind : kListKinds) {
    const ListTables& list = TablesOf(kind);
    const StoreTable& m = list.master;
    const size_t at = MasterIndex(kind);
    putMaster_[at] = Make("put", m.name,
                          dialect.InsertReplacing(m, m.ColumnList(), Parameters(m, 0, m.columns.size())));
    masterCode_[at] = Make("code", m.name,
                           std::string("SELECT ") + list.code + " FROM " + m.name + " WHERE " + list.Key() + " = " +
                               dialect.Parameter(1, kText));
    countMaster_[at] = Make("count", m.name, std::string("SELECT COUNT(*) FROM ") + m.name);
  }

  std::string listed = "SELECT";
  for (const ListKind kind : kRelatedLists) {
    const StoreTable& r = RelationOf(kind);
    const std::string product = std::string(r.key[0]) + " = " + dialect.Parameter(1, kText);
    const std::string pair = product + " AND " + r.key[1] + " = " + dialect.Parameter(2, kText);
    const size_t at = RelatedIndex(kind);
    listed += std::string(at ? " OR" : "") + " EXISTS (SELECT 1 FROM " + r.name + " WHERE " + product + ")";
    pairStored_[at] = Make("stored", r.name, std::string("SELECT 1 FROM ") + r.name + " WHERE " + pair);
    insertPair_[at] = Make("insert", r.name,
                           dialect.InsertSkipping(r, r.ColumnList(), Parameters(r, 0, r.columns.size())));
    deletePair_[at] = Make("delete", r.name, std::string("DELETE FROM ") + r.name + " WHERE " + pair);
    deleteProduct_[at] = Make("delete_product", r.name, std::string("DELETE FROM ") + r.name + " WHERE " + product);
    countPairs_[at] = Make("count", r.name, std::string("SELECT COUNT(*) FROM ") + r.name);
    std::string rows = RelatedListSql(kind, true);
    rows.replace(rows.find("$1"), 2, dialect.Parameter(1, kText));
    productRows_[at] = Make("product_rows", r.name, rows);
  }
  productListed_ = Make("listed", "", listed);

  // The audit trail: a packet's columns but its number, and every column of its changes.
  const StoreTable& packet = AuditPacketTable();
  const StoreTable& change = AuditChangeTable();
  std::string packetColumns;
  for (size_t i = 1; i < packet.columns.size(); ++i) {
    packetColumns += std::string(i > 1 ? ", " : "") + packet.columns[i].name;
  }
  auditPacket_ = Make("audit_packet", "",
                      std::string("INSERT INTO ") + packet.name + " (" + packetColumns + ") VALUES (" +
                          Parameters(packet, 1, packet.columns.size() - 1) + ")" + dialect.ReturningNumber(packet));
  auditChange_ = Make("audit_change", "", Insert(change));

  // ReadAudit's columns: the packet's first five, its change's but the packet number, then how the
  // person was identified (a column later releases added to the packet).
  std::string auditColumns;
  for (size_t i = 0; i < kAuditPacketColumns; ++i) auditColumns += std::string(i ? ", a." : "a.") + packet.columns[i].name;
  for (size_t i = 1; i < change.columns.size(); ++i) auditColumns += std::string(", i.") + change.columns[i].name;
  for (size_t i = kAuditPacketColumns; i < packet.columns.size(); ++i) auditColumns += std::string(", a.") + packet.columns[i].name;
  const std::string auditFrom = "SELECT " + auditColumns + " FROM " + packet.name + " a LEFT JOIN " + change.name +
                                " i ON i.NRPACOTE = a.NRPACOTE";
  const std::string auditOrder = " ORDER BY a.NRPACOTE, i.NRITEM";
  auditAll_ = auditFrom + auditOrder;
  audit_ = auditFrom + " WHERE a.DTHRALTERACAO >= " + dialect.Parameter(1, kText) + " AND (" +
           dialect.Parameter(2, kText) + " = '' OR i.CDPRODUTO = " + dialect.Parameter(2, kText) + ")" + auditOrder;
  MakeAccess();
  MakeChanges();
}

void StoreStatements::MakeChanges() {
  const StoreTable& control = ControlTable();
  const StoreTable& changes = ListChangeTable();
  const std::string value = control.columns[1].name;
  const auto where = [&](const char* name) {
    return std::string(" WHERE ") + control.key[0] + " = '" + name + "'";
  };
  const auto select = [&](const char* name) { return "SELECT " + value + " FROM " + control.name + where(name); };
  const std::string update = std::string("UPDATE ") + control.name + " SET " + value + " = ";
  // Numbers travel as text parameters; the casts make both stores compare them as numbers.
  const auto number = [&](int n) { return "CAST(" + dialect_.Parameter(n, kText) + " AS BIGINT)"; };
  const auto set = [&](ChangeStatement which, std::string purpose, std::string text) {
    change_[static_cast<size_t>(which)] = Make(std::move(purpose), "", std::move(text));
  };
  set(ChangeStatement::kListVersion, "list_version", select(kListVersionName));
  set(ChangeStatement::kOldestListVersion, "oldest_list_version", select(kOldestListVersionName));
  // Taking the next version updates its row, which a PostgreSQL writer then holds locked until it
  // commits: saves take their versions in the order they commit, so a reader that sees version V
  // sees every save numbered V or less.
  set(ChangeStatement::kNextListVersion, "next_list_version",
      update + value + " + 1" + where(kListVersionName) + " RETURNING " + value);
  set(ChangeStatement::kListChanged, "list_changed",
      dialect_.InsertReplacing(changes, changes.ColumnList(),
                               number(1) + ", " + dialect_.Parameter(2, kText) + ", " + number(3)));
  set(ChangeStatement::kChangedProducts, "changed_products",
      std::string("SELECT CDPRODUTO FROM ") + changes.name + " WHERE CDLISTA = " + number(1) +
          " AND NRVERSAO > " + number(2) + " ORDER BY CDPRODUTO LIMIT " + number(3));
  set(ChangeStatement::kPruneListChanges, "prune_list_changes",
      std::string("DELETE FROM ") + changes.name + " WHERE NRVERSAO <= " + number(1));
  set(ChangeStatement::kRaiseOldestListVersion, "raise_oldest_list_version",
      update + number(1) + where(kOldestListVersionName) + " AND " + value + " < " + number(1));
  set(ChangeStatement::kListVersionAtLeast, "list_version_at_least",
      update + "CASE WHEN " + value + " + 1 > " + number(1) + " THEN " + value + " + 1 ELSE " + number(1) + " END" +
          where(kListVersionName) + " RETURNING " + value);
  set(ChangeStatement::kForgetListChanges, "forget_list_changes", std::string("DELETE FROM ") + changes.name);
}

void StoreStatements::MakeAccess() {
  const StoreTable& users = UserTable();
  const StoreTable& sessions = SessionTable();
  const StoreTable& failures = FailedSignInTable();
  const auto p = [this](int n, ColumnKind kind = kText) { return dialect_.Parameter(n, kind); };
  const ColumnKind big = ColumnKind::BigInteger;
  const auto set = [&](AccessStatement which, std::string purpose, std::string text) {
    access_[static_cast<size_t>(which)] = Make(std::move(purpose), "", std::move(text));
  };
  const std::string u = std::string(" FROM ") + users.name;
  set(AccessStatement::kFindUser, "find_user", "SELECT " + users.ColumnList() + u + " WHERE NMCHAVE = " + p(1));
  set(AccessStatement::kAddUser, "add_user",
      dialect_.InsertSkipping(users, users.ColumnList(), Parameters(users, 0, users.columns.size())));
  set(AccessStatement::kUpdateUser, "update_user",
      std::string("UPDATE ") + users.name + " SET IDPAPEL = " + p(2) + ", DSSENHA = " + p(3) +
          ", FLDESATIVADO = " + p(4, ColumnKind::Integer) + ", DTHRALTERACAO = " + p(5) + " WHERE NMCHAVE = " + p(1));
  set(AccessStatement::kListUsers, "list_users", "SELECT " + users.ColumnList() + u + " ORDER BY NMCHAVE");
  set(AccessStatement::kCountUsers, "count_users", "SELECT COUNT(*)" + u);

  const std::string s = std::string(" FROM ") + sessions.name;
  set(AccessStatement::kAddSession, "add_session", Insert(sessions));
  set(AccessStatement::kFindSession, "find_session",
      "SELECT " + sessions.ColumnList() + s + " WHERE CDSESSAO = " + p(1));
  set(AccessStatement::kTouchSession, "touch_session",
      std::string("UPDATE ") + sessions.name + " SET NRULTIMOUSO = " + p(2, big) + " WHERE CDSESSAO = " + p(1) +
          " AND NRULTIMOUSO < " + p(2, big));
  set(AccessStatement::kEndSession, "end_session", "DELETE" + s + " WHERE CDSESSAO = " + p(1));
  set(AccessStatement::kEndUserSessions, "end_user_sessions", "DELETE" + s + " WHERE NMCHAVE = " + p(1));
  set(AccessStatement::kEndOldSessions, "end_old_sessions",
      "DELETE" + s + " WHERE NRULTIMOUSO < " + p(1, big) + " OR NRINICIO < " + p(2, big));

  const std::string f = std::string(" FROM ") + failures.name;
  set(AccessStatement::kAddFailure, "add_failure",
      std::string("INSERT INTO ") + failures.name + " (NMCHAVE, DSENDERECO, NRMOMENTO) VALUES (" + p(1) + ", " + p(2) +
          ", " + p(3, big) + ")");
  set(AccessStatement::kFailuresOfName, "failures_of_name",
      "SELECT COUNT(*), COALESCE(MAX(NRMOMENTO), 0)" + f + " WHERE NMCHAVE = " + p(1) + " AND NRMOMENTO >= " + p(2, big));
  set(AccessStatement::kFailuresOfAddress, "failures_of_address",
      "SELECT COUNT(*), COALESCE(MAX(NRMOMENTO), 0)" + f + " WHERE DSENDERECO = " + p(1) +
          " AND NRMOMENTO >= " + p(2, big));
  set(AccessStatement::kClearFailures, "clear_failures", "DELETE" + f + " WHERE NMCHAVE = " + p(1));
  set(AccessStatement::kDropFailures, "drop_failures", "DELETE" + f + " WHERE NRMOMENTO < " + p(1, big));
}

std::string StoreStatements::Upgrade(int from) const {
  std::string out;
  for (const SchemaStep& step : SchemaSteps()) {
    if (step.version <= from) continue;
    for (const auto& [tableName, columnName] : step.addedColumns) {
      for (const StoreTable& t : StoreTables()) {
        if (std::string_view(t.name) != tableName) continue;
        for (const StoreColumn& c : t.columns) {
          if (std::string_view(c.name) != columnName) continue;
          out += std::string("ALTER TABLE ") + t.name + " ADD COLUMN " + c.name + " " + dialect_.ColumnType(c.kind) +
                 " NOT NULL DEFAULT " + (c.defaultValue ? c.defaultValue : "''") + ";\n";
        }
      }
    }
  }
  return out;
}

std::string StoreStatements::AuditOf(std::string sql, int version) {
  for (const SchemaStep& step : SchemaSteps()) {
    if (step.version <= version) continue;
    for (const auto& [tableName, columnName] : step.addedColumns) {
      if (std::string_view(tableName) != AuditPacketTable().name) continue;
      const std::string column = std::string("a.") + columnName;
      for (size_t at = sql.find(column); at != std::string::npos; at = sql.find(column, at + 2)) {
        sql.replace(at, column.size(), "''");
      }
    }
  }
  return sql;
}

std::string StoreStatements::Insert(const StoreTable& table) const {
  return std::string("INSERT INTO ") + table.name + " (" + table.ColumnList() + ") VALUES (" +
         Parameters(table, 0, table.columns.size()) + ")";
}

StoreStatement StoreStatements::Make(std::string purpose, std::string_view table, std::string text) {
  return {count_++, table.empty() ? purpose : purpose + "_" + Lower(table), std::move(text)};
}

// The parameters for count columns of table from the first'th, numbered from 1.
std::string StoreStatements::Parameters(const StoreTable& table, size_t first, size_t count) const {
  std::string out;
  for (size_t i = 0; i < count; ++i) {
    out += (i ? ", " : "") + dialect_.Parameter(static_cast<int>(i + 1), table.columns[first + i].kind);
  }
  return out;
}

const std::string& MasterSql(ListKind kind) {
  static const std::array<std::string, 4> kSql = [] {
    std::array<std::string, 4> sql;
    for (const ListKind k : kListKinds) {
      const ListTables& list = TablesOf(k);
      sql[MasterIndex(k)] =
          "SELECT " + list.master.ColumnList() + " FROM " + list.master.name + " ORDER BY " + list.Key();
    }
    return sql;
  }();
  return kSql[MasterIndex(kind)];
}

const std::string& ListSql(ListKind kind) {
  static const std::array<std::string, 4> kSql = [] {
    std::array<std::string, 4> sql;
    // Products: every product with a related row, by code then key.
    const ListTables& products = TablesOf(ListKind::Product);
    const std::string p = products.alias;
    std::string& product = sql[MasterIndex(ListKind::Product)];
    for (const host::wire::FieldDef& f : ListCatalog::Get(ListKind::Product).fields) {
      product += (product.empty() ? "SELECT " : ", ") + p + "." + f.name;
    }
    product += std::string(" FROM ") + products.master.name + " " + p;
    for (const ListKind k : kRelatedLists) {
      const StoreTable& r = RelationOf(k);
      product += std::string(k == kRelatedLists[0] ? " WHERE" : " OR") + " EXISTS (SELECT 1 FROM " + r.name +
                 " d WHERE d." + r.key[0] + " = " + p + "." + products.Key() + ")";
    }
    product += " ORDER BY " + p + "." + products.code + ", " + p + "." + products.Key();
    for (const ListKind k : kRelatedLists) sql[MasterIndex(k)] = RelatedListSql(k, false);
    return sql;
  }();
  return kSql[MasterIndex(kind)];
}

const std::string& HistorySql() {
  static const std::string kSql = [] {
    // The item's code and name come from the master table of the list the change was saved to;
    // the joins are made only for that list.
    std::string code = " CASE a.NMMETODO", name = " CASE a.NMMETODO", joins;
    for (const ListKind k : kRelatedLists) {
      const ListTables& list = TablesOf(k);
      const std::string method = "'" + std::string(ListCatalog::Get(k).saveMethod) + "'";
      const std::string m = list.alias;
      code += "  WHEN " + method + " THEN " +
              (std::string_view(list.code) == list.Key()
                   ? std::string("i.CDITEM")
                   : "COALESCE(NULLIF(i.CDITEMDES, ''), " + m + "." + list.code + ", '')");
      name += "  WHEN " + method + " THEN COALESCE(" + m + "." + list.name + ", '')";
      joins += std::string(" LEFT JOIN ") + list.master.name + " " + m + " ON a.NMMETODO = " + method + " AND " + m +
               "." + list.Key() + " = i.CDITEM";
    }
    const ListTables& products = TablesOf(ListKind::Product);
    const std::string p = products.alias;
    code += "  ELSE COALESCE(" + p + "." + products.code + ", '') END,";
    name += "  ELSE COALESCE(" + p + "." + products.name + ", '') END";
    joins += std::string(" LEFT JOIN ") + products.master.name + " " + p + " ON a.NMMETODO = '" +
             std::string(ListCatalog::Get(ListKind::Product).saveMethod) + "' AND " + p + "." + products.Key() +
             " = i.CDPRODUTO";
    return "SELECT a.DTHRALTERACAO, a.NMUSUARIO, a.DSENDERECO, a.NMMETODO, i.IDOPERACAO, i.CDITEM," + code + name +
           " FROM AUDITORIA_ITEM i JOIN AUDITORIA a ON a.NRPACOTE = i.NRPACOTE" + joins +
           " WHERE i.CDPRODUTO = $1 AND i.QTLINHAS > 0 ORDER BY i.NRPACOTE DESC, i.NRITEM DESC LIMIT " +
           std::to_string(kHistoryLimit);
  }();
  return kSql;
}

}  // namespace server
