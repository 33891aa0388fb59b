// Access tokens at the server: with --tokens every request needs a listed bearer token (else
// HTTP 401 and nothing else), the token's user goes to the audit trail; without it the server
// says at start-up that it accepts anyone.
#include <gtest/gtest.h>

#include <fstream>

#include "ServiceFixture.h"

namespace server::test {
namespace {

using host::wire::ChangeOp;
using host::wire::JsonRpcRequest;

class AccessTest : public ServiceFixture {
 protected:
  std::vector<std::string> ExtraArgs() override {
    WritePrivateFile(dir_.File("tokens.txt"),
                     "# desktops\ntok-maria-7Qx2Lp9v Maria da Silva\ntok-joao-3Kd8Wm1z joao\n"
                     "tok-leitor-5Rt7Yq2w painel da diretoria consulta\n");
    return {"--tokens", dir_.File("tokens.txt")};
  }
  // Posts body with an Authorization header (none when empty).
  httplib::Result Post(const std::string& authorization, const std::string& body) {
    httplib::Headers headers;
    if (!authorization.empty()) headers.emplace("Authorization", authorization);
    return rpc_->Http().Post(ServerProcess::Path(), headers, body, "application/json");
  }
  static std::string SaveBody(const std::string& product, const std::string& client) {
    return JsonRpcRequest::Write(1, "SetCliente", {Changes(ClientFields(), {{ChangeOp::Insert, ClientRow(product, client)}})});
  }
};

INSTANTIATE_TEST_SUITE_P(Stores, AccessTest, ::testing::Values(StoreKind::Sqlite, StoreKind::Postgres),
                         StoreParamName());

TEST_P(AccessTest, RequestsWithoutAListedTokenGet401AndReachNothing) {
  auto& http = rpc_->Http();
  for (const std::string header : {"", "Bearer", "Bearer tok-maria-7Qx2Lp9", "Basic tok-maria-7Qx2Lp9v",
                                   "tok-maria-7Qx2Lp9v", "Bearer tok-maria-7Qx2Lp9v junk"}) {
    httplib::Headers headers;
    if (!header.empty()) headers.emplace("Authorization", header);
    const auto get = http.Get(ServerProcess::Path(), headers);
    ASSERT_TRUE(get) << header;
    EXPECT_EQ(get->status, 401) << header;
    EXPECT_EQ(get->get_header_value("WWW-Authenticate"), "Bearer");
    EXPECT_EQ(get->body.find("getDados"), std::string::npos) << get->body;

    const auto save = Post(header, SaveBody("P1", "C1"));
    ASSERT_TRUE(save) << header;
    EXPECT_EQ(save->status, 401) << header;
    EXPECT_EQ(save->body, R"({"status":401,"error":"a valid access token is required"})");

    const auto load = Post(header, JsonRpcRequest::Write(2, "getDados", {}));
    ASSERT_TRUE(load);
    EXPECT_EQ(load->status, 401);
    const auto elsewhere = http.Get("/other", headers);
    ASSERT_TRUE(elsewhere);
    EXPECT_EQ(elsewhere->status, 401);
  }
  // Nothing was stored, and the log says why callers were turned away (never with the token).
  const auto check = Post("Bearer tok-joao-3Kd8Wm1z", JsonRpcRequest::Write(3, "getVd_Cliente", {host::wire::JsonRpcParam::Text("P1"),
                                                                                        host::wire::JsonRpcParam::Text("C1")}));
  ASSERT_TRUE(check);
  EXPECT_EQ(check->status, 200);
  EXPECT_NE(check->body.find(R"("rows":[])"), std::string::npos) << check->body;
  for (const char* line : {"accepts only requests carrying one of the 3 access tokens", "refused POST from 127.0.0.1:",
                            ": HTTP 401, no access token", ": HTTP 401, unknown access token"}) {
    EXPECT_TRUE(process_->LogShows(line)) << process_->Log();
  }
  const std::string log = process_->Log();
  EXPECT_EQ(log.find("tok-maria-7Qx2Lp9"), std::string::npos) << log;
}

TEST_P(AccessTest, ListedTokensAreServedAndTheirUsersGoToTheAuditTrail) {
  rpc_->Http().set_keep_alive(true);
  const auto get = rpc_->Http().Get(ServerProcess::Path(), {{"Authorization", "Bearer tok-maria-7Qx2Lp9v"}});
  ASSERT_TRUE(get);
  EXPECT_EQ(get->status, 200);
  // The service's description names the token's user (the desktop's Sobre shows it).
  EXPECT_NE(get->body.find(R"("user":"Maria da Silva")"), std::string::npos) << get->body;

  const auto first = Post("Bearer tok-maria-7Qx2Lp9v", SaveBody("P1", "C1"));
  ASSERT_TRUE(first);
  EXPECT_EQ(first->status, 200);
  EXPECT_NE(first->body.find(R"("ok":true)"), std::string::npos) << first->body;
  // A refused request with a body, then an accepted one on the same client: the refusal closes
  // its connection, so its unread body is never taken for the next request.
  const auto refused = Post("Bearer nope", SaveBody("P1", "C2"));
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->status, 401);
  const auto second = Post("bearer tok-joao-3Kd8Wm1z", SaveBody("P3", "C2"));
  ASSERT_TRUE(second);
  EXPECT_EQ(second->status, 200);
  EXPECT_NE(second->body.find(R"("ok":true)"), std::string::npos) << second->body;
  // A token of role consulta (the file's third column) looks but does not save.
  const auto reader = Post("Bearer tok-leitor-5Rt7Yq2w", SaveBody("P4", "C1"));
  ASSERT_TRUE(reader);
  EXPECT_NE(reader->body.find(R"("ok":false,"error":"O usuário painel da diretoria tem acesso somente para consulta.")"),
            std::string::npos)
      << reader->body;

