#include "server/store/LocalDatabase.h"

#include <filesystem>
#include <stdexcept>
#include <vector>

#include "server/store/SqliteDatabase.h"
#include "server/store/StoreSchema.h"
#include "server/store/StoreTransaction.h"

namespace server {
namespace {

// The columns of a master table the desktop looks entries up or orders them by, indexed in the
// local database.
std::vector<const char*> Indexed(ListKind kind) {
  switch (kind) {
    case ListKind::Product: return {"CDARVPROD", "CDPRODUTO"};
    case ListKind::Supplier: return {"NRINSJURFORN", "NMRAZSOCFORN"};
    case ListKind::Client: return {"NRINSJURCLIE", "NMRAZSOCCLIE"};
    case ListKind::Branch: break;
  }
  return {"CDFILIAL"};
}

int64_t& CountOf(MasterCounts& counts, ListKind kind) {
  switch (kind) {
    case ListKind::Product: return counts.products;
    case ListKind::Supplier: return counts.suppliers;
    case ListKind::Client: return counts.clients;
    case ListKind::Branch: break;
  }
  return counts.branches;
}

}  // namespace

MasterCounts LocalDatabase::Export(StoreSession& session, const std::string& localPath) {
  // The master tables of the file are replaced: a file holding anything else (a server store
  // above all, whose master tables have the same names) is never written.
  if (std::filesystem::exists(localPath)) {
    SqliteDatabase existing(localPath, SqliteDatabase::Mode::ReadOnly);
    SqliteStatement names =
        existing.Prepare("SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite%'");
    while (names.Step()) {
      const std::string name(names.Text(0));
      bool master = false;
      for (const ListKind kind : kListKinds) master = master || name == TablesOf(kind).master.name;
      if (!master) {
        throw std::runtime_error("the file " + localPath + " holds the table " + name +
                                 ", which a local database does not: it may be a server store. Nothing was written;"
                                 " give a new file or a local database");
      }
    }
  }
  SqliteDatabase local(localPath, SqliteDatabase::Mode::CreatePlain);
  MasterCounts counts;
  StoreTransaction read(session, StoreTransaction::Kind::Read);
  local.Exec("BEGIN IMMEDIATE");
  try {
    for (const ListKind kind : kListKinds) {
      const StoreTable& table = TablesOf(kind).master;
      // Plain text columns: the desktop's file has the master tables' columns, without the
      // store's keys and defaults.
      std::string create = std::string("DROP TABLE IF EXISTS ") + table.name + "; CREATE TABLE " + table.name + " (";
      for (size_t i = 0; i < table.columns.size(); ++i) {
        create += std::string(i ? ", " : "") + table.columns[i].name + " TEXT";
      }
      create += ");";
      local.Exec(create);
      std::string placeholders;
      for (size_t i = 0; i < table.columns.size(); ++i) placeholders += i ? ", ?" : "?";
      SqliteStatement insert = local.Prepare(std::string("INSERT INTO ") + table.name + " (" + table.ColumnList() +
                                             ") VALUES (" + placeholders + ")");
      auto cursor = session.ReadMaster(kind);
      while (cursor->Next()) {
        const auto row = cursor->Row();
        for (size_t i = 0; i < row.size(); ++i) insert.Bind(static_cast<int>(i + 1), row[i]);
        insert.Run();
        ++CountOf(counts, kind);
      }
      for (const char* column : Indexed(kind)) {
        local.Exec(std::string("CREATE INDEX ") + table.name + "_" + column + " ON " + table.name + " (" + column + ")");
      }
    }
    local.Exec("COMMIT");
  } catch (...) {
    try {
      local.Exec("ROLLBACK");
    } catch (const ESqliteError&) {
      // The original failure is the one worth reporting; closing the file rolls back anyway.
    }
    throw;
  }
  read.Commit();
  return counts;
}

}  // namespace server
