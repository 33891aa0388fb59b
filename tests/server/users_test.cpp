// Named users at the real server, on each store: local users made with 'user add' sign in at
// /login; a consulta user's save is refused and stores nothing, an edicao user's save is stored
// and audited under the person's name; sessions end at /logout and when idle, are shared by the
// servers of one store and outlive a restart; a browser's cookie is taken only with the cross-site
// rules; failed sign-ins lead to 429; a reload revokes tokens but not sessions; and, with the
// throwaway directory (PDI_TEST_LDAP_URI), a directory user's save is audited as the directory
// spells the name.
#include <gtest/gtest.h>
#include <simdjson.h>

#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "ServiceFixture.h"

namespace server::test {
namespace {

using host::wire::ChangeOp;
using host::wire::JsonRpcParam;
using host::wire::JsonRpcRequest;

// Adds a local user to the store at db with the password on standard input.
void AddUser(const std::string& db, const std::string& name, const std::string& role, const std::string& password) {
  const CommandResult added =
      RunServerCommand({"user", "add", "--db", db, name, "--role", role, "--password-stdin"}, password + "\n");
  ASSERT_EQ(added.status, 0) << added.output;
}

struct SignedIn {
  int status = 0;
  std::string token, user, role, expires, cookie, error, retryAfter;
};

class UsersTest : public ServiceFixture {
 protected:
  std::vector<std::string> ExtraArgs() override {
    AddUser(db_, "Maria.Silva", "edicao", "senha-da-maria");
    AddUser(db_, "joao", "consulta", "senha-do-joao");
    return ServerArgs();
  }
  virtual std::vector<std::string> ServerArgs() { return {}; }

  static SignedIn SignIn(httplib::Client& http, const std::string& user, const std::string& password,
                         const httplib::Headers& headers = {}, const std::string& type = "application/json") {
    std::string body = "{\"user\":";
    host::wire::PacketWriter::AppendJsonString(body, user);
    body += ",\"password\":";
    host::wire::PacketWriter::AppendJsonString(body, password);
    body += "}";
    const auto res = http.Post("/login", headers, body, type.c_str());
    SignedIn out;
    if (!res) return out;
    out.status = res->status;
    out.cookie = res->get_header_value("Set-Cookie");
    out.retryAfter = res->get_header_value("Retry-After");
    simdjson::dom::parser parser;
    simdjson::dom::object object;
    if (parser.parse(res->body).get(object) != simdjson::SUCCESS) return out;
    std::string_view text;
    if (object["token"].get(text) == simdjson::SUCCESS) out.token = text;
    if (object["user"].get(text) == simdjson::SUCCESS) out.user = text;
    if (object["role"].get(text) == simdjson::SUCCESS) out.role = text;
    if (object["expires"].get(text) == simdjson::SUCCESS) out.expires = text;
    if (object["error"].get(text) == simdjson::SUCCESS) out.error = text;
    return out;
  }
  SignedIn SignIn(const std::string& user, const std::string& password) { return SignIn(rpc_->Http(), user, password); }

