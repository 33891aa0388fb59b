// Signing in, on each store, without HTTP: local users and their roles, the same refusal for an
// unknown name and a wrong password, names that could reach a query refused before anything is
// asked, sessions that expire idle or old and end at sign-out on every server of the store, the
// lockout after failed sign-ins and its end; and, with the throwaway directory of
// scripts/test-directory.sh (PDI_TEST_LDAP_URI), directory users of each group and of none, and a
// directory that is down or silent.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include "ServerTestSupport.h"
#include "server/access/AccessControl.h"
#include "server/access/PasswordHash.h"
#include "server/service/AuditTime.h"

namespace server::test {
namespace {

constexpr int64_t kSecond = 1000;
const SessionLimits kLimits{std::chrono::seconds(600), std::chrono::seconds(3600)};

std::optional<std::string> LdapUri() {
  const char* uri = std::getenv("PDI_TEST_LDAP_URI");
  if (!uri || !*uri) return std::nullopt;
  return std::string(uri);
}

DirectoryOptions Company(std::string uri) {
  DirectoryOptions d;
  d.uri = std::move(uri);
  d.userDn = "uid={user},ou=pessoas,dc=empresa,dc=br";
  d.groupEdicao = "cn=edicao,ou=grupos,dc=empresa,dc=br";
  d.groupConsulta = "cn=consulta,ou=grupos,dc=empresa,dc=br";
  d.timeout = std::chrono::seconds(1);
  return d;
}

class SignInTest : public ::testing::TestWithParam<StoreKind> {
 protected:
  void SetUp() override {
    PDI_SKIP_UNLESS_STORE(GetParam());
    database_ = std::make_unique<TestDatabase>(GetParam(), dir_);
    store_ = Store::Open(database_->Location(), StoreOptions{.create = true});
    AddUser("Maria.Silva", "edicao", "senha-da-maria");
    AddUser("carlos", "consulta", "senha-do-carlos");
  }
  void AddUser(const std::string& name, const std::string& role, const std::string& password, bool disabled = false) {
    const std::string now = AuditTime::Now();
    ASSERT_TRUE(store_->OpenSession()->AddUser(
        UserRecord{UserKey(name), name, role, PasswordHash::Hash(password), disabled, now, now}));
  }
  std::unique_ptr<AccessControl> Access(const DirectoryOptions& directory = {}) {
    return std::make_unique<AccessControl>(*store_, directory, kLimits, [this] { return now_; });
  }

