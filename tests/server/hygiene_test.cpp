// Input hygiene at the real server, on each store: hostile text in codes, keys, methods and change
// packets is refused or shown escaped, never stored, never cut short, never able to forge a log
// line; internal failures reach the client as a reference, their detail only the log.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <regex>
#include <thread>

#include "ServiceFixture.h"
#include "server/store/SqliteDatabase.h"

namespace server::test {
namespace {

using host::wire::ChangeOp;
using host::wire::JsonRpcParam;

class HygieneTest : public ServiceFixture {
 protected:
  // The lines of the server's log so far.
  std::vector<std::string> LogLines() {
    std::vector<std::string> lines;
    const std::string log = process_->Log();
    size_t start = 0;
    while (start < log.size()) {
      const size_t end = log.find('\n', start);
      lines.push_back(log.substr(start, end == std::string::npos ? std::string::npos : end - start));
      if (end == std::string::npos) break;
      start = end + 1;
    }
    return lines;
  }
};

INSTANTIATE_TEST_SUITE_P(Stores, HygieneTest, ::testing::Values(StoreKind::Sqlite, StoreKind::Postgres),
                         StoreParamName());

const std::string kHostile("12\0\n\x1b[31m", 9);

TEST_P(HygieneTest, CodesWithControlCharactersAreRefusedAndShownWhole) {
  // A typed code, a product key and an item key, each in a save: refused, nothing stored.
  EXPECT_EQ(Refused("SetFornecedor", SupplierFields(), {{ChangeOp::Insert, SupplierRow("P1", "F1", kHostile)}}),
            R"(O código do fornecedor 12\x00\x0A\x1B[31m contém caracteres de controle e não pode ser aceito.)");
  EXPECT_EQ(Refused("SetFilial", BranchFields(), {{ChangeOp::Insert, BranchRow("P1", "0001")},
                                                   {ChangeOp::Insert, BranchRow("P1", std::string("SP\0", 3))}}),
            R"(O código da filial SP\x00 contém caracteres de controle e não pode ser aceito.)");
  EXPECT_EQ(Refused("SetCliente", ClientFields(), {{ChangeOp::Insert, ClientRow("P1\x7F", "C1")}}),
            R"(O código do produto P1\x7F contém caracteres de controle e não pode ser aceito.)");
  EXPECT_EQ(Lines(Load("getFornecedor")), "");
  EXPECT_EQ(Lines(Load("getFilial")), "");
  EXPECT_EQ(Lines(Load("getCliente")), "");

  // The check methods refuse such codes too.
  for (const auto& [method, params] : std::vector<std::pair<std::string, std::vector<JsonRpcParam>>>{
           {"getVd_Produto", {JsonRpcParam::Text(kHostile)}},
           {"getVd_Fornecedor", {JsonRpcParam::Text("P1"), JsonRpcParam::Text("F1\t")}},
           {"getVd_Filial", {JsonRpcParam::Text("\nP1"), JsonRpcParam::Text("0001")}}}) {
    const Answer a = rpc_->Call(method, params);
    EXPECT_FALSE(a.ok) << method << ": " << a.body;
    EXPECT_NE(a.refusal.find("contém caracteres de controle"), std::string::npos) << method << ": " << a.body;
  }

  // C1 controls (one is a terminal's CSI) and bidirectional overrides, which show a code other
  // than it is, are control characters too.
  EXPECT_EQ(Refused("SetFornecedor", SupplierFields(), {{ChangeOp::Insert, SupplierRow("P1", "F1", "12\xC2\x9B" "31m")}}),
            R"(O código do fornecedor 12\u009B31m contém caracteres de controle e não pode ser aceito.)");
  EXPECT_EQ(Refused("SetFilial", BranchFields(), {{ChangeOp::Insert, BranchRow("P1", "\xE2\x80\xAE" "1000")}}),
            R"(O código da filial \u202E1000 contém caracteres de controle e não pode ser aceito.)");
  const Answer bidi = rpc_->Call("getVd_Cliente", {JsonRpcParam::Text("P1"), JsonRpcParam::Text("C1\xE2\x81\xA6")});
  EXPECT_NE(bidi.refusal.find("contém caracteres de controle"), std::string::npos) << bidi.body;

  // A pair stored before the rule existed stays deletable: a delete may carry such a typed code.
  Save("SetFornecedor", SupplierFields(), {{ChangeOp::Insert, SupplierRow("P1", "F1")}});
  Save("SetFornecedor", SupplierFields(), {{ChangeOp::Delete, SupplierRow("P1", "F1", kHostile)}});
  EXPECT_FALSE(Stored("getVd_Fornecedor", "P1", "F1"));

  // Whatever a store holds, the audit prints it escaped: a value written before these rules, with
  // an override, a C1 control and a line break, stays on its line and shows what it is.
  if (database_->Kind() != StoreKind::Sqlite) return;
  SqliteDatabase(db_, SqliteDatabase::Mode::ReadWrite)
      .Exec("UPDATE AUDITORIA SET DSENDERECO = 'x' || char(0x202E) || 'y' || char(0x9B) || char(10) || 'z'");
  const CommandResult audit = Audit();
  ASSERT_EQ(audit.status, 0) << audit.output;
  EXPECT_NE(audit.output.find(R"(client x\u202Ey\u009B\x0Az)"), std::string::npos) << audit.output;
  EXPECT_EQ(audit.output.find("\xE2\x80\xAE"), std::string::npos);
}

TEST_P(HygieneTest, ANulInAKeyOrFieldNameNeverCutsTheMessage) {
  const std::vector<host::wire::FieldDef> fields = {{"CDPRODUTODES", 10}, {std::string("CDFILIALDES\0X", 13), 4}};
  EXPECT_EQ(Refused("SetFilial", fields, {{ChangeOp::Insert, {"P1", "0001"}}}),
            R"(A lista de filiais não tem o campo CDFILIALDES\x00X.)");
  // An unknown method's name is quoted escaped in the JSON-RPC error.
  const Answer a = rpc_->Call(std::string("get\0Dados\n", 10));
  EXPECT_TRUE(a.isError);
  EXPECT_EQ(a.errorMessage, R"(Method not found: get\x00Dados\x0A)");
}

TEST_P(HygieneTest, AChangePacketWithARepeatedMemberIsRefusedWhole) {
  Save("SetFornecedor", SupplierFields(), {{ChangeOp::Insert, SupplierRow("P1", "F1")}});
  const auto body = [](const std::string& change) {
    return R"({"jsonrpc":"2.0","id":9,"method":"SetFornecedor","params":[{"fields":[{"name":"CDPRODUTODES","size":10},)"
           R"({"name":"CDFORNECED","size":21}],"changes":[)" + change + "]}]}";
  };
  for (const std::string& change : {std::string(R"({"op":"insert","op":"delete","row":["P1","F1"]})"),
                                    std::string(R"({"op":"insert","row":["P1","F2"],"row":["P1","F3"]})")}) {
    const Answer a = rpc_->Post(body(change));
    EXPECT_TRUE(a.isError) << a.body;
    EXPECT_EQ(a.errorCode, -32602) << a.body;
    EXPECT_NE(a.errorMessage.find("appears twice"), std::string::npos) << a.body;
  }
  EXPECT_TRUE(Stored("getVd_Fornecedor", "P1", "F1"));
  EXPECT_FALSE(Stored("getVd_Fornecedor", "P1", "F2"));
  EXPECT_FALSE(Stored("getVd_Fornecedor", "P1", "F3"));
}

TEST_P(HygieneTest, ClientTextCannotForgeOrColourALogLine) {
  const std::string forged = "x\ncall method=SetProduto request=1B response=1B duration=0.1ms outcome=ok";
  rpc_->Call(forged);
  rpc_->Call("getVd_Produto\x1b[2J\r", {JsonRpcParam::Text("P1")});
  Refused("SetFornecedor", SupplierFields(), {{ChangeOp::Insert, SupplierRow("P1", "F1\x1b[31m\\")}});
  // Each call's line is written when its answer has gone; the three calls may be answered on
  // different threads, so their lines may come in any order: wait for each.
  process_->LogOnceItHolds("call method=x\\x0Acall method=SetProduto");
  process_->LogOnceItHolds(R"(call method=getVd_Produto\x1B[2J\x0D request=)");
  const std::string log = process_->LogOnceItHolds(R"(F1\\x1B[31m\\\\ contém)");
  const std::vector<std::string> lines = LogLines();
  int calls = 0;
  const std::regex time(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z )");
  for (const std::string& full : lines) {
    // Every line starts with its time; what follows is the line's own.
    std::smatch m;
    ASSERT_TRUE(std::regex_search(full, m, time, std::regex_constants::match_continuous)) << full;
    const std::string line = full.substr(m.length());
    EXPECT_FALSE(line.starts_with("call method=SetProduto")) << line;
    EXPECT_EQ(line.find('\x1b'), std::string::npos) << line;
    EXPECT_EQ(line.find('\r'), std::string::npos) << line;
    if (line.starts_with("call method=x\\x0Acall method=SetProduto")) ++calls;
  }
  EXPECT_EQ(calls, 1) << log;
  EXPECT_NE(log.find(R"(call method=getVd_Produto\x1B[2J\x0D request=)"), std::string::npos) << log;
  EXPECT_NE(log.find(R"(F1\\x1B[31m\\\\ contém)"), std::string::npos) << log;
}

TEST_P(HygieneTest, AnInternalFailureIsAnsweredWithAReferenceAndItsDetailIsLogged) {
  // Take the audit trail's table away behind the server: the next save fails inside the store.
  const std::string rename = "ALTER TABLE AUDITORIA_ITEM RENAME TO AUDITORIA_ITEM_GONE";
  if (database_->Kind() == StoreKind::Sqlite) {
    SqliteDatabase(db_, SqliteDatabase::Mode::ReadWriteCreate).Exec(rename);
  } else {
    database_->Rows(rename);
  }
  const std::string message = Refused("SetFornecedor", SupplierFields(), {{ChangeOp::Insert, SupplierRow("P1", "F1")}});
  std::smatch match;
  ASSERT_TRUE(std::regex_match(message, match, std::regex(R"(Falha interna do servidor; referência ([0-9A-F]{8})\. .*)")))
      << message;
  const std::string reference = match[1];
  EXPECT_EQ(message.find("AUDITORIA"), std::string::npos) << message;
  EXPECT_EQ(message.find("auditoria"), std::string::npos) << message;
  // The log has the detail under the same reference; nothing was stored.
  const std::string log = process_->LogOnceItHolds("outcome=failed: reference " + reference + ": ");
  const size_t at = log.find("outcome=failed: reference " + reference + ": ");
  ASSERT_NE(at, std::string::npos) << log;
  std::string line = log.substr(at, log.find('\n', at) - at);
  for (char& c : line) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_NE(line.find("auditoria_item"), std::string::npos) << line;
  EXPECT_FALSE(Stored("getVd_Fornecedor", "P1", "F1"));
}

}  // namespace
}  // namespace server::test
