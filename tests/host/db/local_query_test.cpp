#include "host/db/ADOIBQuery.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>

#include "host/data/DataSource.h"
#include "host/services/HostLib.h"
#include "host/services/ScriptedHost.h"

namespace host {
namespace {

namespace fs = std::filesystem;

// A local database in a fresh temporary directory, written through a separate read-write
// connection that is closed before the test reads it.
class LocalQueryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("pdi_db_test_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    path_ = (dir_ / "local.db").string();
    Exec(
        "CREATE TABLE FILIAL (CDFILIAL TEXT, NMFILIAL TEXT);"
        "INSERT INTO FILIAL VALUES ('0002','Filial Campinas'),('0001','Filial São Paulo'),"
        "('0003',NULL);"
        "CREATE TABLE FORNECEDOR (NRINSJURFORN TEXT, NMRAZSOCFORN TEXT, CDFORNECED TEXT);"
        "INSERT INTO FORNECEDOR VALUES ('12345678000195','D''Ávila & Filhos Ltda','F1'),"
        "('x'' OR ''1''=''1','Injeção','F2');");
    db_.SetDatabasePath(path_);
  }
  void TearDown() override {
    db_.Close();
    SetHostServices(nullptr);
    fs::remove_all(dir_);
  }
  void Exec(const std::string& sql) {
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(path_.c_str(), &raw), SQLITE_OK);
    char* error = nullptr;
    const int rc = sqlite3_exec(raw, sql.c_str(), nullptr, nullptr, &error);
    const std::string message = error ? error : "";
    sqlite3_free(error);
    sqlite3_close(raw);
    ASSERT_EQ(rc, SQLITE_OK) << message;
  }
  // A query on this test's database.
  std::unique_ptr<TADOIBQuery> Query(std::vector<std::string> sql) {
    auto q = std::make_unique<TADOIBQuery>("qryTeste");
    q->SetDatabase(&db_);
    q->SetSQL(std::move(sql));
    return q;
  }
  std::string OpenError(TADOIBQuery& q) {
    try {
      q.Open();
    } catch (const EDatabaseError& e) {
      return e.what();
    }
    return "no error";
  }

  fs::path dir_;
  std::string path_;
  TdtmDBGeral db_;
};

TEST_F(LocalQueryTest, DeclaredFieldsTakeTheirColumnsAndNavigate) {
  auto q = Query({"SELECT CDFILIAL, NMFILIAL", "  FROM FILIAL", " ORDER BY CDFILIAL"});
  q->AddField("NMFILIAL", 30);
  q->AddField("CDFILIAL", 21);
  int afterOpen = 0;
  q->AfterOpen = [&](TDataSet*) { ++afterOpen; };
  q->Open();
  EXPECT_EQ(afterOpen, 1);
  ASSERT_EQ(q->RecordCount(), 3);
  EXPECT_EQ(q->RowValues(), (std::vector<std::string>{"Filial São Paulo", "0001"}));
  q->Next();
  q->Next();
  EXPECT_EQ(q->FieldByName("cdfilial")->AsString(), "0003");
  EXPECT_EQ(q->FieldByName("NMFILIAL")->AsString(), "");  // NULL reads as empty
  q->Open();  // a no-op while open
  EXPECT_EQ(q->RecNo(), 3);
  q->Close();
  EXPECT_TRUE(q->IsEmpty());
}

TEST_F(LocalQueryTest, ParametersAreBoundByNameNeverSpliced) {
  auto q = Query({"SELECT NRINSJURFORN, NMRAZSOCFORN, CDFORNECED", "  FROM FORNECEDOR",
                  " WHERE NRINSJURFORN = :P_NRINSJURFORN"});
  ASSERT_EQ(q->Params().size(), 1u);
  q->ParamByName("p_nrinsjurforn").SetAsString("x' OR '1'='1");
  q->Open();
  ASSERT_EQ(q->RecordCount(), 1);
  EXPECT_EQ(q->FieldByName("CDFORNECED")->AsString(), "F2");
  q->Close();
  q->ParamByName("P_NRINSJURFORN").SetAsString("' OR 1=1 --");
  q->Open();
  EXPECT_TRUE(q->IsEmpty());
  q->Close();
  q->ParamByName("P_NRINSJURFORN").SetAsString("12345678000195");
  q->Open();
  EXPECT_EQ(q->FieldByName("NMRAZSOCFORN")->AsString(), "D'Ávila & Filhos Ltda");
  EXPECT_THROW(q->ParamByName("P_OUTRO"), EDatabaseError);
}

TEST_F(LocalQueryTest, ParameterParsingSkipsQuotesAndComments) {
  auto q = Query({"SELECT ':P_NAO' AS A, \"x:P_NAO2\" -- :P_NAO3", "/* :P_NAO4 */",
                  "FROM FILIAL WHERE CDFILIAL = :P_SIM OR NMFILIAL = :p_sim OR :P_DOIS = ''"});
  ASSERT_EQ(q->Params().size(), 2u);
  EXPECT_EQ(q->Params()[0].Name(), "P_SIM");
  EXPECT_EQ(q->Params()[1].Name(), "P_DOIS");
  // A parameter keeps its value when the SQL is replaced and still names it.
  q->ParamByName("P_SIM").SetAsString("0001");
  q->SetSQL({"SELECT CDFILIAL FROM FILIAL WHERE CDFILIAL = :P_SIM"});
  EXPECT_EQ(q->ParamByName("P_SIM").AsString(), "0001");
  q->Open();
  EXPECT_EQ(q->RecordCount(), 1);
}

