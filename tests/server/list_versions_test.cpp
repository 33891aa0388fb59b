// List versions: getFornecedorDesde and its kin answer the rows of the products changed since the
// version a client holds, or the whole list when the store cannot tell; master-data changes and
// copies make every version handed out before too old; old changes are forgotten past the
// versions kept.
#include <gtest/gtest.h>
#include <simdjson.h>

#include "ServiceFixture.h"
#include "server/store/SqliteDatabase.h"
#include "server/store/Store.h"
#include "server/store/StoreTransaction.h"

namespace server::test {
namespace {

using host::wire::ChangeOp;
using host::wire::JsonRpcParam;

// An answer of getFornecedorDesde and its kin: [version, whole, products, packet].
struct Refresh {
  std::string version;
  bool whole = false;
  std::vector<std::string> products;
  Packet packet;
  std::string packetJson;
};

class ListVersionsTest : public ServiceFixture {
 protected:
  Refresh Since(const std::string& list, const std::string& version) {
    const Answer a = rpc_->Call("get" + list + "Desde", {JsonRpcParam::Text(version)});
    EXPECT_TRUE(a.ok) << a.body;
    Refresh r;
    simdjson::dom::parser parser;
    const simdjson::dom::array data = parser.parse(a.dataJson).get_array();
    r.version = std::string(std::string_view(data.at(0)));
    r.whole = bool(data.at(1));
    for (const auto key : data.at(2).get_array()) r.products.emplace_back(std::string_view(key));
    r.packetJson = simdjson::to_string(data.at(3));
    r.packet = ReadPacket(r.packetJson);
    return r;
  }
  std::string Current() {
    const Answer a = rpc_->Call("getVersaoListas");
    EXPECT_TRUE(a.ok) << a.body;
    simdjson::dom::parser parser;
    return std::string(std::string_view(parser.parse(a.dataJson)));
  }
};

INSTANTIATE_TEST_SUITE_P(Stores, ListVersionsTest, ::testing::Values(StoreKind::Sqlite, StoreKind::Postgres),
                         StoreParamName());

TEST_P(ListVersionsTest, ALoadSinceAVersionAnswersTheRowsOfTheProductsChangedSince) {
  Save("SetFornecedor", SupplierFields(), {{ChangeOp::Insert, SupplierRow("P1", "F1")}});
  const std::string v0 = Current();
  Save("SetFornecedor", SupplierFields(),
       {{ChangeOp::Insert, SupplierRow("P3", "F2")}, {ChangeOp::Insert, SupplierRow("P1", "F3")},
        {ChangeOp::Insert, SupplierRow("P'2", "F1")}});
  Save("SetCliente", ClientFields(), {{ChangeOp::Insert, ClientRow("P4", "C1")}});
  const Refresh r = Since("Fornecedor", v0);
  EXPECT_FALSE(r.whole);
  EXPECT_EQ(r.products, (std::vector<std::string>{"P'2", "P1", "P3"}));
  // The rows are those of the whole list for these products, in its order.
  EXPECT_EQ(Lines(r.packet), Lines(Load("getFornecedor")));
  EXPECT_EQ(std::stoll(r.version), std::stoll(v0) + 2);
  EXPECT_EQ(r.version, Current());

  // Nothing since: no product. A delete lists its product with the rows it has left; a product's
  // deletion lists it in every list; a packet that changed nothing takes no version.
  const Refresh none = Since("Fornecedor", r.version);
  EXPECT_TRUE(none.products.empty() && none.packet.rows.empty() && !none.whole);
  Save("SetFornecedor", SupplierFields(), {{ChangeOp::Delete, SupplierRow("P1", "F1")}});
  const Refresh deleted = Since("Fornecedor", r.version);
  EXPECT_EQ(deleted.products, std::vector<std::string>{"P1"});
  EXPECT_EQ(deleted.packet.rows.size(), 1u);
  Save("SetProduto", ProductFields(), {{ChangeOp::Delete, {"", "P4", ""}}});
  const Refresh product = Since("Cliente", deleted.version);
  EXPECT_EQ(product.products, std::vector<std::string>{"P4"});
  EXPECT_TRUE(product.packet.rows.empty());
  EXPECT_EQ(Since("Filial", deleted.version).products, std::vector<std::string>{"P4"});
  Save("SetFornecedor", SupplierFields(), {{ChangeOp::Delete, SupplierRow("P4", "F3")}});
  EXPECT_EQ(Current(), product.version);
}

TEST_P(ListVersionsTest, AVersionTheStoreCannotTellGetsTheWholeList) {
  Save("SetFilial", BranchFields(), {{ChangeOp::Insert, BranchRow("P1", "0001")}, {ChangeOp::Insert, BranchRow("P3", "SP01")}});
  const std::string now = Current();
  const Answer plain = rpc_->Call("getFilial");
  for (const std::string& version : {std::string(), std::string("abc"), std::string("-1"),
                                     std::to_string(std::stoll(now) + 1), std::string("1")}) {
    const Refresh r = Since("Filial", version);
    EXPECT_TRUE(r.whole) << version;
    EXPECT_TRUE(r.products.empty());
    EXPECT_EQ(r.packetJson, plain.dataJson) << version;
  }
  EXPECT_FALSE(rpc_->Call("getFilialDesde").ok);
  EXPECT_FALSE(Since("Filial", now).whole);

  // New master data may change every row's names: versions handed out before are too old.
  const CommandResult import = RunServerCommand({"import-master", "--db", db_, dir_.File("master.db")});
  ASSERT_EQ(import.status, 0) << import.output;
  EXPECT_TRUE(Since("Filial", now).whole);
  const std::string after = Current();
  EXPECT_GT(std::stoll(after), std::stoll(now));
  EXPECT_FALSE(Since("Filial", after).whole);

  // A backup is a copy that may be put back after the original went on: it knows no version
  // handed out before it.
  const std::string copy = dir_.File("copy.db");
  const CommandResult backup = RunServerCommand({"backup", "--db", db_, copy});
  ASSERT_EQ(backup.status, 0) << backup.output;
  SqliteDatabase db(copy, SqliteDatabase::Mode::ReadOnly);
  SqliteStatement oldest = db.Prepare("SELECT NRVALOR FROM CONTROLE WHERE NMCHAVE = 'VERSAO_LISTAS_MINIMA'");
  ASSERT_TRUE(oldest.Step());
  EXPECT_GT(std::stoll(std::string(oldest.Text(0))), std::stoll(after));
  EXPECT_FALSE(db.Prepare("SELECT 1 FROM ALTERACAO").Step());
}

// Past kKeptListVersions, the oldest changes are forgotten and so are the versions before them.
TEST(ListVersionsPruneTest, ChangesOlderThanTheVersionsKeptAreForgotten) {
  TempDir dir;
  const std::string path = dir.File("s.db");
  const auto store = Store::Open(path, StoreOptions{.create = true, .fullSync = false});
  const auto session = store->OpenSession();
  const int64_t kept = StoreSession::kKeptListVersions;
  // The version that prunes: a multiple of the pruning period past kept.
  const int64_t next = (4 * kept / 1024 + 1) * 1024;
  const auto record = [&](int64_t after, const char* product) {
    SqliteDatabase(path, SqliteDatabase::Mode::ReadWrite)
        .Exec("UPDATE CONTROLE SET NRVALOR = " + std::to_string(after) + " WHERE NMCHAVE = 'VERSAO_LISTAS';" +
              "UPDATE CONTROLE SET NRVALOR = 0 WHERE NMCHAVE = 'VERSAO_LISTAS_MINIMA'");
    StoreTransaction t(*session, StoreTransaction::Kind::Write);
    const std::vector<ListProduct> changed{{ListKind::Supplier, product}};
    EXPECT_EQ(session->RecordListChanges(changed), after + 1);
    t.Commit();
  };
  record(next - kept - 6, "OLD");
  {
    StoreTransaction read(*session, StoreTransaction::Kind::Read);
    EXPECT_EQ(session->ChangedProducts(ListKind::Supplier, 0, 100), std::vector<std::string>{"OLD"});
  }
  record(next - 1, "NEW");
  StoreTransaction read(*session, StoreTransaction::Kind::Read);
  EXPECT_FALSE(session->ChangedProducts(ListKind::Supplier, next - kept - 6, 100).has_value());
  EXPECT_EQ(session->ChangedProducts(ListKind::Supplier, next - kept, 100), std::vector<std::string>{"NEW"});
  EXPECT_FALSE(session->ChangedProducts(ListKind::Supplier, next - kept, 0).has_value());  // too many
}

}  // namespace
}  // namespace server::test
