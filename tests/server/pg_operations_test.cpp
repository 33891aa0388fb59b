// PostgreSQL in operation: the server's budget of database connections (a slow reader holds none
// once its answer is read ahead; a call that finds none free in time is told "servidor ocupado"),
// and a failover by the database's own replication: a primary with a synchronous streaming
// standby, both throwaway clusters of this test, the primary killed with SIGKILL while clients
// save, the standby promoted; calls resume through the multi-host URI and no acknowledged save is
// lost. While no database answers, GET /health says so and calls are told the server cannot reach
// its database, not "Falha interna".
#include <gtest/gtest.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <thread>

#include "tests/support/RawHttp.h"
#include "ServiceFixture.h"
#include "server/store/PgConnection.h"

extern char** environ;

namespace server::test {
namespace {

using testsupport::FreePort;

using testsupport::RawConnection;
using testsupport::RequestBytes;

namespace fs = std::filesystem;
using host::wire::ChangeOp;
using host::wire::JsonRpcRequest;

// A slow reader and the calls behind it, on a pool of one connection (--db-connections 3).
TEST(DbConnections, ASlowReaderHoldsNoConnectionOnceItsAnswerIsSpooledAndAWaitEndsInServidorOcupado) {
  PDI_SKIP_UNLESS_STORE(StoreKind::Postgres);
  TempDir dir;
  TestDatabase db(StoreKind::Postgres, dir);
  // An answer of some 25 MB: more than the socket buffers between a reader and the server hold.
  const CommandResult demo = RunServerCommand({"demo", "--db", db.Location(), "--local", dir.File("l.db"), "--products",
                                               "30000", "--rows-per-product", "10"});
  ASSERT_EQ(demo.status, 0) << demo.output;
  const auto slowReaderThenLoad = [&](const std::vector<std::string>& args) {
    ServerProcess process(ServerBinary(), db.Location(), args);
    Answer answer;
    {
      RawConnection slow(process.Port());
      EXPECT_TRUE(slow.Send(RequestBytes("POST", ServerProcess::Path(), JsonRpcRequest::Write(1, "getDados", {}))));
      std::this_thread::sleep_for(std::chrono::milliseconds(300));  // its answer is under way
      RpcClient rpc(process.Port());
      answer = rpc.Call("getFilial");
      EXPECT_FALSE(slow.ClosedWithin(std::chrono::milliseconds(1)));  // it never read a byte, nor was dropped
    }
    EXPECT_EQ(process.Stop(), 0);
    return answer;
  };
  // The wait for a connection is shorter than the slow reader is given to take a piece: only an
  // answer read ahead frees the connection in time.
  const Answer spooled =
      slowReaderThenLoad({"--db-connections", "3", "--db-wait-timeout", "20", "--stall-timeout", "60"});
  EXPECT_TRUE(spooled.ok) << spooled.body;
  EXPECT_FALSE(ReadPacket(spooled.dataJson).rows.empty());

  // No room to spool: the slow reader keeps its connection, and the load waits for it in vain.
  const Answer refused =
      slowReaderThenLoad({"--db-connections", "3", "--db-wait-timeout", "1", "--max-spool-bytes", "0"});
  EXPECT_FALSE(refused.ok) << refused.body;
  EXPECT_EQ(refused.refusal.rfind("Servidor ocupado: todas as conexões com o banco de dados estão em uso; tente de "
                                  "novo em instantes. Referência ",
                                  0),
            0u)
      << refused.refusal;
}

// ---- Two throwaway clusters -------------------------------------------------------------------

std::string PgBin() {
  std::string best;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", ec)) {
    const std::string bin = (entry.path() / "bin").string();
    if (access((bin + "/initdb").c_str(), X_OK) == 0 && bin > best) best = bin;
  }
  return best;
}

// A primary and a synchronous streaming standby made with pg_basebackup -R, in a folder under
// /tmp, run as the clusters' owner (postgres when the test runs as root). A watchdog process
// stops them and removes the folder should this process end without doing it itself (killed by a
// timeout, a crash).
class ReplicatedPair {
 public:
  ReplicatedPair() : bin_(PgBin()) {
    if (bin_.empty()) throw std::runtime_error("PostgreSQL's server programs are not installed");
    char pattern[] = "/tmp/pdi-failover.XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
    base_ = pattern;
    if (geteuid() == 0) {
      owner_ = "postgres";
      if (RunProgram("/usr/bin/id", {"-u", owner_}).status != 0) throw std::runtime_error("no user postgres");
      RunProgram("/bin/chown", {owner_, base_});
    }
    StartWatchdog();
    primaryPort_ = FreePort();
    standbyPort_ = FreePort();
    Run("initdb", {"-D", Data("primary"), "-U", "pdi", "--auth=trust", "-E", "UTF8", "--locale=C", "--no-sync"});
    AppendConf("primary", {"listen_addresses = '127.0.0.1'", "port = " + std::to_string(primaryPort_),
                           "unix_socket_directories = '" + base_ + "'", "fsync = off", "synchronous_commit = on",
                           "max_wal_senders = 4"});
    Run("pg_ctl", {"-D", Data("primary"), "-l", base_ + "/primary.log", "-w", "-t", "60", "start"});
    Run("createdb", {"-h", "127.0.0.1", "-p", std::to_string(primaryPort_), "-U", "pdi", "pdi"});
    Run("pg_basebackup", {"-h", "127.0.0.1", "-p", std::to_string(primaryPort_), "-U", "pdi", "-D", Data("standby"),
                          "-R", "-X", "stream", "-c", "fast", "--no-sync"});
    // Promoted, the standby must not wait for a standby of its own.
    AppendConf("standby", {"port = " + std::to_string(standbyPort_), "synchronous_standby_names = ''"});
    Run("pg_ctl", {"-D", Data("standby"), "-l", base_ + "/standby.log", "-w", "-t", "60", "start"});
    // Only now does a commit wait for the standby: with it set before, making the database would
    // wait for a standby not yet there.
    PgConnection(Uri(primaryPort_)).Exec("ALTER SYSTEM SET synchronous_standby_names = '*'");
    PgConnection(Uri(primaryPort_)).Query("SELECT pg_reload_conf()");
    for (int i = 0; i < 300; ++i) {
      if (PgConnection(Uri(primaryPort_)).Query("SELECT count(*) FROM pg_stat_replication WHERE sync_state = 'sync'")
              .Text(0, 0) == "1") {
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    throw std::runtime_error("the standby did not start streaming; " + Logs());
  }

  ~ReplicatedPair() {
    for (const char* cluster : {"standby", "primary"}) {
      if (fs::exists(Data(cluster) + "/postmaster.pid")) {
        RunProgram(As("pg_ctl"), Args({"-D", Data(cluster), "-m", "immediate", "-w", "stop"}));
      }
    }
    if (watchdog_ > 0) {
      kill(watchdog_, SIGKILL);
      waitpid(watchdog_, nullptr, 0);
    }
    std::error_code ignored;
    fs::remove_all(base_, ignored);
  }

  // Both hosts, the primary first; libpq picks the one that takes writes.
  std::string MultiHostUri() const {
    return "postgresql://pdi@127.0.0.1:" + std::to_string(primaryPort_) + ",127.0.0.1:" + std::to_string(standbyPort_) +
           "/pdi?target_session_attrs=read-write&connect_timeout=2";
  }
  std::string StandbyUri() const { return Uri(standbyPort_); }

  void KillPrimary() {
    std::ifstream pidFile(Data("primary") + "/postmaster.pid");
    pid_t pid = 0;
    pidFile >> pid;
    ASSERT_GT(pid, 0);
    ASSERT_EQ(kill(pid, SIGKILL), 0);
  }
  void PromoteStandby() { Run("pg_ctl", {"-D", Data("standby"), "-w", "-t", "60", "promote"}); }
  std::string Logs() const {
    std::string out;
    for (const char* name : {"primary.log", "standby.log"}) {
      std::ifstream in(base_ + "/" + name);
      out += std::string("--- ") + name + "\n" + std::string(std::istreambuf_iterator<char>(in), {});
    }
    return out;
  }

 private:
  static std::string Uri(int port) { return "postgresql://pdi@127.0.0.1:" + std::to_string(port) + "/pdi"; }
  std::string Data(const std::string& cluster) const { return base_ + "/" + cluster; }

  // The program as the clusters' owner: runuser when this runs as root.
  std::string As(const std::string& program) const { return owner_.empty() ? bin_ + "/" + program : "/usr/sbin/runuser"; }
  std::vector<std::string> Args(std::vector<std::string> args, const std::string& program = "pg_ctl") const {
    if (owner_.empty()) return args;
    args.insert(args.begin(), {"-u", owner_, "--", bin_ + "/" + program});
    return args;
  }
  void Run(const std::string& program, const std::vector<std::string>& args) {
    const CommandResult r = RunProgram(As(program), Args(args, program));
    if (r.status != 0) throw std::runtime_error(program + " failed: " + r.output + "\n" + Logs());
  }
  void AppendConf(const std::string& cluster, const std::vector<std::string>& lines) {
    std::ofstream conf(Data(cluster) + "/postgresql.conf", std::ios::app);
    for (const std::string& line : lines) conf << line << "\n";
  }

  void StartWatchdog() {
    const std::string stop = owner_.empty() ? bin_ + "/pg_ctl" : "/usr/sbin/runuser -u " + owner_ + " -- " + bin_ + "/pg_ctl";
    const std::string script = "while kill -0 " + std::to_string(getpid()) + " 2>/dev/null; do sleep 1; done; for c in " +
                               base_ + "/standby " + base_ + "/primary; do [ -f $c/postmaster.pid ] && " + stop +
                               " -D $c -m immediate stop >/dev/null 2>&1; done; rm -rf " + base_;
    std::vector<std::string> args = {"/usr/bin/setsid", "/bin/sh", "-c", script};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    if (posix_spawn(&watchdog_, argv[0], &actions, nullptr, argv.data(), environ) != 0) watchdog_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }

  std::string bin_;
  std::string base_;
  std::string owner_;  // "" when the clusters are this process's user's
  int primaryPort_ = 0;
  int standbyPort_ = 0;
  pid_t watchdog_ = -1;
};

int HealthStatus(int port) {
  httplib::Client http("127.0.0.1", port);
  http.set_read_timeout(5, 0);
  const auto res = http.Get("/health");
  return res ? res->status : 0;
}

TEST(Failover, PromotedStandbyTakesOverThroughTheMultiHostUriWithNoAcknowledgedSaveLost) {
  if (PgBin().empty()) GTEST_SKIP() << "PostgreSQL's server programs (package postgresql) are not installed";
  std::unique_ptr<ReplicatedPair> pair;
  try {
    pair = std::make_unique<ReplicatedPair>();
  } catch (const std::exception& e) {
    FAIL() << "the clusters did not start: " << e.what();
  }
  TempDir dir;
  const std::string uri = pair->MultiHostUri();
  ASSERT_EQ(RunServerCommand({"init", "--db", uri}).status, 0);
  WriteGridMasterFile(dir.File("grid.db"));
  const CommandResult imported = RunServerCommand({"import-master", "--db", uri, dir.File("grid.db")});
  ASSERT_EQ(imported.status, 0) << imported.output;
  ServerProcess process(ServerBinary(), uri, {"--db-connections", "6", "--db-wait-timeout", "2"});

  // Two clients save pairs of their own, one after the other, and note which were acknowledged.
  std::mutex mutex;
  std::set<std::string> acknowledged;
  std::vector<std::string> failures;
  std::atomic<int> acks{0};
  std::atomic<bool> stop{false};
  std::vector<std::thread> clients;
  for (int c = 0; c < 2; ++c) {
    clients.emplace_back([&, c] {
      RpcClient rpc(process.Port());
      rpc.Http().set_read_timeout(30, 0);
      for (int n = c; n < kProducts * kSuppliers && !stop; n += 2) {
        const std::vector<std::string> row = GridRow(n);
        const Answer a = rpc.CallThroughProxy("SetFornecedor", {Changes(SupplierFields(), {{ChangeOp::Insert, row}})});
        std::lock_guard<std::mutex> lock(mutex);
        if (a.ok) {
          acknowledged.insert(row[0] + "|" + row[4]);
          ++acks;
        } else {
          failures.push_back(a.refusal.empty() ? a.body : a.refusal);
          std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
      }
    });
  }
  const auto waitAcks = [&](int count) {
    for (int i = 0; i < 3000 && acks < count; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return acks >= count;
  };
  EXPECT_TRUE(waitAcks(20));
  pair->KillPrimary();

  // No database takes writes: the balancer's check and the clerks are told so.
  int health = 0;
  for (int i = 0; i < 100 && (health = HealthStatus(process.Port())) != 503; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(health, 503);
  for (int i = 0; i < 100; ++i) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (!failures.empty()) break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }

  const auto promoted = std::chrono::steady_clock::now();
  pair->PromoteStandby();
  const int before = acks;
  EXPECT_TRUE(waitAcks(before + 20)) << process.Log();
  const double resumed = std::chrono::duration<double>(std::chrono::steady_clock::now() - promoted).count();
  stop = true;
  for (std::thread& t : clients) t.join();
  EXPECT_EQ(HealthStatus(process.Port()), 200);
  std::cout << "calls resumed " << resumed << " s after the promotion; " << acks << " saves acknowledged, "
            << failures.size() << " failed meanwhile\n";

  ASSERT_FALSE(failures.empty());
  for (const std::string& failure : failures) {
    EXPECT_EQ(failure.find("Falha interna"), std::string::npos) << failure;
  }
  EXPECT_EQ(failures[0].rfind("O servidor não consegue falar com o banco de dados; tente de novo em instantes. "
                              "Referência ",
                              0),
            0u)
      << failures[0];
  std::set<std::string> stored;
  const PgResult rows = PgConnection(pair->StandbyUri()).Query("SELECT CDPRODUTODES || '|' || CDFORNECED FROM DESONERA_FORNECEDOR");
  for (int r = 0; r < rows.Rows(); ++r) stored.insert(std::string(rows.Text(r, 0)));
  for (const std::string& pairKey : acknowledged) EXPECT_TRUE(stored.count(pairKey)) << "lost: " << pairKey;
  EXPECT_EQ(process.Stop(), 0);
}

}  // namespace
}  // namespace server::test
