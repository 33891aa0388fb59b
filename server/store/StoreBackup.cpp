#include "server/store/StoreBackup.h"

#include <cstdio>
#include <filesystem>
#include <string_view>
#include <vector>

#include "server/store/SqliteBackup.h"
#include "server/store/SqliteDatabase.h"
#include "server/store/SqliteStore.h"
#include "server/store/StoreTransaction.h"

namespace server {
namespace {

// Where a related list's pair sits in the rows ReadList gives: product key, item key, typed code.
struct PairColumns {
  ListKind kind;
  const char* insert;
  size_t product, item, code;
  bool hasCode;
};
constexpr PairColumns kPairs[] = {
    {ListKind::Supplier, "INSERT INTO DESONERA_FORNECEDOR (CDPRODUTODES, CDFORNECED, CDFORNECEDDES) VALUES (?1, ?2, ?3)",
     0, 4, 1, true},
    {ListKind::Client, "INSERT INTO DESONERA_CLIENTE (CDPRODUTODES, CDCLIENTE, CDCLIENTEDES) VALUES (?1, ?2, ?3)", 0, 2,
     1, true},
    {ListKind::Branch, "INSERT INTO DESONERA_FILIAL (CDPRODUTODES, CDFILIALDES) VALUES (?1, ?2)", 0, 1, 0, false},
};

struct MasterTable {
  ListKind kind;
  const char* insert;
  const char* select;  // in ReadMaster's column order
};
constexpr MasterTable kMasters[] = {
    {ListKind::Product, "INSERT INTO PRODUTO (CDPRODUTO, CDARVPROD, NMPRODUTO) VALUES (?1, ?2, ?3)",
     "SELECT CDPRODUTO, CDARVPROD, NMPRODUTO FROM PRODUTO"},
    {ListKind::Supplier,
     "INSERT INTO FORNECEDOR (NRINSJURFORN, NMRAZSOCFORN, IDTPIJURFORN, CDFORNECED) VALUES (?1, ?2, ?3, ?4)",
     "SELECT NRINSJURFORN, NMRAZSOCFORN, IDTPIJURFORN, CDFORNECED FROM FORNECEDOR"},
    {ListKind::Client,
     "INSERT INTO CLIENTE (NRINSJURCLIE, NMRAZSOCCLIE, IDTPIJURCLIE, CDCLIENTE) VALUES (?1, ?2, ?3, ?4)",
     "SELECT NRINSJURCLIE, NMRAZSOCCLIE, IDTPIJURCLIE, CDCLIENTE FROM CLIENTE"},
    {ListKind::Branch, "INSERT INTO FILIAL (CDFILIAL, NMFILIAL) VALUES (?1, ?2)",
     "SELECT CDFILIAL, NMFILIAL FROM FILIAL"},
};

[[noreturn]] void Fail(const std::string& what, const std::exception& e) { throw EStoreError(what + ": " + e.what()); }

// Copies a PostgreSQL store into a new SQLite file at part, in one snapshot of the source.
void CopyPostgres(const std::string& location, const std::string& part) {
  const auto source = Store::Open(location);
  const auto session = source->OpenSession();
  { SqliteStore made(part, StoreOptions{.create = true, .fullSync = false}); }
  SqliteDatabase copy(part, SqliteDatabase::Mode::ReadWrite);
  copy.Exec("PRAGMA synchronous=OFF; BEGIN IMMEDIATE");
  StoreTransaction snapshot(*session, StoreTransaction::Kind::Read);
  for (const MasterTable& table : kMasters) {
    SqliteStatement insert = copy.Prepare(table.insert);
    auto rows = session->ReadMaster(table.kind);
    while (rows->Next()) {
      const auto row = rows->Row();
      for (size_t i = 0; i < row.size(); ++i) insert.Bind(static_cast<int>(i + 1), row[i]);
      insert.Run();
    }
  }
  for (const PairColumns& pairs : kPairs) {
    SqliteStatement insert = copy.Prepare(pairs.insert);
    auto rows = session->ReadList(pairs.kind);
    while (rows->Next()) {
      const auto row = rows->Row();
      insert.Bind(1, row[pairs.product]).Bind(2, row[pairs.item]);
      if (pairs.hasCode) insert.Bind(3, row[pairs.code]);
      insert.Run();
    }
  }
  SqliteStatement packet = copy.Prepare(
      "INSERT INTO AUDITORIA (NRPACOTE, DTHRALTERACAO, NMMETODO, DSENDERECO, NMUSUARIO) VALUES (?1, ?2, ?3, ?4, ?5)");
  SqliteStatement change = copy.Prepare(
      "INSERT INTO AUDITORIA_ITEM (NRPACOTE, NRITEM, IDOPERACAO, CDPRODUTO, CDITEM, CDITEMDES, QTLINHAS)"
      " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)");
  auto audit = session->ReadAudit({});
  std::string lastPacket;
  while (audit->Next()) {
    const auto row = audit->Row();
    if (row[0] != lastPacket) {
      lastPacket = std::string(row[0]);
      for (int i = 0; i < 5; ++i) packet.Bind(i + 1, row[static_cast<size_t>(i)]);
      packet.Run();
    }
    if (row[5].empty()) continue;  // a packet without changes
    change.Bind(1, row[0]);
    for (int i = 2; i <= 7; ++i) change.Bind(i, row[static_cast<size_t>(i + 3)]);
    change.Run();
  }
  SqliteStatement version = copy.Prepare("UPDATE CONTROLE SET NRVALOR = ?1 WHERE NMCHAVE = 'VERSAO_CADASTRO'");
  version.Bind(1, std::to_string(session->MasterDataVersion())).Run();
  snapshot.Commit();
  copy.Exec("COMMIT");
}

}  // namespace

std::string StoreBackup::IntegrityCheck(const std::string& path) {
  try {
    SqliteDatabase db(path, SqliteDatabase::Mode::ReadOnly);
    SqliteStatement check = db.Prepare("PRAGMA integrity_check");
    std::string out;
    while (check.Step()) out += std::string(out.empty() ? "" : "; ") + std::string(check.Text(0));
    return out;
  } catch (const ESqliteError& e) {
    Fail("cannot check " + path, e);
  }
}

void StoreBackup::Write(const std::string& location, const std::string& target) {
  const std::string part = target + ".part";
  std::error_code ignored;
  try {
    if (Store::IsPostgresLocation(location)) {
      std::filesystem::remove(part, ignored);
      CopyPostgres(location, part);
      SqliteBackup::Sync(part);
    } else {
      if (!std::filesystem::exists(location)) throw EStoreError("no server database at " + location);
      SqliteDatabase source(location, SqliteDatabase::Mode::ReadWrite);
      const int version = SqliteStore::SchemaVersion(source);
      if (version == 0) throw EStoreError("the file " + location + " is not a server database");
      // Copied under the .part name first, so it is checked before it takes the target's name.
      SqliteBackup::Copy(source.Handle(), part);
    }
    const std::string verdict = IntegrityCheck(part);
    if (verdict != "ok") throw EStoreError("the copy failed its integrity check: " + verdict);
  } catch (const ESqliteError& e) {
    std::filesystem::remove(part, ignored);
    Fail("backup into " + target + " failed", e);
  } catch (...) {
    std::filesystem::remove(part, ignored);
    throw;
  }
  if (std::rename(part.c_str(), target.c_str()) != 0) throw EStoreError("cannot rename " + part + " to " + target);
  SqliteBackup::Sync(std::filesystem::absolute(target).parent_path().string());
}

void StoreBackup::Restore(const std::string& backup, const std::string& location) {
  if (!std::filesystem::exists(backup)) throw EStoreError("no backup file at " + backup);
  try {
    SqliteDatabase source(backup, SqliteDatabase::Mode::ReadOnly);
    const int version = SqliteStore::SchemaVersion(source);
    if (version == 0) throw EStoreError("the file " + backup + " is not a server database");
    if (version > Store::kSchemaVersion) {
      throw EStoreError("the backup " + backup + " has schema version " + std::to_string(version) +
                        ", newer than version " + std::to_string(Store::kSchemaVersion) + " that this server knows");
    }
    if (!Store::IsPostgresLocation(location)) {
      if (std::filesystem::exists(location)) {
        throw EStoreError("a file already exists at " + location + "; restore into a new path (stop the server, "
                          "then move the new file into place)");
      }
      SqliteBackup::Copy(source.Handle(), location);
      return;
    }
    const auto target = Store::Open(location, StoreOptions{.create = true});
    const auto session = target->OpenSession();
    StoreTransaction transaction(*session, StoreTransaction::Kind::Write);
    for (const MasterTable& table : kMasters) {
      if (session->CountMaster(table.kind) > 0) {
        throw EStoreError("the PostgreSQL database " + Store::Redacted(location) + " already holds data; restore into an"
                          " empty schema");
      }
    }
    for (const MasterTable& table : kMasters) {
      SqliteStatement rows = source.Prepare(table.select);
      std::vector<std::string_view> row(static_cast<size_t>(rows.ColumnCount()));
      while (rows.Step()) {
        for (size_t i = 0; i < row.size(); ++i) row[i] = rows.Text(static_cast<int>(i));
        session->PutMaster(table.kind, row);
      }
    }
    const std::pair<ListKind, const char*> pairs[] = {
        {ListKind::Supplier, "SELECT CDPRODUTODES, CDFORNECED, CDFORNECEDDES FROM DESONERA_FORNECEDOR"},
        {ListKind::Client, "SELECT CDPRODUTODES, CDCLIENTE, CDCLIENTEDES FROM DESONERA_CLIENTE"},
        {ListKind::Branch, "SELECT CDPRODUTODES, CDFILIALDES, '' FROM DESONERA_FILIAL"}};
    for (const auto& [kind, sql] : pairs) {
      SqliteStatement rows = source.Prepare(sql);
      while (rows.Step()) session->InsertPair(kind, rows.Text(0), rows.Text(1), rows.Text(2));
    }
    SqliteStatement audit = source.Prepare(
        "SELECT a.NRPACOTE, a.DTHRALTERACAO, a.NMMETODO, a.DSENDERECO, a.NMUSUARIO, i.IDOPERACAO, i.CDPRODUTO,"
        " i.CDITEM, i.CDITEMDES, i.QTLINHAS FROM AUDITORIA a LEFT JOIN AUDITORIA_ITEM i ON i.NRPACOTE = a.NRPACOTE"
        " ORDER BY a.NRPACOTE, i.NRITEM");
    AuditPacket packet;
    std::string number;
    const auto flush = [&] {
      if (!number.empty()) session->RecordAudit(packet);
      packet = {};
    };
    while (audit.Step()) {
      if (audit.Text(0) != number) {
        flush();
        number = std::string(audit.Text(0));
        packet.time = audit.Text(1);
        packet.method = audit.Text(2);
        packet.client = audit.Text(3);
        packet.user = audit.Text(4);
      }
      if (audit.Text(5).empty()) continue;
      packet.changes.push_back({std::string(audit.Text(5)), std::string(audit.Text(6)), std::string(audit.Text(7)),
                                std::string(audit.Text(8)), std::stoll(std::string(audit.Text(9)))});
    }
    flush();
    session->MasterDataChanged();
    transaction.Commit();
  } catch (const ESqliteError& e) {
    Fail("restore from " + backup + " failed", e);
  }
}

}  // namespace server