  const CommandResult audit = Audit();
  ASSERT_EQ(audit.status, 0) << audit.output;
  EXPECT_NE(audit.output.find("SetCliente  client 127.0.0.1:"), std::string::npos) << audit.output;
  EXPECT_NE(audit.output.find("  user Maria da Silva\n  insert  product P1  item C1"), std::string::npos)
      << audit.output;
  EXPECT_NE(audit.output.find("  user joao\n  insert  product P3  item C2"), std::string::npos) << audit.output;
  EXPECT_EQ(audit.output.find("product P1  item C2"), std::string::npos) << audit.output;
  EXPECT_EQ(audit.output.find("product P4"), std::string::npos) << audit.output;
}

TEST(ServerAccess, WithoutTokensTheServerSaysItAcceptsAnyone) {
  TempDir dir;
  ServerProcess process(ServerBinary(), dir.File("s.db"));
  EXPECT_EQ(process.Stop(), 0);
  EXPECT_NE(process.Log().find("accepts requests from anyone who can reach 127.0.0.1 (no access tokens"),
            std::string::npos)
      << process.Log();
}

TEST(ServerAccess, ABadTokensFileStopsTheServerWithAMessage) {
  TempDir dir;
  WritePrivateFile(dir.File("bad.txt"), "tok-alone-0123456789\n");
  const CommandResult bad = RunServerCommand({"serve", "--db", dir.File("s.db"), "--tokens", dir.File("bad.txt")});
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.output.find(dir.File("bad.txt") + ", line 1: expected \"TOKEN USER\""), std::string::npos) << bad.output;
  const CommandResult shortToken = RunServerCommand({"serve", "--db", dir.File("s.db"), "--tokens", [&] {
    WritePrivateFile(dir.File("short.txt"), "tok-short alice\n");
    return dir.File("short.txt");
  }()});
  EXPECT_EQ(shortToken.status, 1);
  EXPECT_NE(shortToken.output.find("a token has at least 16 characters"), std::string::npos) << shortToken.output;
  std::ofstream(dir.File("open.txt")) << "tok-open-0123456789 alice\n";
  std::filesystem::permissions(dir.File("open.txt"), std::filesystem::perms(0644), std::filesystem::perm_options::replace);
  const CommandResult open = RunServerCommand({"serve", "--db", dir.File("s.db"), "--tokens", dir.File("open.txt")});
  EXPECT_EQ(open.status, 1);
  EXPECT_NE(open.output.find("can be read or written by other users (owned by "), std::string::npos) << open.output;
  EXPECT_NE(open.output.find(", mode 0644)"), std::string::npos) << open.output;
  const CommandResult missing = RunServerCommand({"serve", "--db", dir.File("s.db"), "--tokens", dir.File("none.txt")});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.output.find("cannot read the tokens file"), std::string::npos) << missing.output;
}

}  // namespace
}  // namespace server::test
