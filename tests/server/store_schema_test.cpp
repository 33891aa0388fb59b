// The schema table (StoreSchema) against real stores: a new store of each kind, and a store of
// the first release once migrated, hold exactly the tables, columns (in order), primary keys and
// indexes the table describes, so a change to the table that the stores in use would not get is
// caught. A malformed number in a store is a store failure naming its column, and SQLite's
// failures are store failures that say when the store is busy.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "ServerTestSupport.h"
#include "server/store/PgConnection.h"
#include "server/store/SqliteDatabase.h"
#include "server/store/StoreSchema.h"

namespace server::test {
namespace {

// Table name -> "COLUMNS(A, B) KEY(A) INDEX NAME(B)…", from a line per column, key column or index
// column: "TABLE|COLUMN" (in order), "TABLE|key|COLUMN" (in key order), "TABLE|NAME|COLUMN".
using Catalog = std::map<std::string, std::string>;

std::vector<std::string> Split(const std::string& line) {
  std::vector<std::string> parts;
  std::stringstream in(line);
  for (std::string part; std::getline(in, part, '|');) parts.push_back(part);
  return parts;
}

Catalog Describe(const std::vector<std::string>& columns, const std::vector<std::string>& indexed) {
  std::map<std::string, std::string> cols;
  std::map<std::string, std::map<std::string, std::string>> indexes;  // table -> name -> columns
  for (const std::string& line : columns) {
    const auto p = Split(line);
    cols[p[0]] += (cols[p[0]].empty() ? "" : ", ") + p[1];
  }
  for (const std::string& line : indexed) {
    const auto p = Split(line);
    std::string& list = indexes[p[0]][p[1]];
    list += (list.empty() ? "" : ", ") + p[2];
  }
  Catalog out;
  for (const auto& [table, list] : cols) {
    out[table] = "COLUMNS(" + list + ")";
    for (const auto& [name, on] : indexes[table]) {
      out[table] += " " + (name == "key" ? "KEY" : "INDEX " + name) + "(" + on + ")";
    }
  }
  return out;
}

Catalog Expected() {
  std::vector<std::string> columns, indexed;
  for (const StoreTable& t : StoreTables()) {
    for (const StoreColumn& c : t.columns) columns.push_back(std::string(t.name) + "|" + c.name);
    for (const char* k : t.key) indexed.push_back(std::string(t.name) + "|key|" + k);
    for (const StoreIndex& index : t.indexes) {
      for (const char* c : index.columns) indexed.push_back(std::string(t.name) + "|" + index.name + "|" + c);
    }
  }
  return Describe(columns, indexed);
}

Catalog Read(const TestDatabase& db) {
  if (db.Kind() == StoreKind::Sqlite) {
    return Describe(db.Rows("SELECT m.name, p.name FROM sqlite_master m, pragma_table_info(m.name) p"
                            " WHERE m.type = 'table' ORDER BY m.name, p.cid"),
                    db.Rows("SELECT * FROM (SELECT m.name, 'key', p.name FROM sqlite_master m,"
                            " pragma_table_info(m.name) p WHERE m.type = 'table' AND p.pk > 0 ORDER BY m.name, p.pk)"
                            " UNION ALL SELECT * FROM (SELECT m.tbl_name, m.name, i.name FROM sqlite_master m,"
                            " pragma_index_info(m.name) i WHERE m.type = 'index' AND m.sql IS NOT NULL"
                            " ORDER BY m.name, i.seqno)"));
  }
  return Describe(db.Rows("SELECT upper(table_name), upper(column_name) FROM information_schema.columns"
                          " WHERE table_schema = current_schema() ORDER BY table_name, ordinal_position"),
                  db.Rows("SELECT upper(t.relname), CASE WHEN i.indisprimary THEN 'key' ELSE upper(x.relname) END,"
                          " upper(a.attname) FROM pg_index i JOIN pg_class t ON t.oid = i.indrelid"
                          " JOIN pg_class x ON x.oid = i.indexrelid"
                          " CROSS JOIN LATERAL unnest(i.indkey) WITH ORDINALITY k(attnum, place)"
                          " JOIN pg_attribute a ON a.attrelid = t.oid AND a.attnum = k.attnum"
                          " WHERE t.relnamespace = current_schema()::regnamespace"
                          " ORDER BY t.relname, x.relname, k.place"));
}

class StoreSchemaTest : public ::testing::TestWithParam<StoreKind> {
 protected:
  void SetUp() override { PDI_SKIP_UNLESS_STORE(GetParam()); }
  TempDir dir_;
};
INSTANTIATE_TEST_SUITE_P(Stores, StoreSchemaTest, ::testing::Values(StoreKind::Sqlite, StoreKind::Postgres),
                         StoreParamName());

TEST_P(StoreSchemaTest, NewAndMigratedStoresHoldTheTablesTheSchemaDescribes) {
  const Catalog expected = Expected();
  ASSERT_EQ(expected.size(), 14u);

  TestDatabase made(GetParam(), dir_, "made");
  Store::Open(made.Location(), StoreOptions{.create = true});
  EXPECT_EQ(Read(made), expected);

  // The stores of the earlier releases, as they left them, then migrated.
  for (const std::string release : {"1", "2", "3"}) {
    TestDatabase old(GetParam(), dir_, "old" + release);
    const std::string data = std::string(PDI_TEST_DATA_DIR) + "/store-release" + release;
    if (GetParam() == StoreKind::Sqlite) {
      std::filesystem::copy_file(data + ".db", old.Location());
    } else {
      std::stringstream script;
      script << std::ifstream(data + ".pg.sql").rdbuf();
      PgConnection(old.Location()).Exec(script.str());
    }
    Store::Open(old.Location(), StoreOptions{.migrate = true});
    EXPECT_EQ(Read(old), expected) << "release " << release;
  }
}

TEST(StoreNumbers, AMalformedNumberInTheStoreIsAStoreFailureNamingItsColumn) {
  EXPECT_EQ(StoredNumber("-42", "T.C"), -42);
  EXPECT_EQ(StoredNumber("9223372036854775807", "T.C"), INT64_MAX);
  for (const char* bad : {"", "12a", " 1", "1.5", "9223372036854775808"}) {
    try {
      StoredNumber(bad, "T.C");
      ADD_FAILURE() << "accepted \"" << bad << "\"";
    } catch (const EStoreError& e) {
      EXPECT_NE(std::string(e.what()).find("\"" + std::string(bad) + "\" in T.C"), std::string::npos) << e.what();
    }
  }

  // SQLite keeps a text that is no number in an INTEGER column as it was given.
  TempDir dir;
  const std::string path = dir.File("s.db");
  const auto store = Store::Open(path, StoreOptions{.create = true});
  SqliteDatabase(path, SqliteDatabase::Mode::ReadWrite)
      .Exec("UPDATE CONTROLE SET NRVALOR = 'x7' WHERE NMCHAVE = 'VERSAO_CADASTRO'");
  try {
    store->OpenSession()->MasterDataVersion();
    ADD_FAILURE() << "a malformed master-data version was read";
  } catch (const EStoreError& e) {
    EXPECT_NE(std::string(e.what()).find("\"x7\" in CONTROLE.NRVALOR"), std::string::npos) << e.what();
  }
}

TEST(StoreErrors, SqliteFailuresAreStoreFailuresBusyWhenTheFileIsLocked) {
  TempDir dir;
  const std::string path = dir.File("s.db");
  SqliteDatabase writer(path, SqliteDatabase::Mode::ReadWriteCreate, 0);
  SqliteDatabase other(path, SqliteDatabase::Mode::ReadWrite, 0);
  writer.Exec("CREATE TABLE T (A TEXT PRIMARY KEY); BEGIN IMMEDIATE");
  try {
    other.Exec("BEGIN IMMEDIATE");
    ADD_FAILURE() << "a second writer was let in";
  } catch (const EStoreError& e) {
    EXPECT_TRUE(e.Busy()) << e.what();
  }
  writer.Exec("INSERT INTO T VALUES ('a'); COMMIT");
  try {
    writer.Exec("INSERT INTO T VALUES ('a')");
    ADD_FAILURE() << "a duplicate key was stored";
  } catch (const EStoreError& e) {
    EXPECT_FALSE(e.Busy()) << e.what();
  }
}

}  // namespace
}  // namespace server::test