  TempDir dir_;
  std::unique_ptr<TestDatabase> database_;
  std::unique_ptr<Store> store_;
  int64_t now_ = 1'700'000'000'000;
};
INSTANTIATE_TEST_SUITE_P(Stores, SignInTest, ::testing::Values(StoreKind::Sqlite, StoreKind::Postgres),
                         StoreParamName());

TEST_P(SignInTest, LocalUsersSignInWithTheirRoleAndEveryWrongGuessGetsTheSameAnswer) {
  AddUser("ze", "edicao", "senha-do-ze-1", true);
  const auto access = Access();
  EXPECT_TRUE(access->Required(nullptr));

  const SignInOutcome maria = access->SignIn("MARIA.silva", "senha-da-maria", "10.0.0.1");
  ASSERT_EQ(maria.status, 200) << maria.log;
  EXPECT_EQ(maria.who.user, "Maria.Silva");
  EXPECT_EQ(maria.who.role, Role::kEdicao);
  EXPECT_EQ(maria.who.access, AccessKind::kLocal);
  EXPECT_TRUE(Sessions::LooksLikeToken(maria.token)) << maria.token;
  EXPECT_EQ(maria.expires, now_ + 3600 * kSecond);
  EXPECT_EQ(access->SignIn("carlos", "senha-do-carlos", "10.0.0.1").who.role, Role::kConsulta);

  // Unknown, wrong, disabled, empty: one answer.
  for (const auto& [name, password] : std::vector<std::pair<std::string, std::string>>{
           {"ninguem", "senha-qualquer"}, {"carlos", "senha-errada"}, {"ze", "senha-do-ze-1"}, {"carlos", ""}}) {
    const SignInOutcome refused = access->SignIn(name, password, "10.0.0.1");
    EXPECT_EQ(refused.status, 401) << name;
    EXPECT_EQ(refused.message, AccessControl::kWrongPassword) << name;
    EXPECT_TRUE(refused.token.empty());
  }
  // Names that could change a directory query or a DN are refused before anything is asked.
  for (const std::string& name : std::vector<std::string>{"*", "maria)(uid=*", "uid=maria,ou=x", "maria\\2a",
                                                         "maria silva", "joão", "", std::string(65, 'a'),
                                                         std::string("ma\0ria", 6)}) {
    const SignInOutcome refused = access->SignIn(name, "senha-qualquer", "10.0.0.1");
    EXPECT_EQ(refused.status, 400) << name;
    EXPECT_NE(refused.message.find("nome de usuário"), std::string::npos) << refused.message;
  }
  // The store keeps neither a password nor a session token.
  const std::string stored = database_->One("SELECT DSSENHA FROM USUARIO WHERE NMCHAVE = 'carlos'");
  EXPECT_EQ(stored.rfind("$argon2id$", 0), 0u) << stored;
  EXPECT_EQ(database_->One("SELECT COUNT(*) FROM SESSAO WHERE CDSESSAO = '" + maria.token + "'"), "0");
  EXPECT_EQ(database_->One("SELECT COUNT(*) FROM SESSAO WHERE CDSESSAO = '" + Sessions::HashOf(maria.token) + "'"),
            "1");
}

TEST_P(SignInTest, SessionsExpireIdleOrOldEndAtSignOutOnEveryServerAndOutliveARestart) {
  const auto first = Access();
  const auto second = Access();  // another server on the same store
  const std::string token = first->SignIn("carlos", "senha-do-carlos", "10.0.0.1").token;
  const std::string bearer = "Bearer " + token;
  ASSERT_EQ(second->FromAuthorization(bearer, nullptr).value().user, "carlos");
  EXPECT_EQ(second->FromSession(token).value().role, Role::kConsulta);
  EXPECT_FALSE(second->FromAuthorization("Bearer " + token.substr(1) + "A", nullptr));
  EXPECT_FALSE(second->FromAuthorization(token, nullptr));

  // Used within every idle period, it lasts until its maximum.
  for (int minute = 9; minute < 60; minute += 9) {
    now_ += 9 * 60 * kSecond;
    EXPECT_TRUE(first->FromSession(token)) << minute;
  }
  now_ += 9 * 60 * kSecond;  // 63 minutes after sign-in
  EXPECT_FALSE(first->FromSession(token));
  EXPECT_FALSE(second->FromSession(token));

  // Idle for longer than the limit: ended, also for a server that just started.
  const std::string idle = first->SignIn("carlos", "senha-do-carlos", "10.0.0.1").token;
  EXPECT_TRUE(Access()->FromSession(idle));
  now_ += 601 * kSecond;
  EXPECT_FALSE(Access()->FromSession(idle));

  // Signed out on one server: the other follows once it asks the store again.
  const std::string ended = first->SignIn("carlos", "senha-do-carlos", "10.0.0.1").token;
  ASSERT_TRUE(second->FromSession(ended));
  EXPECT_TRUE(first->SignOut(ended));
  EXPECT_FALSE(first->FromSession(ended));
  now_ += first->OpenSessions().Recheck().count();
  EXPECT_FALSE(second->FromSession(ended));
  EXPECT_FALSE(first->SignOut(ended));
}

TEST_P(SignInTest, FailedSignInsLockANameOrAnAddressOutForFiveMinutes) {
  const auto access = Access();
  for (int i = 0; i < 5; ++i) EXPECT_EQ(access->SignIn("carlos", "errada-" + std::to_string(i), "10.0.0.1").status, 401);
  // Locked for this name from any address, whatever the password.
  for (const std::string address : {"10.0.0.1", "10.0.0.2"}) {
    const SignInOutcome locked = access->SignIn("CARLOS", "senha-do-carlos", address);
    EXPECT_EQ(locked.status, 429);
    EXPECT_EQ(locked.retryAfter, 300);
  }
  EXPECT_EQ(access->SignIn("maria.silva", "senha-da-maria", "10.0.0.1").status, 200);
  now_ += 299 * kSecond;
  EXPECT_EQ(access->SignIn("carlos", "senha-do-carlos", "10.0.0.1").retryAfter, 1);
  // Its end: the right password works again and forgets the failures.
  now_ += 1 * kSecond;
  EXPECT_EQ(access->SignIn("carlos", "senha-do-carlos", "10.0.0.1").status, 200);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(access->SignIn("carlos", "errada", "10.0.0.1").status, 401);
  EXPECT_EQ(access->SignIn("carlos", "senha-do-carlos", "10.0.0.1").status, 200);

  // Twenty failures from one address lock it for every name; other addresses go on.
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(access->SignIn("quem" + std::to_string(i), "errada", "10.0.0.9").status, 401);
  }
  EXPECT_EQ(access->SignIn("maria.silva", "senha-da-maria", "10.0.0.9").status, 429);
  EXPECT_EQ(access->SignIn("maria.silva", "senha-da-maria", "10.0.0.8").status, 200);
  now_ += 300 * kSecond;
  EXPECT_EQ(access->SignIn("maria.silva", "senha-da-maria", "10.0.0.9").status, 200);
}

TEST_P(SignInTest, DirectoryUsersSignInByGroupAndLocalUsersStillDoWhenTheDirectoryIsDown) {
  const auto uri = LdapUri();
  if (!uri) GTEST_SKIP() << "directory tests skipped: PDI_TEST_LDAP_URI is not set (scripts/test.sh starts a "
                            "throwaway slapd and sets it)";
  const auto access = Access(Company(*uri));
  const auto signIn = [&](const std::string& name, const std::string& password) {
    return access->SignIn(name, password, "10.0.0.1");
  };
  const SignInOutcome maria = signIn("MARIA", "senha-maria-2024");
  ASSERT_EQ(maria.status, 200) << maria.log;
  EXPECT_EQ(maria.who.user, "maria");  // as the directory spells it
  EXPECT_EQ(maria.who.role, Role::kEdicao);
  EXPECT_EQ(maria.who.access, AccessKind::kDirectory);
  EXPECT_EQ(signIn("joao", "senha-joao-2024").who.role, Role::kConsulta);
  EXPECT_EQ(signIn("ana", "senha-ana-2024").who.role, Role::kEdicao);  // in both groups
  const SignInOutcome pedro = signIn("pedro", "senha-pedro-2024");
  EXPECT_EQ(pedro.status, 403);
  EXPECT_NE(pedro.message.find("não pertence a nenhum dos grupos"), std::string::npos) << pedro.message;
  EXPECT_EQ(signIn("maria", "senha-errada").message, AccessControl::kWrongPassword);
  EXPECT_EQ(signIn("ninguem", "senha-maria-2024").status, 401);
  // An empty password would be an anonymous bind, which succeeds.
  EXPECT_EQ(signIn("maria", "").status, 401);
  for (const std::string name : {"*", "maria)(|(uid=*", "maria,ou=grupos"}) EXPECT_EQ(signIn(name, "x").status, 400);
  // A local user of the same name wins over the directory's.
  AddUser("joao", "edicao", "senha-local-do-joao");
  EXPECT_EQ(signIn("joao", "senha-local-do-joao").who.access, AccessKind::kLocal);
  EXPECT_EQ(signIn("joao", "senha-joao-2024").status, 401);

  // A directory nobody listens for, and one that takes the connection and never answers.
  const int silent = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(silent, 8), 0);
  getsockname(silent, reinterpret_cast<sockaddr*>(&address), &length);
  const std::string silentUri = "ldap://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
  const int closed = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in closedAddress{};
  closedAddress.sin_family = AF_INET;
  closedAddress.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(closed, reinterpret_cast<sockaddr*>(&closedAddress), sizeof closedAddress), 0);
  getsockname(closed, reinterpret_cast<sockaddr*>(&closedAddress), &length);
  const std::string closedUri = "ldap://127.0.0.1:" + std::to_string(ntohs(closedAddress.sin_port));

  for (const std::string& down : {closedUri, silentUri}) {
    const auto downAccess = Access(Company(down));
    const auto started = std::chrono::steady_clock::now();
    const SignInOutcome unavailable = downAccess->SignIn("maria", "senha-maria-2024", "10.0.0.1");
    EXPECT_EQ(unavailable.status, 503) << down << ": " << unavailable.log;
    EXPECT_NE(unavailable.message.find("diretório da empresa não respondeu"), std::string::npos);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30)) << "no deadline: " << down;
    EXPECT_EQ(downAccess->SignIn("Maria.Silva", "senha-da-maria", "10.0.0.1").status, 200);
  }
  close(silent);
  close(closed);
}

}  // namespace
}  // namespace server::test
