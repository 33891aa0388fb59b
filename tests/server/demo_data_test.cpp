// The demo command: a consistent pair of databases, valid taxpayer numbers, the awkward cases,
// the same data for the same options; and the import/export commands around it.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "ServerTestSupport.h"
#include "server/store/SqliteDatabase.h"
#include "server/service/TaxpayerNumber.h"

namespace server::test {
namespace {

// All rows of a query as "a|b|c" lines.
std::vector<std::string> Rows(const std::string& path, const std::string& sql) {
  SqliteDatabase db(path, SqliteDatabase::Mode::ReadOnly);
  SqliteStatement s = db.Prepare(sql);
  std::vector<std::string> rows;
  while (s.Step()) {
    std::string line;
    for (int i = 0; i < s.ColumnCount(); ++i) line += (i ? "|" : "") + std::string(s.Text(i));
    rows.push_back(line);
  }
  return rows;
}

std::string One(const std::string& path, const std::string& sql) {
  const auto rows = Rows(path, sql);
  return rows.empty() ? "" : rows[0];
}

bool HasNonAscii(const std::string& s) {
  for (char c : s) {
    if (static_cast<unsigned char>(c) >= 0x80) return true;
  }
  return false;
}

// The demo pair of each store; the server database is queried through the store's own engine,
// the local database (always SQLite) directly.
class DemoDataTest : public ::testing::TestWithParam<StoreKind> {
 protected:
  void SetUp() override {
    PDI_SKIP_UNLESS_STORE(GetParam());
    database_ = std::make_unique<TestDatabase>(GetParam(), dir_);
    const CommandResult r = RunServerCommand({"demo", "--db", database_->Location(), "--local", Local(), "--products",
                                              "40", "--rows-per-product", "7"});
    ASSERT_EQ(r.status, 0) << r.output;
  }
  std::string Local() const { return dir_.File("local.db"); }
  std::vector<std::string> DbRows(const std::string& sql) const { return database_->Rows(sql); }
  std::string DbOne(const std::string& sql) const { return database_->One(sql); }

