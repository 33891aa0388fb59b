// getHistorico and JSON-RPC batches, on each store: a product's history lists its applied changes
// newest first with the item's code and name, capped, behind the access tokens; a batch answers
// each call as if sent alone, keeps notifications silent, refuses streamed methods inside it, and
// stops at its answer's budget; saves are kept to a rate per user.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "ServiceFixture.h"
#include "server/store/ListCatalog.h"
#include "tests/support/RawHttp.h"

namespace server::test {
namespace {

using host::wire::ChangeOp;
using host::wire::JsonRpcParam;
using host::wire::JsonRpcRequest;
using testsupport::BodyOf;
using testsupport::RawConnection;
using testsupport::RequestBytes;

class HistoryTest : public ServiceFixture {
 protected:
  std::vector<std::string> ExtraArgs() override {
    WritePrivateFile(dir_.File("tokens.txt"), "tok-maria-0123456789abcdef Maria da Silva\n");
    return {"--tokens", dir_.File("tokens.txt")};
  }
  void SetUp() override {
    ServiceFixture::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    rpc_->Http().set_bearer_token_auth("tok-maria-0123456789abcdef");
  }
  // The history of a product as "list op item code name user" lines (time and client checked
  // for shape, then left out).
  std::vector<std::string> History(const std::string& product) {
    const Answer a = rpc_->Call("getHistorico", {JsonRpcParam::Text(product)});
    EXPECT_TRUE(a.ok) << a.body.substr(0, 300);
    const Packet p = ReadPacket(a.dataJson);
    EXPECT_EQ(p.names, (std::vector<std::string>{"DTHRALTERACAO", "NMUSUARIO", "DSENDERECO", "NMLISTA",
                                                 "IDOPERACAO", "CDITEM", "CDITEMDES", "NMITEM"}));
    std::vector<std::string> out;
    std::string previous = "9999";
    for (const auto& row : p.rows) {
      EXPECT_EQ(row[0].size(), 24u) << row[0];
      EXPECT_LE(row[0], previous) << "newest first";
      previous = row[0];
      EXPECT_EQ(row[2].rfind("127.0.0.1:", 0), 0u) << row[2];
      out.push_back(row[3] + " " + row[4] + " " + row[5] + " " + row[6] + " " + row[7] + " / " + row[1]);
    }
    return out;
  }
};

INSTANTIATE_TEST_SUITE_P(Stores, HistoryTest, ::testing::Values(StoreKind::Sqlite, StoreKind::Postgres),
                         StoreParamName());

TEST_P(HistoryTest, AProductsAppliedChangesComeNewestFirstWithCodesAndNames) {
  Save("SetFornecedor", SupplierFields(),
       {{ChangeOp::Insert, SupplierRow("P1", "F1", "12345678000195")}, {ChangeOp::Insert, SupplierRow("P1", "F2")}});
  Refused("SetFornecedor", SupplierFields(), {{ChangeOp::Insert, SupplierRow("P1", "F3")}, {ChangeOp::Insert, SupplierRow("P1", "F1")}});
  Save("SetFilial", BranchFields(), {{ChangeOp::Insert, BranchRow("P1", "0001")}, {ChangeOp::Insert, BranchRow("P4", "SP01")}});
  Save("SetCliente", ClientFields(), {{ChangeOp::Insert, ClientRow("P'2", "C1")}});
  Save("SetFornecedor", SupplierFields(), {{ChangeOp::Delete, SupplierRow("P1", "F2")}, {ChangeOp::Delete, SupplierRow("P1", "F3")}});

  const std::vector<std::string> p1 = History("P1");
  ASSERT_EQ(p1.size(), 4u);  // the refused packet and the delete of a pair never stored are absent
  EXPECT_TRUE(p1[0].starts_with("fornecedor delete F2 ")) << p1[0];
  EXPECT_NE(p1[0].find(" / Maria da Silva"), std::string::npos) << p1[0];
  EXPECT_TRUE(p1[1].starts_with("filial insert 0001")) << p1[1];
  EXPECT_TRUE(p1[2].starts_with("fornecedor insert F2 ")) << p1[2];
  EXPECT_TRUE(p1[3].starts_with("fornecedor insert F1 12345678000195 ")) << p1[3];  // the typed code
  for (const auto& line : p1) EXPECT_EQ(line.find("  "), std::string::npos) << "a name is missing: " << line;

  EXPECT_EQ(History("P'2").size(), 1u);
  EXPECT_TRUE(History("P9").empty());  // unknown product: an empty history, not a failure
}

TEST_P(HistoryTest, TheHistoryIsCappedToItsNewestRowsAndNeedsAToken) {
  // One packet of more pairs than the cap: every product/supplier pair of the grid data.
  std::vector<Change> changes;
  for (int i = 0; i < 3; ++i) {
    changes.push_back({ChangeOp::Insert, SupplierRow("P1", "F1")});
    changes.push_back({ChangeOp::Delete, SupplierRow("P1", "F1")});
  }
  Save("SetFornecedor", SupplierFields(), changes);
  EXPECT_EQ(History("P1").size(), 6u);

  // The cap: more changes than kHistoryLimit in one packet; the newest come back.
  std::vector<Change> many;
  for (int i = 0; i < kHistoryLimit / 2 + 10; ++i) {
    many.push_back({ChangeOp::Insert, ClientRow("P4", "C1")});
    many.push_back({ChangeOp::Delete, ClientRow("P4", "C1")});
  }
  Save("SetCliente", ClientFields(), many);
  const std::vector<std::string> p4 = History("P4");
  ASSERT_EQ(p4.size(), static_cast<size_t>(kHistoryLimit));
  EXPECT_TRUE(p4.front().starts_with("cliente delete C1 ")) << p4.front();

  // Arguments and tokens.
  const Answer noArg = rpc_->Call("getHistorico");
  EXPECT_EQ(noArg.errorCode, -32602);
  rpc_->Http().set_bearer_token_auth("wrong");
  const auto refused = rpc_->Http().Post(ServerProcess::Path(), JsonRpcRequest::Write(1, "getHistorico", {JsonRpcParam::Text("P1")}),
                                         "application/json");
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->status, 401);
  EXPECT_EQ(refused->body.find("P1"), std::string::npos);
}

class BatchTest : public ServiceFixture {
 protected:
  static std::string CallText(int id, const std::string& method, const std::vector<JsonRpcParam>& params) {
    return JsonRpcRequest::Write(id, method, params);
  }
  static std::string Notification(const std::string& method, const std::vector<JsonRpcParam>& params) {
    std::string text = JsonRpcRequest::Write(0, method, params);
    text.erase(text.find("\"id\":0,"), 7);
    return text;
  }
  // Posts a body whose answer may be an array or nothing.
  Answer PostRaw(const std::string& body) {
    Answer answer;
    const auto res = rpc_->Http().Post(ServerProcess::Path(), body, "application/json");
    if (!res) return answer;
    answer.httpStatus = res->status;
    answer.body = res->body;
    return answer;
  }
};

INSTANTIATE_TEST_SUITE_P(Stores, BatchTest, ::testing::Values(StoreKind::Sqlite, StoreKind::Postgres),
                         StoreParamName());

TEST_P(BatchTest, EachCallIsAnsweredInOrderAsIfSentAlone) {
  const auto save = [](const std::string& product, const std::string& supplier) {
    return Changes(SupplierFields(), {{ChangeOp::Insert, SupplierRow(product, supplier)}});
  };
  const std::string body = "[" + CallText(1, "SetFornecedor", {save("P1", "F1")}) + "," +
                           CallText(2, "SetFornecedor", {save("P1", "F1")}) + "," +  // refused: stored by call 1
                           Notification("SetFornecedor", {save("P4", "F2")}) + "," +
                           CallText(3, "getVd_Fornecedor", {JsonRpcParam::Text("P4"), JsonRpcParam::Text("F2")}) +
                           ",{\"jsonrpc\":\"2.0\",\"id\":4,\"method\":\"nope\",\"params\":[]}" + ",17," +
                           CallText(5, "getDados", {}) + "]";
  const Answer a = PostRaw(body);
  ASSERT_EQ(a.httpStatus, 200) << a.body;
  const std::string& b = a.body;
  ASSERT_EQ(b.front(), '[') << b;
  const auto at = [&b](const std::string& text) { return b.find(text); };
  // Answers in order: 1 ok, 2 refused, 3 found (the notification ran first), 4 unknown, bad, 5 refused.
  EXPECT_NE(at(R"({"jsonrpc":"2.0","id":1,"result":{"ok":true,"data":null}})"), std::string::npos) << b;
  EXPECT_LT(at(R"("id":1)"), at(R"("id":2,"result":{"ok":false)")) << b;
  EXPECT_LT(at(R"("id":2)"), at(R"("id":3,"result":{"ok":true,"data":{"fields")")) << b;
  EXPECT_NE(at(R"(["P4","F2"])"), std::string::npos) << b;
  EXPECT_LT(at(R"("id":3)"), at(R"("id":4,"error":{"code":-32601)")) << b;
  EXPECT_LT(at(R"("id":4)"), at(R"("id":null,"error":{"code":-32600)")) << b;
  EXPECT_NE(at(R"("id":5,"error":{"code":-32600,"message":"Invalid request: getDados answers a stream)"),
            std::string::npos) << b;
  EXPECT_TRUE(Stored("getVd_Fornecedor", "P1", "F1"));
  EXPECT_TRUE(Stored("getVd_Fornecedor", "P4", "F2"));
  EXPECT_EQ(std::count(b.begin(), b.end(), '\n'), 0);
}

TEST_P(BatchTest, NotificationsOnlyAnswerNothingAndBadBatchesOneError) {
  const std::string notify = Notification("SetFilial", {Changes(BranchFields(), {{ChangeOp::Insert, BranchRow("P1", "0001")}})});
  const Answer none = PostRaw("[" + notify + "]");
  EXPECT_EQ(none.httpStatus, 204);
  EXPECT_TRUE(none.body.empty()) << none.body;
  EXPECT_TRUE(Stored("getVd_Filial", "P1", "0001"));

  const Answer empty = rpc_->Post(" [ ] ");
  EXPECT_EQ(empty.errorCode, -32600) << empty.body;
  const Answer broken = rpc_->Post("[" + notify + ",");
  EXPECT_EQ(broken.errorCode, -32700) << broken.body;
  std::string huge = "[";
  for (int i = 0; i < 300; ++i) huge += (i ? "," : "") + CallText(i, "getVd_Produto", {JsonRpcParam::Text("P1")});
  const Answer tooMany = rpc_->Post(huge + "]");
  EXPECT_EQ(tooMany.errorCode, -32600) << tooMany.body.substr(0, 200);
  // A lone notification is still refused, as before batches.
  EXPECT_EQ(rpc_->Post(notify).errorCode, -32600);
  // The service's description lists the history method.
  const auto described = rpc_->Http().Get(ServerProcess::Path());
  ASSERT_TRUE(described);
  EXPECT_NE(described->body.find("\"getHistorico\""), std::string::npos) << described->body;
}

// A batch's answer has a budget, and saves a rate per user: a small request cannot make the
// server build a huge answer, nor one client save without end.
class LimitedBatchTest : public BatchTest {
 protected:
  std::vector<std::string> ExtraArgs() override {
    return {"--max-batch-answer-rows", "30", "--saves-per-minute", "1", "--save-burst", "4"};
  }
};
INSTANTIATE_TEST_SUITE_P(Stores, LimitedBatchTest, ::testing::Values(StoreKind::Sqlite, StoreKind::Postgres),
                         StoreParamName());

TEST_P(LimitedBatchTest, ABatchStopsAtItsAnswersBudgetAndSavesAtTheirRate) {
  std::vector<Change> churn;  // 20 changes of history
  for (int i = 0; i < 10; ++i) {
    churn.push_back({ChangeOp::Insert, SupplierRow("P1", "F1")});
    churn.push_back({ChangeOp::Delete, SupplierRow("P1", "F1")});
  }
  Save("SetFornecedor", SupplierFields(), churn);
  std::string body = "[";
  for (int id = 1; id <= 5; ++id) body += (id > 1 ? "," : "") + CallText(id, "getHistorico", {JsonRpcParam::Text("P1")});
  const Answer a = PostRaw(body + "]");
  ASSERT_EQ(a.httpStatus, 200) << a.body.substr(0, 300);
  // 20 rows, 40 rows: the budget of 30 is spent; the three calls left were not run.
  EXPECT_NE(a.body.find(R"("id":2,"result":{"ok":true)"), std::string::npos) << a.body.substr(0, 300);
  for (int id = 3; id <= 5; ++id) {
    EXPECT_NE(a.body.find(R"("id":)" + std::to_string(id) + R"(,"error":{"code":-32000,"message":"Server error: this batch's answers reached their budget)"),
              std::string::npos) << id << ": " << a.body.substr(a.body.size() > 600 ? a.body.size() - 600 : 0);
  }

  // Four saves at once (the burst; one was spent above), then one a minute: the next is refused,
  // saying so, and nothing of it is stored. Another address has its own.
  for (const char* product : {"P1", "P'2", "P3"}) Save("SetFilial", BranchFields(), {{ChangeOp::Insert, BranchRow(product, "0001")}});
  const std::string refused = Refused("SetFilial", BranchFields(), {{ChangeOp::Insert, BranchRow("P4", "0001")}});
  EXPECT_NE(refused.find("Muitas gravações em pouco tempo: o limite é de 1 por minuto"), std::string::npos) << refused;
  EXPECT_FALSE(Stored("getVd_Filial", "P4", "0001"));
  RawConnection other(process_->Port(), "127.0.0.2");
  ASSERT_TRUE(other.Send(RequestBytes("POST", ServerProcess::Path(),
                                      CallText(1, "SetFilial", {Changes(BranchFields(), {{ChangeOp::Insert, BranchRow("P4", "0001")}})}))));
  const auto saved = other.ReadResponse(std::chrono::seconds(10));
  ASSERT_TRUE(saved);
  EXPECT_NE(BodyOf(*saved).find(R"("ok":true)"), std::string::npos) << *saved;
}

}  // namespace
}  // namespace server::test
