#include "server/store/LocalDatabase.h"

#include <filesystem>
#include <stdexcept>
#include <vector>

#include "server/store/SqliteDatabase.h"
#include "server/store/StoreTransaction.h"

namespace server {
namespace {

struct LocalTable {
  ListKind kind;
  const char* name;
  std::vector<const char*> columns;
  std::vector<const char*> indexed;  // columns the desktop looks up or orders by
};

const std::vector<LocalTable>& Tables() {
  static const std::vector<LocalTable> kTables = {
      {ListKind::Product, "PRODUTO", {"CDPRODUTO", "CDARVPROD", "NMPRODUTO"}, {"CDARVPROD", "CDPRODUTO"}},
      {ListKind::Supplier,
       "FORNECEDOR",
       {"NRINSJURFORN", "NMRAZSOCFORN", "IDTPIJURFORN", "CDFORNECED"},
       {"NRINSJURFORN", "NMRAZSOCFORN"}},
      {ListKind::Client,
       "CLIENTE",
       {"NRINSJURCLIE", "NMRAZSOCCLIE", "IDTPIJURCLIE", "CDCLIENTE"},
       {"NRINSJURCLIE", "NMRAZSOCCLIE"}},
      {ListKind::Branch, "FILIAL", {"CDFILIAL", "NMFILIAL"}, {"CDFILIAL"}},
  };
  return kTables;
}

std::string ColumnList(const LocalTable& t) {
  std::string out;
  for (size_t i = 0; i < t.columns.size(); ++i) out += std::string(i ? ", " : "") + t.columns[i];
  return out;
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

MasterCounts LocalDatabase::Import(StoreSession& session, const std::string& localPath) {
  if (!std::filesystem::exists(localPath)) throw std::runtime_error("local database not found: " + localPath);
  SqliteDatabase local(localPath, SqliteDatabase::Mode::ReadOnly);
  MasterCounts counts;
  StoreTransaction transaction(session, StoreTransaction::Kind::Write);
  for (const LocalTable& table : Tables()) {
    SqliteStatement select = [&] {
      try {
        return local.Prepare("SELECT " + ColumnList(table) + " FROM " + table.name);
      } catch (const ESqliteError& e) {
        throw std::runtime_error(std::string("local database ") + localPath + ": table " + table.name +
                                 " with columns " + ColumnList(table) + " is required (" + e.what() + ")");
      }
    }();
    std::vector<std::string_view> row(table.columns.size());
    const auto sink = session.PutMasters(table.kind);
    while (select.Step()) {
      for (size_t i = 0; i < row.size(); ++i) row[i] = select.Text(static_cast<int>(i));
      sink->Add(row);
      ++CountOf(counts, table.kind);
    }
    sink->Finish();
  }
  session.MasterDataChanged();
  transaction.Commit();
  return counts;
}

MasterCounts LocalDatabase::Export(StoreSession& session, const std::string& localPath) {
  SqliteDatabase local(localPath, SqliteDatabase::Mode::CreatePlain);
  MasterCounts counts;
  StoreTransaction read(session, StoreTransaction::Kind::Read);
  local.Exec("BEGIN IMMEDIATE");
  try {
    for (const LocalTable& table : Tables()) {
      std::string create = std::string("DROP TABLE IF EXISTS ") + table.name + "; CREATE TABLE " + table.name + " (";
      for (size_t i = 0; i < table.columns.size(); ++i) create += std::string(i ? ", " : "") + table.columns[i] + " TEXT";
      create += ");";
      local.Exec(create);
      std::string placeholders;
      for (size_t i = 0; i < table.columns.size(); ++i) placeholders += i ? ", ?" : "?";
      SqliteStatement insert =
          local.Prepare(std::string("INSERT INTO ") + table.name + " (" + ColumnList(table) + ") VALUES (" + placeholders + ")");
      auto cursor = session.ReadMaster(table.kind);
      while (cursor->Next()) {
        const auto row = cursor->Row();
        for (size_t i = 0; i < row.size(); ++i) insert.Bind(static_cast<int>(i + 1), row[i]);
        insert.Run();
        ++CountOf(counts, table.kind);
      }
      for (const char* column : table.indexed) {
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
