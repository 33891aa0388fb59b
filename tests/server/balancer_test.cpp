// Several servers on one PostgreSQL database behind HAProxy, as a company runs them: scripted
// clients save through the balancer while one server is killed (SIGKILL) under them. Every save
// answered ok:true is in the database afterwards, no packet is half stored, and calls go on
// through the servers left. HAProxy runs in the foreground as a child process on a configuration
// written to the test's folder; everything listens on 127.0.0.1, and every count and wait is
// bounded.
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <iostream>
#include <latch>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include "ServiceFixture.h"

extern char** environ;

namespace server::test {
namespace {

using testsupport::FreePort;

using host::wire::ChangeOp;

// The haproxy program, or "" when it is not installed.
std::string HaproxyBinary() {
  for (const char* path : {"/usr/sbin/haproxy", "/usr/bin/haproxy", "/usr/local/sbin/haproxy"}) {
    if (access(path, X_OK) == 0) return path;
  }
  return "";
}

// HAProxy in front of servers on loopback ports: round robin, a health check on the service's
// GET every 200 ms (one failure takes a server out), connection failures retried on another
// server. Its log (one line per request, with the server that took it) goes to a file. The
// destructor stops it (SIGTERM, then SIGKILL after a few seconds).
class Haproxy {
 public:
  Haproxy(const TempDir& dir, const std::vector<int>& serverPorts)
      : config_(dir.File("haproxy.cfg")), log_(dir.File("haproxy.log")) {
    for (int attempt = 0; attempt < 5; ++attempt) {
      port_ = FreePort();
      WriteConfig(serverPorts);
      if (Start()) return;
      Stop();
      if (Log().find("annot bind") == std::string::npos) break;  // not a port taken meanwhile
    }
    throw std::runtime_error("HAProxy did not start; its log:\n" + Log());
  }
  ~Haproxy() { Stop(); }
  Haproxy(const Haproxy&) = delete;
  Haproxy& operator=(const Haproxy&) = delete;

  int Port() const { return port_; }
  std::string Log() const {
    std::ifstream in(log_);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

 private:
  void WriteConfig(const std::vector<int>& serverPorts) const {
    std::ofstream out(config_, std::ios::trunc);
    out << "global\n"
           "    maxconn 512\n"
           "    log stderr format raw local0 info\n"
           "defaults\n"
           "    mode http\n"
           "    log global\n"
           "    option httplog\n"
           "    timeout connect 2s\n"
           "    timeout client 30s\n"
           "    timeout server 30s\n"
           "    retries 3\n"
           "    option redispatch 1\n"
           "frontend pdi07310\n"
           "    bind 127.0.0.1:"
        << port_
        << "\n"
           "    default_backend servers\n"
           "backend servers\n"
           "    balance roundrobin\n"
           "    option httpchk GET "
        << ServerProcess::Path()
        << "\n"
           "    http-check expect status 200\n"
           "    default-server inter 200ms fall 1 rise 1 on-marked-down shutdown-sessions\n";
    for (size_t i = 0; i < serverPorts.size(); ++i) {
      out << "    server s" << i << " 127.0.0.1:" << serverPorts[i] << " check\n";
    }
  }

  // Starts haproxy -db and waits (up to 20 s) until the service answers through it.
  bool Start() {
    std::vector<std::string> args = {HaproxyBinary(), "-db", "-f", config_};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    const int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
      pid_ = -1;
      return false;
    }
    httplib::Client probe("127.0.0.1", port_);
    probe.set_connection_timeout(1, 0);
    probe.set_read_timeout(2, 0);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
      }
      const auto res = probe.Get(ServerProcess::Path());
      if (res && res->status == 200) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (waitpid(pid_, nullptr, WNOHANG) != pid_) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
  }

  std::string config_;
  std::string log_;
  int port_ = 0;
  pid_t pid_ = -1;
};

// Behind a balancer every connection comes from the balancer's address.
const std::vector<std::string> kBehindBalancer = {"--max-connections-per-client", "0"};

class BalancerTest : public ServiceFixture {
 protected:
  void SetUp() override {
    if (HaproxyBinary().empty()) {
      GTEST_SKIP() << "HAProxy test skipped: haproxy is not installed (scripts/setup.sh installs the Debian package)";
    }
    ServiceFixture::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    WriteGridMasterFile(dir_.File("grid.db"));
    const CommandResult imported = RunServerCommand({"import-master", "--db", db_, dir_.File("grid.db")});
    ASSERT_EQ(imported.status, 0) << imported.output;
  }
  std::vector<std::string> ExtraArgs() override { return kBehindBalancer; }