  // A call with headers (an Authorization or a Cookie); its HTTP status and body.
  static std::pair<int, std::string> Post(httplib::Client& http, const httplib::Headers& headers,
                                          const std::string& body, const std::string& type = "application/json") {
    const auto res = http.Post(ServerProcess::Path(), headers, body, type.c_str());
    return res ? std::make_pair(res->status, res->body) : std::make_pair(0, std::string());
  }
  static httplib::Headers Bearer(const std::string& token) { return {{"Authorization", "Bearer " + token}}; }
  static std::string SaveBody(const std::string& product, const std::string& supplier) {
    return JsonRpcRequest::Write(1, "SetFornecedor",
                                 {Changes(SupplierFields(), {{ChangeOp::Insert, SupplierRow(product, supplier)}})});
  }
  static std::string CheckBody(const std::string& product, const std::string& supplier) {
    return JsonRpcRequest::Write(2, "getVd_Fornecedor", {JsonRpcParam::Text(product), JsonRpcParam::Text(supplier)});
  }
  bool StoredAs(const std::string& token, const std::string& product, const std::string& supplier) {
    const auto [status, body] = Post(rpc_->Http(), Bearer(token), CheckBody(product, supplier));
    EXPECT_EQ(status, 200) << body;
    return body.find(R"("rows":[])") == std::string::npos;
  }
};
INSTANTIATE_TEST_SUITE_P(Stores, UsersTest, ::testing::Values(StoreKind::Sqlite, StoreKind::Postgres),
                         StoreParamName());

TEST_P(UsersTest, AConsultaSaveIsRefusedAndAnEdicaoSaveIsStoredUnderThePersonsName) {
  auto& http = rpc_->Http();
  EXPECT_EQ(Post(http, {}, CheckBody("P1", "F1")).first, 401);
  EXPECT_EQ(http.Get(ServerProcess::Path())->status, 401);

  const SignedIn joao = SignIn("joao", "senha-do-joao");
  ASSERT_EQ(joao.status, 200) << joao.error;
  EXPECT_EQ(joao.role, "consulta");
  EXPECT_EQ(joao.cookie, "pdi_session=" + joao.token + "; HttpOnly; SameSite=Strict; Path=/; Max-Age=43200");
  EXPECT_EQ(joao.expires.size(), 24u) << joao.expires;
  // A consulta user looks, checks and reads history; a save is refused and stores nothing.
  for (const std::string& body : {CheckBody("P1", "F1"), JsonRpcRequest::Write(3, "getDados", {}),
                                   JsonRpcRequest::Write(4, "getHistorico", {JsonRpcParam::Text("P1")})}) {
    const auto [status, answer] = Post(http, Bearer(joao.token), body);
    EXPECT_EQ(status, 200);
    EXPECT_NE(answer.find(R"("ok":true)"), std::string::npos) << answer.substr(0, 200);
  }
  const auto [refusedStatus, refused] = Post(http, Bearer(joao.token), SaveBody("P1", "F1"));
  EXPECT_EQ(refusedStatus, 200);
  EXPECT_NE(refused.find(R"("ok":false,"error":"O usuário joao tem acesso somente para consulta.")"),
            std::string::npos)
      << refused;
  EXPECT_FALSE(StoredAs(joao.token, "P1", "F1"));

  const SignedIn maria = SignIn("maria.silva", "senha-da-maria");
  ASSERT_EQ(maria.status, 200) << maria.error;
  EXPECT_EQ(maria.user, "Maria.Silva");
  EXPECT_EQ(maria.role, "edicao");
  EXPECT_NE(Post(http, Bearer(maria.token), SaveBody("P1", "F1")).second.find(R"("ok":true)"), std::string::npos);
  EXPECT_TRUE(StoredAs(joao.token, "P1", "F1"));
  const CommandResult audit = Audit();
  EXPECT_NE(audit.output.find("  user Maria.Silva (local user)\n  insert  product P1  item F1"), std::string::npos)
      << audit.output;
  const auto [historyStatus, history] =
      Post(http, Bearer(joao.token), JsonRpcRequest::Write(5, "getHistorico", {JsonRpcParam::Text("P1")}));
  EXPECT_NE(history.find(R"(","Maria.Silva","127.0.0.1:)"), std::string::npos) << history;

  // Unknown name and wrong password: one answer. After sign-out the token is gone.
  const SignedIn unknown = SignIn("ninguem", "senha-do-joao");
  const SignedIn wrong = SignIn("joao", "senha-errada");
  EXPECT_EQ(unknown.status, 401);
  EXPECT_EQ(unknown.error, "Usuário ou senha inválidos.");
  EXPECT_EQ(wrong.status, unknown.status);
  EXPECT_EQ(wrong.error, unknown.error);
  const auto out = http.Post("/logout", Bearer(maria.token), "", "application/json");
  ASSERT_TRUE(out);
  EXPECT_EQ(out->status, 200);
  EXPECT_EQ(out->get_header_value("Set-Cookie"), "pdi_session=; HttpOnly; SameSite=Strict; Path=/; Max-Age=0");
  EXPECT_EQ(Post(http, Bearer(maria.token), CheckBody("P1", "F1")).first, 401);

  // Every sign-in is logged with the address and the name; the refused save too (each line is
  // written after its answer).
  for (const char* line : {"method=login", "outcome=ok: user \"maria.silva\" from 127.0.0.1:",
                            "outcome=refused: user \"ninguem\" from 127.0.0.1:",
                            "outcome=refused: O usuário joao tem acesso somente para consulta."}) {
    EXPECT_TRUE(process_->LogShows(line)) << process_->Log();
  }
  EXPECT_EQ(process_->Log().find("senha-d"), std::string::npos) << "a password reached the log";
}

TEST_P(UsersTest, ABrowsersCookieIsTakenOnlyFromThisSiteAndAsJson) {
  auto& http = rpc_->Http();
  const std::string host = "127.0.0.1:" + std::to_string(process_->Port());
  const SignedIn joao = SignIn("joao", "senha-do-joao");
  ASSERT_EQ(joao.status, 200);
  const httplib::Headers cookie = {{"Cookie", "tema=escuro; pdi_session=" + joao.token}};
  EXPECT_EQ(Post(http, cookie, CheckBody("P1", "F1")).first, 200);
  EXPECT_EQ(http.Get(ServerProcess::Path(), cookie)->status, 200);
  httplib::Headers sameSite = cookie;
  sameSite.emplace("Origin", "https://" + host);
  EXPECT_EQ(Post(http, sameSite, CheckBody("P1", "F1")).first, 200);

  for (const std::string& origin : {std::string("https://evil.example"), std::string("null"), "http://" + host + ".evil.example"}) {
    httplib::Headers foreign = cookie;
    foreign.emplace("Origin", origin);
    EXPECT_EQ(Post(http, foreign, CheckBody("P1", "F1")).first, 403) << origin;
    EXPECT_EQ(SignIn(http, "joao", "senha-do-joao", {{"Origin", origin}}).status, 403) << origin;
  }
  for (const std::string type : {"text/plain", "application/x-www-form-urlencoded", "multipart/form-data"}) {
    EXPECT_EQ(Post(http, cookie, CheckBody("P1", "F1"), type).first, 403) << type;
    EXPECT_EQ(SignIn(http, "joao", "senha-do-joao", {}, type).status, 403) << type;
  }
  EXPECT_EQ(Post(http, {{"Cookie", "pdi_session=" + joao.token.substr(1) + "x"}}, CheckBody("P1", "F1")).first, 401);
  // A sign-out by cookie follows the same rules; then the cookie lets nobody in.
  const auto forged = http.Post("/logout", {{"Cookie", "pdi_session=" + joao.token}}, "", "text/plain");
  EXPECT_EQ(forged->status, 403);
  EXPECT_EQ(http.Post("/logout", cookie, "{}", "application/json")->status, 200);
  EXPECT_EQ(Post(http, cookie, CheckBody("P1", "F1")).first, 401);
}

TEST_P(UsersTest, SessionsAreSharedByTheServersOfAStoreAndOutliveARestart) {
  const SignedIn joao = SignIn("joao", "senha-do-joao");
  ASSERT_EQ(joao.status, 200);
  ServerProcess other(ServerBinary(), db_);  // another server on the same store
  httplib::Client otherHttp("127.0.0.1", other.Port());
  EXPECT_EQ(Post(otherHttp, Bearer(joao.token), CheckBody("P1", "F1")).first, 200);

  EXPECT_EQ(process_->Stop(), 0);
  process_ = std::make_unique<ServerProcess>(ServerBinary(), db_);
  httplib::Client restarted("127.0.0.1", process_->Port());
  EXPECT_EQ(Post(restarted, Bearer(joao.token), CheckBody("P1", "F1")).first, 200);
  EXPECT_EQ(other.Stop(), 0);
}

TEST_P(UsersTest, UserCommandsManageLocalUsersWhileTheServerRuns) {
  const auto user = [&](std::vector<std::string> args, const std::string& input = {}) {
    args.insert(args.begin() + 1, {"--db", db_});
    args.insert(args.begin(), "user");
    return RunServerCommand(args, input);
  };
  const CommandResult shortPassword = user({"add", "bia", "--password-stdin"}, "curta\n");
  EXPECT_EQ(shortPassword.status, 2);
  EXPECT_NE(shortPassword.output.find("at least 10 characters (this one has 5)"), std::string::npos);
  for (const std::string& name : std::vector<std::string>{"maria)(uid=*", "uid=x,dc=br", "a b", std::string(65, 'a')}) {
    EXPECT_EQ(user({"add", name, "--password-stdin"}, "senha-boa-123\n").status, 2) << name;
  }
  EXPECT_NE(user({"add", "MARIA.SILVA", "--password-stdin"}, "senha-boa-123\n").output.find("already exists"),
            std::string::npos);

  // Disabling ends the person's sessions in the store and refuses their next sign-in.
  ASSERT_EQ(SignIn("joao", "senha-do-joao").status, 200);
  const CommandResult disabled = user({"disable", "joao"});
  EXPECT_EQ(disabled.status, 0);
  EXPECT_NE(disabled.output.find("1 open session ended"), std::string::npos) << disabled.output;
  EXPECT_EQ(SignIn("joao", "senha-do-joao").status, 401);
  EXPECT_EQ(user({"enable", "joao"}).status, 0);
  EXPECT_EQ(user({"passwd", "Joao", "--password-stdin"}, "outra-senha-do-joao\n").status, 0);
  EXPECT_EQ(SignIn("joao", "senha-do-joao").status, 401);
  EXPECT_EQ(user({"role", "joao", "--role", "edicao"}).status, 0);
  EXPECT_EQ(SignIn("joao", "outra-senha-do-joao").role, "edicao");
  const CommandResult list = user({"list"});
  EXPECT_NE(list.output.find("Maria.Silva  edicao  enabled"), std::string::npos) << list.output;
  EXPECT_NE(list.output.find("joao  edicao  enabled"), std::string::npos) << list.output;
  EXPECT_EQ(list.output.find("senha"), std::string::npos);
}

class ShortSessionsTest : public UsersTest {
 protected:
  std::vector<std::string> ServerArgs() override { return {"--session-idle", "2", "--session-max", "60"}; }
};
INSTANTIATE_TEST_SUITE_P(Stores, ShortSessionsTest, ::testing::Values(StoreKind::Sqlite, StoreKind::Postgres),
                         StoreParamName());

TEST_P(ShortSessionsTest, AnIdleSessionEndsAndRepeatedFailuresGet429) {
  const SignedIn joao = SignIn("joao", "senha-do-joao");
  ASSERT_EQ(joao.status, 200);
  EXPECT_EQ(Post(rpc_->Http(), Bearer(joao.token), CheckBody("P1", "F1")).first, 200);
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  EXPECT_EQ(Post(rpc_->Http(), Bearer(joao.token), CheckBody("P1", "F1")).first, 401);

  for (int i = 0; i < 5; ++i) EXPECT_EQ(SignIn("joao", "errada").status, 401);
  const SignedIn locked = SignIn("joao", "senha-do-joao");
  EXPECT_EQ(locked.status, 429);
  EXPECT_EQ(locked.retryAfter, "300");
  EXPECT_NE(locked.error.find("Muitas tentativas"), std::string::npos) << locked.error;
  EXPECT_EQ(SignIn("maria.silva", "senha-da-maria").status, 200);
}

// A reload that replaces the tokens file: the revoked token is refused from the next request, the
// new one let in, and the sessions and sign-ins of people go on as before.
class ReloadUsersTest : public UsersTest {
 protected:
  static constexpr const char* kOld = "tok-old-service-7Rw2Lq9Z";
  static constexpr const char* kNew = "tok-new-service-4Hx8Pm3K";
  std::vector<std::string> ServerArgs() override {
    tokens_ = dir_.File("tokens");
    std::ofstream(tokens_) << kOld << " servico\n";
    std::filesystem::permissions(tokens_, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    return {"--tokens", tokens_};
  }
  std::string tokens_;
};
INSTANTIATE_TEST_SUITE_P(Stores, ReloadUsersTest, ::testing::Values(StoreKind::Sqlite), StoreParamName());

TEST_P(ReloadUsersTest, AReloadRevokesATokenWhileSessionsAndSignInGoOn) {
  const SignedIn joao = SignIn("joao", "senha-do-joao");
  ASSERT_EQ(joao.status, 200);
  const auto status = [this](const std::string& token) {
    return Post(rpc_->Http(), Bearer(token), CheckBody("P1", "F1")).first;
  };
  EXPECT_EQ(status(kOld), 200);
  EXPECT_EQ(status(kNew), 401);

  std::ofstream(tokens_, std::ios::trunc) << kNew << " servico\n";
  kill(process_->Pid(), SIGHUP);
  ASSERT_TRUE(process_->LogShows("reloaded", std::chrono::seconds(20))) << process_->Log();
  EXPECT_EQ(status(kOld), 401);
  EXPECT_EQ(status(kNew), 200);
  EXPECT_EQ(status(joao.token), 200);
  EXPECT_EQ(SignIn("maria.silva", "senha-da-maria").status, 200);
}

class DirectoryUsersTest : public UsersTest {
 protected:
  void SetUp() override {
    const char* uri = std::getenv("PDI_TEST_LDAP_URI");
    if (!uri || !*uri) {
      GTEST_SKIP() << "directory tests skipped: PDI_TEST_LDAP_URI is not set (scripts/test.sh starts a throwaway "
                      "slapd and sets it)";
    }
    uri_ = uri;
    UsersTest::SetUp();
  }
  std::vector<std::string> ServerArgs() override {
    return {"--ldap-uri", uri_, "--ldap-user-dn", "uid={user},ou=pessoas,dc=empresa,dc=br", "--ldap-group-edicao",
            "cn=edicao,ou=grupos,dc=empresa,dc=br", "--ldap-group-consulta", "cn=consulta,ou=grupos,dc=empresa,dc=br"};
  }
  std::string uri_;
};
INSTANTIATE_TEST_SUITE_P(Stores, DirectoryUsersTest, ::testing::Values(StoreKind::Sqlite, StoreKind::Postgres),
                         StoreParamName());

TEST_P(DirectoryUsersTest, ADirectoryUsersSaveIsAuditedAsTheDirectorySpellsTheName) {
  const SignedIn maria = SignIn("MARIA", "senha-maria-2024");
  ASSERT_EQ(maria.status, 200) << maria.error;
  EXPECT_EQ(maria.user, "maria");
  EXPECT_NE(Post(rpc_->Http(), Bearer(maria.token), SaveBody("P3", "F2")).second.find(R"("ok":true)"),
            std::string::npos);
  EXPECT_NE(Audit().output.find("  user maria (directory user)\n  insert  product P3  item F2"), std::string::npos);
  EXPECT_EQ(SignIn("pedro", "senha-pedro-2024").status, 403);
  const SignedIn ana = SignIn("ana", "senha-ana-2024");
  EXPECT_EQ(ana.role, "edicao");
  EXPECT_NE(process_->Log().find("without TLS"), std::string::npos) << "loopback directory without StartTLS";
}

}  // namespace
}  // namespace server::test
