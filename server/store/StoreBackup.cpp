#include "server/store/StoreBackup.h"

#include <cstdio>
#include <filesystem>
#include <string_view>
#include <vector>

#include "server/store/SqliteBackup.h"
#include "server/store/SqliteDatabase.h"
#include "server/store/SqliteStore.h"
#include "server/store/StoreSchema.h"
#include "server/store/StoreTransaction.h"

namespace server {
namespace {

// The statements of the SQLite store, which a backup is.
const StoreStatements& Statements() {
  static const StoreStatements kStatements(SqliteStore::Dialect());
  return kStatements;
}

// The place in ReadList's rows of each column of a related list's relation.
std::vector<size_t> PairPlaces(ListKind kind) {
  const auto& fields = ListCatalog::Get(kind).fields;
  std::vector<size_t> places;
  for (const StoreColumn& column : RelationOf(kind).columns) {
    size_t at = 0;
    while (at < fields.size() && fields[at].name != column.name) ++at;
    if (at == fields.size()) throw EStoreError(std::string("internal error: the list lacks the column ") + column.name);
    places.push_back(at);
  }
  return places;
}

[[noreturn]] void Fail(const std::string& what, const std::exception& e) { throw EStoreError(what + ": " + e.what()); }

// Makes every list version a copy of a store holds too old for clients: a copy put in place of
// its store (a restore, a backup moved over the file) may hold an earlier state than the lists
// its clients were refreshed to, so none of them may be refreshed by changes across it. The list
// version moves past the time now in microseconds, which is past every version handed out before
// (see Store::FreshListVersion). Copies of stores older than the list versions hold none.
void ForgetListVersions(const std::string& path) {
  SqliteDatabase db(path, SqliteDatabase::Mode::ReadWrite);
  {
    SqliteStatement version = db.Prepare("PRAGMA user_version");
    if (!version.Step() || StoredNumber(version.Text(0), "user_version") < 4) return;
  }
  const std::string now = std::to_string(Store::FreshListVersion());
  const std::string control = ControlTable().name;
  db.Exec("BEGIN IMMEDIATE; UPDATE " + control + " SET NRVALOR = MAX(NRVALOR + 1, " + now + ") WHERE NMCHAVE = '" +
          kListVersionName + "'; DELETE FROM " + ListChangeTable().name + "; UPDATE " + control +
          " SET NRVALOR = (SELECT NRVALOR FROM " + control + " WHERE NMCHAVE = '" + kListVersionName +
          "') WHERE NMCHAVE = '" + kOldestListVersionName + "'; COMMIT");
}

// True when a and b name the same file: the same path once made absolute and free of links and
// dots, or, when both exist, the same file under two names (a hard link).
bool SameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  const auto pa = std::filesystem::weakly_canonical(a, ec);
  if (ec) return false;
  const auto pb = std::filesystem::weakly_canonical(b, ec);
  if (ec) return false;
  if (pa == pb) return true;
  return std::filesystem::exists(pa, ec) && std::filesystem::exists(pb, ec) && std::filesystem::equivalent(pa, pb, ec);
}

// Refuses a target that would overwrite the store or, without leave, any file.
void ExpectFreeTarget(const std::string& location, const std::string& target, const BackupOptions& options) {
  if (target.empty()) throw EStoreError("no file given for the backup");
  if (!Store::IsPostgresLocation(location)) {
    for (const char* side : {"", "-wal", "-shm", "-journal"}) {
      if (!SameFile(target, location + side)) continue;
      throw EStoreError("the backup's target " + target + " is " +
                        (*side ? std::string("the store's ") + side + " file" : std::string("the store itself")) +
                        "; a copy never replaces the store. Write it elsewhere");
    }
  }
  std::error_code ec;
  const auto status = std::filesystem::symlink_status(target, ec);
  if (ec || !std::filesystem::exists(status)) return;
  if (!options.overwrite) {
    throw EStoreError("a file already exists at " + target + "; give a new name, or --force to replace it");
  }
  if (!std::filesystem::is_regular_file(status)) {
    throw EStoreError("the backup's target " + target + " is not a regular file; give a file's name");
  }
}

// Copies a PostgreSQL store into a new SQLite file at part, in one snapshot of the source.
void CopyPostgres(const std::string& location, const std::string& part) {
  // Read as it is: a backup never changes the store it copies.
  const auto source = Store::Open(location, StoreOptions{.readOnly = true});
  const auto session = source->OpenSession();
  { SqliteStore made(part, StoreOptions{.create = true, .fullSync = false}); }
  SqliteDatabase copy(part, SqliteDatabase::Mode::ReadWrite);
  copy.Exec("PRAGMA synchronous=OFF; BEGIN IMMEDIATE");
  StoreTransaction snapshot(*session, StoreTransaction::Kind::Read);
  for (const ListKind kind : kListKinds) {
    SqliteStatement insert = copy.Prepare(Statements().Insert(TablesOf(kind).master));
    auto rows = session->ReadMaster(kind);
    while (rows->Next()) {
      const auto row = rows->Row();
      for (size_t i = 0; i < row.size(); ++i) insert.Bind(static_cast<int>(i + 1), row[i]);
      insert.Run();
    }
  }
  for (const ListKind kind : kRelatedLists) {
    SqliteStatement insert = copy.Prepare(Statements().Insert(RelationOf(kind)));
    const std::vector<size_t> places = PairPlaces(kind);
    auto rows = session->ReadList(kind);
    while (rows->Next()) {
      const auto row = rows->Row();
      for (size_t i = 0; i < places.size(); ++i) insert.Bind(static_cast<int>(i + 1), row[places[i]]);
      insert.Run();
    }
  }
  // Local users: a store of a release before version 3, read as it is, has none.
  SqliteStatement user = copy.Prepare(Statements().Insert(UserTable()));
  for (const UserRecord& u : source->Version() >= 3 ? session->ListUsers() : std::vector<UserRecord>{}) {
    const std::string disabled = u.disabled ? "1" : "0";
    int n = 0;
    for (const std::string_view value :
         {std::string_view(u.key), std::string_view(u.name), std::string_view(u.role),
          std::string_view(u.passwordHash), std::string_view(disabled), std::string_view(u.created),
          std::string_view(u.changed)}) {
      user.Bind(++n, value);
    }
    user.Run();
  }
  // ReadAudit's rows: the packet's first columns, then its change's but the packet number, then
  // the packet's last (see Store.h).
  SqliteStatement packet = copy.Prepare(Statements().Insert(AuditPacketTable()));
  SqliteStatement change = copy.Prepare(Statements().Insert(AuditChangeTable()));
  auto audit = session->ReadAudit({});
  std::string lastPacket;
  while (audit->Next()) {
    const auto row = audit->Row();
    if (row[0] != lastPacket) {
      lastPacket = std::string(row[0]);
      for (int i = 0; i < 5; ++i) packet.Bind(i + 1, row[static_cast<size_t>(i)]);
      packet.Bind(6, row[11]);
      packet.Run();
    }
    if (row[5].empty()) continue;  // a packet without changes
    change.Bind(1, row[0]);
    for (int i = 2; i <= 7; ++i) change.Bind(i, row[static_cast<size_t>(i + 3)]);
    change.Run();
  }
  // A store of the first release kept no master-data version: the copy starts its own.
  if (source->Version() >= 2) {
    SqliteStatement version = copy.Prepare(Statements().SetMasterVersion());
    version.Bind(1, std::to_string(session->MasterDataVersion())).Run();
  }
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

void StoreBackup::Write(const std::string& location, const std::string& target, const BackupOptions& options) {
  ExpectFreeTarget(location, target, options);
  if (!Store::IsPostgresLocation(location)) {
    if (!std::filesystem::exists(location)) throw EStoreError("no server database at " + location);
    // A file that is not a store, or a damaged one, is refused before a copy is begun.
    if (SqliteStore::Examine(location) == 0) throw EStoreError("the file " + location + " is not a server database");
  }
  // Copied under a name of its own first, so it is checked before it takes the target's name.
  const std::string part = SqliteBackup::Reserve(target);
  std::error_code ignored;
  try {
    if (Store::IsPostgresLocation(location)) {
      CopyPostgres(location, part);
    } else {
      SqliteDatabase source(location, SqliteDatabase::Mode::ReadOnly);
      SqliteBackup::CopyInto(source.Handle(), part);
    }
    ForgetListVersions(part);
    SqliteBackup::MakeSelfContained(part);
    SqliteBackup::Sync(part);
    const std::string verdict = IntegrityCheck(part);
    if (verdict != "ok") throw EStoreError("the copy failed its integrity check: " + verdict);
    SqliteBackup::Publish(part, target, options.overwrite);
  } catch (const ESqliteError& e) {
    std::filesystem::remove(part, ignored);
    Fail("backup into " + target + " failed", e);
  } catch (...) {
    std::filesystem::remove(part, ignored);
    throw;
  }
}

void StoreBackup::Restore(const std::string& backup, const std::string& location) {
  if (!std::filesystem::exists(backup)) throw EStoreError("no backup file at " + backup);
  try {
    const int version = SqliteStore::Examine(backup);
    if (version == 0) throw EStoreError("the file " + backup + " is not a server database");
    SqliteDatabase source(backup, SqliteDatabase::Mode::ReadOnly);
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
      ForgetListVersions(location);
      SqliteBackup::MakeSelfContained(location);
      SqliteBackup::Sync(location);
      return;
    }
    const auto target = Store::Open(location, StoreOptions{.create = true});
    const auto session = target->OpenSession();
    StoreTransaction transaction(*session, StoreTransaction::Kind::Write);
    for (const ListKind kind : kListKinds) {
      if (session->CountMaster(kind) > 0) {
        throw EStoreError("the PostgreSQL database " + Store::Redacted(location) + " already holds data; restore into an"
                          " empty schema");
      }
    }
    for (const ListKind kind : kListKinds) {
      const StoreTable& table = TablesOf(kind).master;
      SqliteStatement rows = source.Prepare("SELECT " + table.ColumnList() + " FROM " + table.name);
      std::vector<std::string_view> row(table.columns.size());
      while (rows.Step()) {
        for (size_t i = 0; i < row.size(); ++i) row[i] = rows.Text(static_cast<int>(i));
        session->PutMaster(kind, row);
      }
    }
    for (const ListKind kind : kRelatedLists) {
      const StoreTable& pairs = RelationOf(kind);
      SqliteStatement rows = source.Prepare("SELECT " + pairs.ColumnList() + " FROM " + pairs.name);
      const bool coded = pairs.columns.size() == 3;  // branches have no typed code
      while (rows.Step()) session->InsertPair(kind, rows.Text(0), rows.Text(1), coded ? rows.Text(2) : "");
    }
    // Local users (a backup of a release before them has none).
    if (version >= 3) {
      const StoreTable& users = UserTable();
      SqliteStatement rows = source.Prepare("SELECT " + users.ColumnList() + " FROM " + users.name);
      while (rows.Step()) {
        session->AddUser(UserRecord{std::string(rows.Text(0)), std::string(rows.Text(1)), std::string(rows.Text(2)),
                                    std::string(rows.Text(3)), rows.Text(4) != "0", std::string(rows.Text(5)),
                                    std::string(rows.Text(6))});
      }
    }
    // The audit trail's rows as ReadAudit gives them (see Store.h), every packet; a backup of a
    // release before version 3 has no access column.
    SqliteStatement audit = source.Prepare(StoreStatements::AuditOf(Statements().AuditAll(), version));
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
        packet.access = audit.Text(11);
      }
      if (audit.Text(5).empty()) continue;  // a packet without changes
      packet.changes.push_back({std::string(audit.Text(6)), std::string(audit.Text(7)), std::string(audit.Text(8)),
                                std::string(audit.Text(9)),
                                StoredNumber(audit.Text(10), AuditChangeTable().Qualified(6))});
    }
    flush();
    session->MasterDataChanged();
    transaction.Commit();
  } catch (const ESqliteError& e) {
    Fail("restore from " + backup + " failed", e);
  }
}

}  // namespace server