  // Number of SetFornecedor calls a server's log shows.
  static int SavesLogged(const ServerProcess& server) {
    const std::string log = server.Log();
    int saves = 0;
    for (size_t at = log.find("method=SetFornecedor"); at != std::string::npos;
         at = log.find("method=SetFornecedor", at + 1)) {
      ++saves;
    }
    return saves;
  }
};

// The PostgreSQL store is the one several servers share.
INSTANTIATE_TEST_SUITE_P(Stores, BalancerTest, ::testing::Values(StoreKind::Postgres), StoreParamName());

TEST_P(BalancerTest, ServerKilledBehindHaproxyLosesNoAnsweredSaveAndCallsGoOnThroughTheOthers) {
  // Three servers on the one database: the fixture's and two more; the second one is killed.
  ServerProcess second(ServerBinary(), db_, kBehindBalancer);
  ServerProcess third(ServerBinary(), db_, kBehindBalancer);
  Haproxy haproxy(dir_, {process_->Port(), second.Port(), third.Port()});

  // Each packet inserts three pairs; each client saves its own packets, one after the other, and
  // moves on when a save gets no answer from the service (its outcome is then unknown).
  constexpr int kClients = 6;
  constexpr int kPacketsPerClient = 60;  // 6 x 60 x 3 = 1080 of the grid's 1200 pairs
  constexpr int kKillAfter = 90;         // saves answered before the kill
  std::atomic<int> answered{0};
  std::atomic<bool> killed{false};
  std::mutex mutex;
  std::vector<int> answeredPackets;
  std::vector<int> okAfterKill(kClients, 0), unansweredAfterKill(kClients, 0);
  int unanswered = 0;
  std::vector<std::string> refusals;
  std::latch start(kClients);
  std::vector<std::thread> threads;
  for (int t = 0; t < kClients; ++t) {
    threads.emplace_back([&, t] {
      RpcClient rpc(haproxy.Port());
      rpc.Http().set_connection_timeout(5, 0);
      rpc.Http().set_read_timeout(30, 0);
      start.arrive_and_wait();
      for (int i = 0; i < kPacketsPerClient; ++i) {
        const int packet = t * kPacketsPerClient + i;
        const bool afterKill = killed.load();
        const Answer a = rpc.CallThroughProxy(
            "SetFornecedor", {Changes(SupplierFields(), {{ChangeOp::Insert, GridRow(packet * 3)},
                                                          {ChangeOp::Insert, GridRow(packet * 3 + 1)},
                                                          {ChangeOp::Insert, GridRow(packet * 3 + 2)}})});
        std::lock_guard<std::mutex> lock(mutex);
        if (a.ok) {
          answeredPackets.push_back(packet);
          ++answered;
          if (afterKill) ++okAfterKill[static_cast<size_t>(t)];
        } else if (a.httpStatus == 200) {
          refusals.push_back(a.body);  // every pair is new: the service has no reason to refuse
        } else {
          ++unanswered;
          if (afterKill) ++unansweredAfterKill[static_cast<size_t>(t)];
        }
      }
    });
  }
  for (int i = 0; i < 6000 && answered.load() < kKillAfter; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const int savesOnKilled = SavesLogged(second);
  const int savesOnOthersAtKill = SavesLogged(*process_) + SavesLogged(third);
  ASSERT_EQ(kill(second.Pid(), SIGKILL), 0);
  EXPECT_EQ(second.Stop(), 128 + SIGKILL);
  killed = true;
  for (auto& t : threads) t.join();
  const int answeredCount = static_cast<int>(answeredPackets.size());

  EXPECT_TRUE(refusals.empty()) << refusals.front();
  EXPECT_GE(answeredCount, kKillAfter);
  // The balancer really spread the saves: the killed server had taken its share before it died.
  EXPECT_GT(savesOnKilled, 0) << haproxy.Log();

  // Every answered packet is in the database, whole; no packet at all is half stored.
  std::set<std::string> stored;
  for (const std::string& row : database_->Rows("SELECT CDPRODUTODES || '/' || CDFORNECED FROM DESONERA_FORNECEDOR")) {
    stored.insert(row);
  }
  const auto pair = [](int n) { return ProductKey(n / kSuppliers) + "/" + SupplierKey(n % kSuppliers); };
  int lost = 0;
  for (const int packet : answeredPackets) {
    for (int k = 0; k < 3; ++k) {
      if (!stored.count(pair(packet * 3 + k))) ++lost;
    }
  }
  EXPECT_EQ(lost, 0) << "rows of answered saves missing from the database";
  int wholePackets = 0;
  for (int packet = 0; packet < kClients * kPacketsPerClient; ++packet) {
    int present = 0;
    for (int k = 0; k < 3; ++k) present += stored.count(pair(packet * 3 + k)) ? 1 : 0;
    EXPECT_TRUE(present == 0 || present == 3) << "packet " << packet << " has " << present << " of 3 rows";
    if (present == 3) ++wholePackets;
  }
  EXPECT_EQ(stored.size(), static_cast<size_t>(wholePackets) * 3);
  // Only saves under way on the killed server can go unanswered; those may or may not be stored.
  // A client may lose two: the one cut by the kill, and the next, when HAProxy had sent it to the
  // dead server, redispatched it, and then shut the session down as it marked the server down.
  EXPECT_LE(unanswered, 2 * kClients) << haproxy.Log();
  EXPECT_LE(wholePackets - answeredCount, unanswered);

  // Calls went on through the others: every client had saves answered after the kill, and the
  // two servers left took saves of their own after it.
  int answeredAfterKill = 0;
  for (int t = 0; t < kClients; ++t) {
    EXPECT_GT(okAfterKill[static_cast<size_t>(t)], 0) << "client " << t;
    answeredAfterKill += okAfterKill[static_cast<size_t>(t)];
  }
  EXPECT_GT(SavesLogged(*process_) + SavesLogged(third), savesOnOthersAtKill);
  RpcClient throughBalancer(haproxy.Port());
  const Answer listed = throughBalancer.CallThroughProxy("getFornecedor");
  ASSERT_TRUE(listed.ok) << listed.httpStatus << " " << listed.body.substr(0, 200);
  size_t gridRows = 0;
  for (const auto& row : ReadPacket(listed.dataJson).rows) gridRows += row[0].rfind("Q", 0) == 0 ? 1 : 0;
  EXPECT_EQ(gridRows, stored.size());
  EXPECT_EQ(third.Stop(), 0) << third.Log();

  std::cout << "[ balancer ] 3 servers behind HAProxy, one killed after " << savesOnKilled << " saves: " << answeredCount
            << " saves answered ok (" << answeredAfterKill << " after the kill), " << unanswered
            << " unanswered, all answered found; " << wholePackets << " packets stored in all\n";
}

}  // namespace
}  // namespace server::test
