// Integration tests of the remote service: the real pdi07310-server binary on a free loopback
// port over a fresh database of each store, called over HTTP.
#include <gtest/gtest.h>

#include <thread>

#include "ServiceFixture.h"
#include "host/wire/ServiceName.h"

namespace server::test {
namespace {

using host::wire::ChangeOp;
using host::wire::JsonRpcParam;

class ServiceTest : public ServiceFixture {};

INSTANTIATE_TEST_SUITE_P(Stores, ServiceTest, ::testing::Values(StoreKind::Sqlite, StoreKind::Postgres),
                         StoreParamName());

// The name and the methods in their order, written out: deployed desktops call them by these names.
TEST_P(ServiceTest, GetAnswersTheServiceDescription) {
  const auto res = rpc_->Http().Get(std::string(host::wire::kServicePath));
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_EQ(res->body, R"({"service":"PDI07310.rdmProdDesoneraImpos","methods":["getDados","getFornecedor",)"
                       R"("getCliente","getFilial","SetProduto","SetFornecedor","SetCliente","SetFilial",)"
                       R"("getVd_Produto","getVd_Fornecedor","getVd_Cliente","getVd_Filial","getHistorico","getVersaoListas",)"
                       R"("getFornecedorDesde","getClienteDesde","getFilialDesde"]})");
}

TEST_P(ServiceTest, EmptyStoreLoadsFourEmptyPacketsWithTheRecordSetsFields) {
  const Answer a = rpc_->Call("getDados");
  ASSERT_TRUE(a.ok) << a.body;
  EXPECT_TRUE(a.chunked);
  const auto packets = ReadPackets(a.dataJson);
  ASSERT_EQ(packets.size(), 4u);
  const std::vector<const std::vector<host::wire::FieldDef>*> expected = {&ProductFields(), &SupplierFields(),
                                                                          &ClientFields(), &BranchFields()};
  for (size_t i = 0; i < 4; ++i) {
    ASSERT_EQ(packets[i].names.size(), expected[i]->size());
    for (size_t j = 0; j < packets[i].names.size(); ++j) {
      EXPECT_EQ(packets[i].names[j], (*expected[i])[j].name);
      EXPECT_EQ(packets[i].sizes[j], (*expected[i])[j].size);
    }
    EXPECT_TRUE(packets[i].rows.empty());
  }
}

TEST_P(ServiceTest, SavedRowsLoadWithNamesAndPersonTypesJoinedAndInOrder) {
  Save("SetFornecedor", SupplierFields(),
       {{ChangeOp::Insert, SupplierRow("P3", "F1", "12345678000195")},
        {ChangeOp::Insert, SupplierRow("P3", "F2", "52998224725")},
        {ChangeOp::Insert, SupplierRow("P'2", "F3", "11222333000181")}});
  Save("SetCliente", ClientFields(), {{ChangeOp::Insert, ClientRow("P1", "C2")}});
  Save("SetFilial", BranchFields(), {{ChangeOp::Insert, BranchRow("P4", "SP01")}, {ChangeOp::Insert, BranchRow("P4", "0001")}});

  const Answer a = rpc_->Call("getDados");
  ASSERT_TRUE(a.ok);
  const auto packets = ReadPackets(a.dataJson);
  ASSERT_EQ(packets.size(), 4u);
  // Products with related rows, by code then key (P'2 and P3 share code 200).
  EXPECT_EQ(Lines(packets[0]),
            "050|P4|Café torrado\n100|P1|Arroz agulhinha\n200|P'2|Feijão carioca\n200|P3|Açúcar cristal\n");
  // Suppliers by product key, then taxpayer number.
  EXPECT_EQ(Lines(packets[1]),
            "P'2|11222333000181|Zeta Comércio S.A.|J|F3|11222333000181\n"
            "P3|12345678000195|Açougue Boi Gordo Ltda.|J|F1|12345678000195\n"
            "P3|52998224725|José da Silva|F|F2|52998224725\n");
  EXPECT_EQ(Lines(packets[2]), "P1|11222333000181|C2|11222333000181|Zeta Comércio S.A.|J\n");
  EXPECT_EQ(Lines(packets[3]), "P4|0001|Matriz\nP4|SP01|Filial São Paulo\n");

  // The single-list loads answer the same packets.
  EXPECT_EQ(Lines(Load("getFornecedor")), Lines(packets[1]));
  EXPECT_EQ(Lines(Load("getCliente")), Lines(packets[2]));
  EXPECT_EQ(Lines(Load("getFilial")), Lines(packets[3]));
}

TEST_P(ServiceTest, ChecksAnswerARowExactlyWhenStored) {
  Save("SetFornecedor", SupplierFields(), {{ChangeOp::Insert, SupplierRow("P1", "F1")}});
  EXPECT_TRUE(Stored("getVd_Fornecedor", "P1", "F1"));
  EXPECT_FALSE(Stored("getVd_Fornecedor", "P1", "F2"));
  EXPECT_FALSE(Stored("getVd_Cliente", "P1", "F1"));

  const Answer listed = rpc_->Call("getVd_Produto", {JsonRpcParam::Text("P1")});
  const Packet p = ReadPacket(listed.dataJson);
  EXPECT_EQ(p.names, std::vector<std::string>{"CDPRODUTO"});
  EXPECT_EQ(Lines(p), "P1\n");
  EXPECT_TRUE(ReadPacket(rpc_->Call("getVd_Produto", {JsonRpcParam::Text("P3")}).dataJson).rows.empty());

  const Answer pair = rpc_->Call("getVd_Fornecedor", {JsonRpcParam::Text("P1"), JsonRpcParam::Text("F1")});
  const Packet q = ReadPacket(pair.dataJson);
  EXPECT_EQ(q.names, (std::vector<std::string>{"CDPRODUTO", "CDFORNECED"}));
  EXPECT_EQ(Lines(q), "P1|F1\n");

  Save("SetFilial", BranchFields(), {{ChangeOp::Insert, BranchRow("P'2", "SP01")}});
  const Packet b = ReadPacket(rpc_->Call("getVd_Filial", {JsonRpcParam::Text("P'2"), JsonRpcParam::Text("SP01")}).dataJson);
  EXPECT_EQ(b.names, (std::vector<std::string>{"CDPRODUTO", "CDFILIAL"}));
  EXPECT_EQ(Lines(b), "P'2|SP01\n");
}

TEST_P(ServiceTest, DeletesRemoveRowsAndDeletingAMissingRowIsNoError) {
  Save("SetCliente", ClientFields(), {{ChangeOp::Insert, ClientRow("P1", "C1")}, {ChangeOp::Insert, ClientRow("P1", "C2")}});
  Save("SetCliente", ClientFields(), {{ChangeOp::Delete, ClientRow("P1", "C1")}, {ChangeOp::Delete, ClientRow("P4", "C2")}});
  EXPECT_FALSE(Stored("getVd_Cliente", "P1", "C1"));
  EXPECT_TRUE(Stored("getVd_Cliente", "P1", "C2"));
  // Deleted and stored again in one packet, in that order.
  Save("SetCliente", ClientFields(), {{ChangeOp::Delete, ClientRow("P1", "C2")}, {ChangeOp::Insert, ClientRow("P1", "C2")}});
  EXPECT_TRUE(Stored("getVd_Cliente", "P1", "C2"));
}

TEST_P(ServiceTest, ProductDeletionRemovesEveryRelatedRowButKeepsTheMasterProduct) {
  Save("SetFornecedor", SupplierFields(), {{ChangeOp::Insert, SupplierRow("P'2", "F1")}, {ChangeOp::Insert, SupplierRow("P1", "F1")}});
  Save("SetCliente", ClientFields(), {{ChangeOp::Insert, ClientRow("P'2", "C1")}});
  Save("SetFilial", BranchFields(), {{ChangeOp::Insert, BranchRow("P'2", "0001")}});

  Save("SetProduto", ProductFields(), {{ChangeOp::Delete, {"200", "P'2", "Feijão carioca"}}});
  const auto packets = ReadPackets(rpc_->Call("getDados").dataJson);
  ASSERT_EQ(packets.size(), 4u);
  EXPECT_EQ(Lines(packets[0]), "100|P1|Arroz agulhinha\n");
  EXPECT_EQ(Lines(packets[1]), "P1|12345678000195|Açougue Boi Gordo Ltda.|J|F1|12345678000195\n");
  EXPECT_TRUE(packets[2].rows.empty());
  EXPECT_TRUE(packets[3].rows.empty());

  // The product is still master data: a new related row lists it again.
  Save("SetFilial", BranchFields(), {{ChangeOp::Insert, BranchRow("P'2", "SP01")}});
  EXPECT_EQ(ReadPackets(rpc_->Call("getDados").dataJson)[0].rows.size(), 2u);
}

TEST_P(ServiceTest, ProductInsertIsAcceptedAndStoresNothing) {
  Save("SetProduto", ProductFields(), {{ChangeOp::Insert, {"050", "P4", "Café torrado"}}});
  EXPECT_TRUE(ReadPackets(rpc_->Call("getDados").dataJson)[0].rows.empty());
}

TEST_P(ServiceTest, DuplicatePairRefusesTheWholePacketNamingTheRow) {
  Save("SetFornecedor", SupplierFields(), {{ChangeOp::Insert, SupplierRow("P1", "F1")}});
  EXPECT_EQ(Refused("SetFornecedor", SupplierFields(),
                    {{ChangeOp::Insert, SupplierRow("P1", "F2")}, {ChangeOp::Delete, SupplierRow("P1", "F1")},
                     {ChangeOp::Insert, SupplierRow("P1", "F3")}, {ChangeOp::Insert, SupplierRow("P1", "F3")}}),
            "Fornecedor 11222333000181 já cadastrado para o produto 100.");
  // Nothing of the packet was applied.
  EXPECT_EQ(Lines(Load("getFornecedor")), "P1|12345678000195|Açougue Boi Gordo Ltda.|J|F1|12345678000195\n");

  Save("SetFilial", BranchFields(), {{ChangeOp::Insert, BranchRow("P4", "0001")}});
  EXPECT_EQ(Refused("SetFilial", BranchFields(), {{ChangeOp::Insert, BranchRow("P4", "0001")}}),
            "Filial 0001 já cadastrada para o produto 050.");
}

TEST_P(ServiceTest, RowsOutsideTheMasterDataAreRefusedWithNothingApplied) {
  EXPECT_EQ(Refused("SetCliente", ClientFields(), {{ChangeOp::Insert, ClientRow("P1", "C1")}, {ChangeOp::Insert, ClientRow("P9", "C1")}}),
            "Produto P9 não cadastrado.");
  EXPECT_EQ(Refused("SetCliente", ClientFields(), {{ChangeOp::Insert, ClientRow("P1", "C1")}, {ChangeOp::Insert, ClientRow("P1", "C9")}}),
            "Cliente C9 não cadastrado.");
  // The branch code longer than the list's field is master data but cannot be a row.
  EXPECT_EQ(Refused("SetFilial", BranchFields(), {{ChangeOp::Insert, BranchRow("P1", "MATRIZ01")}}),
            "O campo CDFILIALDES do filial MATRIZ01 (produto P1) tem 8 caracteres; o máximo é 4.");
  EXPECT_EQ(Refused("SetFilial", BranchFields(), {{ChangeOp::Insert, BranchRow("P1", "RJ01")}}), "Filial RJ01 não cadastrada.");
  EXPECT_EQ(Refused("SetFornecedor", SupplierFields(), {{ChangeOp::Insert, SupplierRow("", "F1")}}),
            "Produto não informado para o fornecedor F1.");
  EXPECT_EQ(Refused("SetFornecedor", SupplierFields(), {{ChangeOp::Insert, SupplierRow("P1", "")}}),
            "Fornecedor não informado para o produto 100.");
  EXPECT_FALSE(Stored("getVd_Cliente", "P1", "C1"));
  EXPECT_TRUE(ReadPackets(rpc_->Call("getDados").dataJson)[0].rows.empty());
}

TEST_P(ServiceTest, PacketsWithForeignOrMissingFieldsOrLongValuesAreRefused) {
  EXPECT_EQ(Refused("SetFilial", {{"CDPRODUTODES", 10}, {"CDFILIALDES", 4}, {"CDCLIENTE", 21}},
                    {{ChangeOp::Insert, {"P1", "0001", "C1"}}}),
            "A lista de filiais não tem o campo CDCLIENTE.");
  EXPECT_EQ(Refused("SetFornecedor", {{"CDPRODUTODES", 10}, {"NRINSJURFORN", 20}}, {{ChangeOp::Insert, {"P1", "1"}}}),
            "O pacote de alterações da lista de fornecedores não traz o campo CDFORNECED.");
  // Sizes are the list's own, whatever the packet declares; characters, not bytes, count.
  const std::string name40 = "Ação" + std::string(36, 'x');
  Save("SetFornecedor", {{"CDPRODUTODES", 99}, {"CDFORNECED", 99}, {"NMRAZSOCFORN", 99}},
       {{ChangeOp::Insert, {"P1", "F1", name40}}});
  EXPECT_EQ(Refused("SetFornecedor", {{"CDPRODUTODES", 99}, {"CDFORNECED", 99}, {"NMRAZSOCFORN", 99}},
                    {{ChangeOp::Insert, {"P1", "F2", name40 + "y"}}}),
            "O campo NMRAZSOCFORN do fornecedor F2 (produto P1) tem 41 caracteres; o máximo é 40.");
  EXPECT_FALSE(Stored("getVd_Fornecedor", "P1", "F2"));
}

TEST_P(ServiceTest, BadRequestsGetProtocolErrorsAndTheServerKeepsServing) {
  struct Case {
    std::string body;
    int code;
  };
  const std::vector<Case> cases = {
      {"", -32700},
      {"{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"getDados\"", -32700},
      {"{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"getDados\xFF\"}", -32700},
      {"[]", -32600},
      {R"({"jsonrpc":"2.0","method":"getDados"})", -32600},
      {R"({"jsonrpc":"2.0","id":1,"method":"dropTables"})", -32601},
      {R"({"jsonrpc":"2.0","id":1,"method":"getDados","params":["x"]})", -32602},
      {R"({"jsonrpc":"2.0","id":1,"method":"getVd_Fornecedor","params":["P1"]})", -32602},
      {R"({"jsonrpc":"2.0","id":1,"method":"getVd_Fornecedor","params":["P1",7]})", -32602},
      {R"({"jsonrpc":"2.0","id":1,"method":"getVd_Produto","params":[{"fields":[],"changes":[]}]})", -32602},
      {R"({"jsonrpc":"2.0","id":1,"method":"SetFornecedor","params":["P1"]})", -32602},
      {R"({"jsonrpc":"2.0","id":1,"method":"SetFornecedor","params":[{"fields":[{"name":"CDPRODUTODES"}],"changes":[{"op":"insert","row":[]}]}]})", -32602},
      {R"({"jsonrpc":"2.0","id":1,"method":"SetFornecedor","params":[{"fields":[],"rows":[]}]})", -32602},
      {R"({"jsonrpc":"2.0","id":1,"method":"SetCliente","params":{"packet":{}}})", -32602},
  };
  for (const Case& c : cases) {
    const Answer a = rpc_->Post(c.body);
    EXPECT_EQ(a.httpStatus, 200) << c.body;
    EXPECT_TRUE(a.isError) << c.body << " -> " << a.body;
    EXPECT_EQ(a.errorCode, c.code) << c.body << " -> " << a.body;
  }
  auto& http = rpc_->Http();
  const auto wrongPath = http.Post("/other", "{}", "application/json");
  ASSERT_TRUE(wrongPath);
  EXPECT_EQ(wrongPath->status, 404);
  const auto wrongMethod = http.Put(std::string(host::wire::kServicePath), "{}", "application/json");
  ASSERT_TRUE(wrongMethod);
  EXPECT_EQ(wrongMethod->status, 405);

  EXPECT_TRUE(process_->Running());
  EXPECT_TRUE(rpc_->Call("getDados").ok);
  EXPECT_TRUE(ReadPackets(rpc_->Call("getDados").dataJson)[1].rows.empty());
}

TEST_P(ServiceTest, EveryCallIsLoggedOnOneLine) {
  rpc_->Call("getVd_Produto", {JsonRpcParam::Text("P1")});
  rpc_->Call("getDados");
  rpc_->Post("nonsense");
  process_->Stop();
  const std::string log = process_->Log();
  EXPECT_NE(log.find("call method=getVd_Produto request="), std::string::npos) << log;
  EXPECT_NE(log.find("outcome=ok"), std::string::npos) << log;
  EXPECT_NE(log.find("call method=getDados request="), std::string::npos) << log;
  EXPECT_NE(log.find("outcome=error -32700"), std::string::npos) << log;
  EXPECT_NE(log.find("pdi07310-server stopped"), std::string::npos) << log;
}

TEST_P(ServiceTest, ManyClientsSavingAtOnceLoseNothing) {
  constexpr int kClients = 8;
  constexpr int kSavesPerClient = 12;
  const std::vector<std::string> products = {"P1", "P'2", "P3", "P4"};
  const std::vector<std::string> clients = {"C1", "C2"};
  const std::vector<std::string> suppliers = {"F1", "F2", "F3"};
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < kClients; ++t) {
    threads.emplace_back([&, t] {
      RpcClient rpc(process_->Port());
      for (int i = 0; i < kSavesPerClient; ++i) {
        // Every (thread, i) inserts a distinct pair: 8 x 12 = 96 of the 4 x (3 + 2) x ... pairs
        // would collide, so each thread owns its own product-item combinations by list.
        const int n = t * kSavesPerClient + i;
        Answer a;
        if (n < 12) {
          a = rpc.CallRetryingBusy("SetFornecedor", {Changes(SupplierFields(), {{ChangeOp::Insert, SupplierRow(products[n % 4], suppliers[n / 4])}})});
        } else if (n < 20) {
          const int k = n - 12;
          a = rpc.CallRetryingBusy("SetCliente", {Changes(ClientFields(), {{ChangeOp::Insert, ClientRow(products[k % 4], clients[k / 4])}})});
        } else if (n < 28) {
          const int k = n - 20;
          a = rpc.CallRetryingBusy("SetFilial", {Changes(BranchFields(), {{ChangeOp::Insert, BranchRow(products[k % 4], k / 4 ? "SP01" : "0001")}})});
        } else {
          a = rpc.CallRetryingBusy(n % 2 ? "getDados" : "getVd_Produto", n % 2 ? std::vector<JsonRpcParam>{} : std::vector<JsonRpcParam>{JsonRpcParam::Text("P1")});
        }
        if (!a.ok) ++failures;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  const auto packets = ReadPackets(rpc_->Call("getDados").dataJson);
  ASSERT_EQ(packets.size(), 4u);
  EXPECT_EQ(packets[0].rows.size(), 4u);
  EXPECT_EQ(packets[1].rows.size(), 12u);
  EXPECT_EQ(packets[2].rows.size(), 8u);
  EXPECT_EQ(packets[3].rows.size(), 8u);
}

TEST_P(ServiceTest, ConcurrentDuplicateInsertsStoreThePairOnce) {
  std::vector<std::thread> threads;
  std::atomic<int> accepted{0}, refused{0};
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      RpcClient rpc(process_->Port());
      const Answer a = rpc.Call("SetCliente", {Changes(ClientFields(), {{ChangeOp::Insert, ClientRow("P3", "C2")}})});
      (a.ok ? accepted : refused)++;
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(accepted.load(), 1);
  EXPECT_EQ(refused.load(), 7);
  EXPECT_EQ(Load("getCliente").rows.size(), 1u);
}

class SmallLimitServiceTest : public ServiceFixture {
 protected:
  std::vector<std::string> ExtraArgs() override { return {"--max-request-bytes", "2048"}; }
};

INSTANTIATE_TEST_SUITE_P(Stores, SmallLimitServiceTest, ::testing::Values(StoreKind::Sqlite, StoreKind::Postgres),
                         StoreParamName());

TEST_P(SmallLimitServiceTest, OversizedRequestIsRefusedAndNothingStored) {
  std::vector<std::pair<ChangeOp, std::vector<std::string>>> many;
  for (int i = 0; i < 40; ++i) many.push_back({ChangeOp::Insert, ClientRow("P1", "C1")});
  const std::string body = host::wire::JsonRpcRequest::Write(1, "SetCliente", {Changes(ClientFields(), many)});
  ASSERT_GT(body.size(), 2048u);
  const auto res = rpc_->Http().Post(std::string(host::wire::kServicePath), body, "application/json");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 413);
  EXPECT_TRUE(process_->Running());
  EXPECT_FALSE(Stored("getVd_Cliente", "P1", "C1"));
}

}  // namespace
}  // namespace server::test