TEST_F(LocalQueryTest, UnsetParameterIsNull) {
  auto q = Query({"SELECT CDFILIAL FROM FILIAL WHERE :P_X IS NULL"});
  q->Open();
  EXPECT_EQ(q->RecordCount(), 3);
}

TEST_F(LocalQueryTest, WithoutDeclaredFieldsTheColumnsBecomeFields) {
  auto q = Query({"SELECT CDFILIAL, NMFILIAL FROM FILIAL ORDER BY CDFILIAL"});
  q->Open();
  ASSERT_EQ(q->FieldCount(), 2);
  EXPECT_EQ(q->Fields()[1]->FieldName(), "NMFILIAL");
  EXPECT_GE(q->Fields()[1]->Size(), 255);
  EXPECT_EQ(q->FieldByName("NMFILIAL")->AsString(), "Filial São Paulo");
  q->Close();
  q->Open();
  EXPECT_EQ(q->FieldCount(), 2);
  EXPECT_EQ(q->RecordCount(), 3);
}

TEST_F(LocalQueryTest, TheQueryRefusesEditingAndWriting) {
  auto q = Query({"SELECT CDFILIAL FROM FILIAL"});
  q->Open();
  EXPECT_THROW(q->Edit(), EDataSetError);
  EXPECT_THROW(q->Insert(), EDataSetError);
  EXPECT_THROW(q->Delete(), EDataSetError);
  for (const std::string& sql : std::vector<std::string>{"DELETE FROM FILIAL", "INSERT INTO FILIAL VALUES ('9','x')", "UPDATE FILIAL SET NMFILIAL=''",
        "CREATE TABLE T (A)", "PRAGMA query_only=0",
        "ATTACH DATABASE '" + (dir_ / "other.db").string() + "' AS o",
        "SELECT 1; DELETE FROM FILIAL", "BEGIN IMMEDIATE"}) {
    auto w = Query({sql});
    const std::string error = OpenError(*w);
    EXPECT_NE(error, "no error") << sql;
    EXPECT_NE(error.find("qryTeste"), std::string::npos) << error;
    EXPECT_FALSE(w->Active());
  }
  auto check = Query({"SELECT count(*) AS N FROM FILIAL"});
  check->Open();
  EXPECT_EQ(check->FieldByName("N")->AsString(), "3");
  EXPECT_FALSE(fs::exists(dir_ / "other.db"));
}

TEST_F(LocalQueryTest, BadSqlAndMissingColumnsAreClearErrors) {
  auto q = Query({"SELEC CDFILIAL FROM FILIAL"});
  EXPECT_NE(OpenError(*q).find("erro no SQL"), std::string::npos);
  auto e = Query({"  "});
  EXPECT_NE(OpenError(*e).find("SQL vazio"), std::string::npos);
  auto m = Query({"SELECT CDFILIAL FROM FILIAL"});
  m->AddField("CDFILIAL", 4);
  m->AddField("NMFILIAL", 30);
  EXPECT_NE(OpenError(*m).find("NMFILIAL"), std::string::npos);
  EXPECT_FALSE(m->Active());
}

TEST_F(LocalQueryTest, MissingFileIsNamedAndNeverCreated) {
  const std::string missing = (dir_ / "nao_existe.db").string();
  TdtmDBGeral other;
  other.SetDatabasePath(missing);
  try {
    other.Open();
    FAIL() << "no error";
  } catch (const EDatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find(missing), std::string::npos);
  }
  EXPECT_FALSE(fs::exists(missing));
  EXPECT_FALSE(other.Connected());
}

TEST_F(LocalQueryTest, AFileThatIsNotADatabaseIsRefused) {
  const std::string junk = (dir_ / "junk.db").string();
  { std::ofstream(junk) << "this is not a database, just some text long enough to be looked at"; }
  TdtmDBGeral other;
  other.SetDatabasePath(junk);
  EXPECT_THROW(other.Open(), EDatabaseError);
}

TEST_F(LocalQueryTest, PathComesFromTheHostWhenNotSet) {
  ScriptedHost host;
  host.SetLocalDatabasePath(path_);
  SetHostServices(&host);
  TdtmDBGeral module;
  module.Open();
  EXPECT_EQ(module.OpenPath(), path_);
  TADOIBQuery q("qryFilial");
  q.SetDatabase(&module);
  q.SetSQL({"SELECT CDFILIAL FROM FILIAL"});
  TDataSource dts("dtsFil");
  dts.SetDataSet(&q);
  q.Open();
  EXPECT_EQ(dts.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(q.RecordCount(), 3);
}

}  // namespace
}  // namespace host