  TempDir dir_;
  std::unique_ptr<TestDatabase> database_;
};

INSTANTIATE_TEST_SUITE_P(Stores, DemoDataTest, ::testing::Values(StoreKind::Sqlite, StoreKind::Postgres),
                         StoreParamName());

TEST_P(DemoDataTest, WritesTheRequestedNumberOfRelatedRowsAndListedProducts) {
  EXPECT_EQ(DbOne("SELECT (SELECT COUNT(*) FROM DESONERA_FORNECEDOR) + (SELECT COUNT(*) FROM DESONERA_CLIENTE)"
                      " + (SELECT COUNT(*) FROM DESONERA_FILIAL)"),
            "280");
  EXPECT_EQ(DbOne("SELECT COUNT(DISTINCT CDPRODUTODES) FROM (SELECT CDPRODUTODES FROM DESONERA_FORNECEDOR"
                      " UNION ALL SELECT CDPRODUTODES FROM DESONERA_CLIENTE UNION ALL SELECT CDPRODUTODES FROM DESONERA_FILIAL) AS u"),
            "40");
  // The master data has more products than the list, so some can still be added.
  EXPECT_GT(std::stoi(DbOne("SELECT COUNT(*) FROM PRODUTO")), 40);
}

TEST_P(DemoDataTest, EveryRelatedRowRefersToMasterData) {
  EXPECT_EQ(DbOne("SELECT COUNT(*) FROM DESONERA_FORNECEDOR d LEFT JOIN FORNECEDOR f ON f.CDFORNECED = d.CDFORNECED"
                      " LEFT JOIN PRODUTO p ON p.CDPRODUTO = d.CDPRODUTODES WHERE f.CDFORNECED IS NULL OR p.CDPRODUTO IS NULL"),
            "0");
  EXPECT_EQ(DbOne("SELECT COUNT(*) FROM DESONERA_CLIENTE d LEFT JOIN CLIENTE c ON c.CDCLIENTE = d.CDCLIENTE"
                      " LEFT JOIN PRODUTO p ON p.CDPRODUTO = d.CDPRODUTODES WHERE c.CDCLIENTE IS NULL OR p.CDPRODUTO IS NULL"),
            "0");
  EXPECT_EQ(DbOne("SELECT COUNT(*) FROM DESONERA_FILIAL d LEFT JOIN FILIAL b ON b.CDFILIAL = d.CDFILIALDES"
                      " LEFT JOIN PRODUTO p ON p.CDPRODUTO = d.CDPRODUTODES WHERE b.CDFILIAL IS NULL OR p.CDPRODUTO IS NULL"
                      " OR LENGTH(d.CDFILIALDES) > 4"),
            "0");
  // The typed code stored with a pair is the item's taxpayer number.
  EXPECT_EQ(DbOne("SELECT COUNT(*) FROM DESONERA_FORNECEDOR d JOIN FORNECEDOR f ON f.CDFORNECED = d.CDFORNECED"
                      " WHERE d.CDFORNECEDDES <> f.NRINSJURFORN"),
            "0");
}

TEST_P(DemoDataTest, TaxpayerNumbersAreValidDigitsMatchingThePersonTypeAndUnique) {
  std::set<std::string> seen;
  std::map<std::string, int> types;
  for (const std::string& table : {std::string("FORNECEDOR|NRINSJURFORN|IDTPIJURFORN"), std::string("CLIENTE|NRINSJURCLIE|IDTPIJURCLIE")}) {
    const std::string name = table.substr(0, table.find('|'));
    const std::string rest = table.substr(table.find('|') + 1);
    const std::string number = rest.substr(0, rest.find('|'));
    const std::string type = rest.substr(rest.find('|') + 1);
    for (const std::string& row : Rows(Local(), "SELECT " + number + ", " + type + " FROM " + name)) {
      const std::string n = row.substr(0, row.find('|'));
      const std::string t = row.substr(row.find('|') + 1);
      ++types[t];
      if (t == "J") {
        EXPECT_TRUE(TaxpayerNumber::IsValidCnpj(n)) << n;
      } else {
        EXPECT_EQ(t, "F");
        EXPECT_TRUE(TaxpayerNumber::IsValidCpf(n)) << n;
      }
      EXPECT_TRUE(seen.insert(n).second) << "number used twice: " << n;
    }
  }
  EXPECT_GT(types["J"], 0);
  EXPECT_GT(types["F"], 0);
}

TEST_P(DemoDataTest, HoldsTheAwkwardCases) {
  EXPECT_FALSE(One(Local(), "SELECT CDPRODUTO FROM PRODUTO WHERE CDPRODUTO LIKE '%''%'").empty());
  // The product with the quote is one with related rows.
  EXPECT_FALSE(DbOne("SELECT CDPRODUTODES FROM DESONERA_FORNECEDOR WHERE CDPRODUTODES LIKE '%''%'"
                         " UNION SELECT CDPRODUTODES FROM DESONERA_CLIENTE WHERE CDPRODUTODES LIKE '%''%'").empty());
  EXPECT_EQ(One(Local(), "SELECT COUNT(*) FROM (SELECT CDARVPROD FROM PRODUTO GROUP BY CDARVPROD HAVING COUNT(*) > 1)"), "1");
  EXPECT_EQ(One(Local(), "SELECT COUNT(*) FROM PRODUTO WHERE CDARVPROD GLOB '*[^0-9]*' OR LENGTH(CDARVPROD) > 10"
                         " OR LENGTH(CDPRODUTO) > 10"),
            "0");
  EXPECT_EQ(One(Local(), "SELECT COUNT(*) FROM FILIAL WHERE LENGTH(CDFILIAL) > 4"), "1");
  EXPECT_EQ(One(Local(), "SELECT MAX(LENGTH(CDFORNECED)) FROM FORNECEDOR"), "21");
  EXPECT_EQ(One(Local(), "SELECT MAX(LENGTH(CDCLIENTE)) FROM CLIENTE"), "21");
  for (const std::string& sql : {std::string("SELECT NMPRODUTO FROM PRODUTO"), std::string("SELECT NMRAZSOCFORN FROM FORNECEDOR"),
                                 std::string("SELECT NMRAZSOCCLIE FROM CLIENTE"), std::string("SELECT NMFILIAL FROM FILIAL")}) {
    bool accented = false;
    for (const std::string& name : Rows(Local(), sql)) accented = accented || HasNonAscii(name);
    EXPECT_TRUE(accented) << sql;
  }
}

TEST_P(DemoDataTest, NamesFitTheirFields) {
  // Lengths in characters, as SQLite counts them for text.
  EXPECT_EQ(One(Local(), "SELECT COUNT(*) FROM PRODUTO WHERE LENGTH(NMPRODUTO) > 50"), "0");
  EXPECT_EQ(One(Local(), "SELECT COUNT(*) FROM FORNECEDOR WHERE LENGTH(NMRAZSOCFORN) > 40"), "0");
  EXPECT_EQ(One(Local(), "SELECT COUNT(*) FROM CLIENTE WHERE LENGTH(NMRAZSOCCLIE) > 50"), "0");
  EXPECT_EQ(One(Local(), "SELECT COUNT(*) FROM FILIAL WHERE LENGTH(NMFILIAL) > 30"), "0");
}

TEST_P(DemoDataTest, LocalDatabaseMatchesTheServersMasterTablesAndHasIndexes) {
  EXPECT_EQ(Rows(Local(), "SELECT CDPRODUTO, CDARVPROD, NMPRODUTO FROM PRODUTO ORDER BY CDPRODUTO"),
            DbRows("SELECT CDPRODUTO, CDARVPROD, NMPRODUTO FROM PRODUTO ORDER BY CDPRODUTO"));
  EXPECT_EQ(Rows(Local(), "SELECT * FROM FORNECEDOR ORDER BY CDFORNECED"),
            DbRows("SELECT NRINSJURFORN, NMRAZSOCFORN, IDTPIJURFORN, CDFORNECED FROM FORNECEDOR ORDER BY CDFORNECED"));
  EXPECT_EQ(Rows(Local(), "SELECT * FROM FILIAL ORDER BY CDFILIAL"), DbRows("SELECT * FROM FILIAL ORDER BY CDFILIAL"));
  const auto indexes = Rows(Local(), "SELECT tbl_name || '.' || sql FROM sqlite_master WHERE type = 'index' ORDER BY name");
  const auto has = [&](const std::string& text) {
    for (const auto& i : indexes) {
      if (i.find(text) != std::string::npos) return true;
    }
    return false;
  };
  EXPECT_TRUE(has("PRODUTO (CDARVPROD)"));
  EXPECT_TRUE(has("FORNECEDOR (NRINSJURFORN)"));
  EXPECT_TRUE(has("CLIENTE (NRINSJURCLIE)"));
  EXPECT_TRUE(has("FILIAL (CDFILIAL)"));
}

TEST_P(DemoDataTest, SameOptionsGiveTheSameDataAndAUsedDatabaseIsRefused) {
  TempDir other;
  const TestDatabase otherDb(GetParam(), other, "s");
  const CommandResult r = RunServerCommand({"demo", "--db", otherDb.Location(), "--local", other.File("l.db"),
                                            "--products", "40", "--rows-per-product", "7"});
  ASSERT_EQ(r.status, 0) << r.output;
  for (const std::string table : {"PRODUTO", "FORNECEDOR", "CLIENTE", "FILIAL"}) {
    EXPECT_EQ(Rows(other.File("l.db"), "SELECT * FROM " + table + " ORDER BY 1, 2"),
              Rows(Local(), "SELECT * FROM " + table + " ORDER BY 1, 2"))
        << table;
  }
  EXPECT_EQ(otherDb.Rows("SELECT * FROM DESONERA_CLIENTE ORDER BY 1, 2"),
            DbRows("SELECT * FROM DESONERA_CLIENTE ORDER BY 1, 2"));

  const CommandResult again = RunServerCommand({"demo", "--db", otherDb.Location(), "--local", other.File("l.db")});
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.output.find("already holds data"), std::string::npos) << again.output;
}

TEST_P(DemoDataTest, ExportAndImportCarryTheMasterDataAcross) {
  TempDir other;
  const TestDatabase otherDb(GetParam(), other, "s");
  const CommandResult imported = RunServerCommand({"import-master", "--db", otherDb.Location(), Local()});
  ASSERT_EQ(imported.status, 0) << imported.output;
  const CommandResult exported = RunServerCommand({"export-local", "--db", otherDb.Location(), other.File("l.db")});
  ASSERT_EQ(exported.status, 0) << exported.output;
  for (const std::string table : {"PRODUTO", "FORNECEDOR", "CLIENTE", "FILIAL"}) {
    EXPECT_EQ(Rows(other.File("l.db"), "SELECT * FROM " + table + " ORDER BY 1, 2"),
              Rows(Local(), "SELECT * FROM " + table + " ORDER BY 1, 2"))
        << table;
  }
  // Importing again refreshes without duplicating; exporting again replaces the tables.
  ASSERT_EQ(RunServerCommand({"import-master", "--db", otherDb.Location(), Local()}).status, 0);
  ASSERT_EQ(RunServerCommand({"export-local", "--db", otherDb.Location(), other.File("l.db")}).status, 0);
  EXPECT_EQ(One(other.File("l.db"), "SELECT COUNT(*) FROM PRODUTO"), One(Local(), "SELECT COUNT(*) FROM PRODUTO"));
}

}  // namespace
}  // namespace server::test
