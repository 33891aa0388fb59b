// PostgreSQL point checks made outside a transaction go through the store's check queue: checks
// from many threads at once are sent together on a few pipelined connections. Each must get its
// own answer (never a neighbour's), a check that fails must fail alone, checks inside a write
// must still see the write's own rows, and connections cut under the checks are replaced
// without a failed check. The waits of the pipeline and of a COPY end by their deadline.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "ServerTestSupport.h"
#include "server/cli/DemoGenerator.h"
#include "server/store/PgCheckQueue.h"
#include "server/store/PgStore.h"
#include "server/store/StoreTransaction.h"

namespace server::test {
namespace {

// One check and the answer a session in a read transaction (its own connection, not the
// queue) gives to it.
struct Expected {
  ListKind kind;
  std::string product;
  std::string item;
  bool stored;
};

class PgCheckQueueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    PDI_SKIP_UNLESS_STORE(StoreKind::Postgres);
    // As in the server: a write on a connection these tests cut fails with EPIPE instead of
    // ending the process.
    signal(SIGPIPE, SIG_IGN);
    database_ = std::make_unique<TestDatabase>(StoreKind::Postgres, dir_);
    store_ = Store::Open(database_->Location(), StoreOptions{.create = true});
    const auto session = store_->OpenSession();
    DemoOptions options;
    options.products = 60;
    options.rowsPerProduct = 5;
    DemoGenerator::Generate(*session, options);
  }

  // Stored pairs of every list, and as many that are not stored, answered in one transaction.
  std::vector<Expected> Checks() {
    std::vector<Expected> out;
    const std::pair<ListKind, const char*> lists[] = {
        {ListKind::Supplier, "SELECT CDPRODUTODES, CDFORNECED FROM DESONERA_FORNECEDOR"},
        {ListKind::Client, "SELECT CDPRODUTODES, CDCLIENTE FROM DESONERA_CLIENTE"},
        {ListKind::Branch, "SELECT CDPRODUTODES, CDFILIALDES FROM DESONERA_FILIAL"}};
    for (const auto& [kind, sql] : lists) {
      for (const std::string& row : database_->Rows(sql)) {
        const size_t bar = row.find('|');
        out.push_back({kind, row.substr(0, bar), row.substr(bar + 1), true});
        out.push_back({kind, row.substr(0, bar), row.substr(bar + 1) + "X", false});
      }
    }
    const auto session = store_->OpenSession();
    StoreTransaction read(*session, StoreTransaction::Kind::Read);
    for (Expected& e : out) {
      const bool stored = session->PairStored(e.kind, e.product, e.item);
      EXPECT_EQ(stored, e.stored) << e.product << " " << e.item;
      e.stored = stored;
    }
    return out;
  }

  // Backends of this test's schema other than the asking one.
  int Backends() const {
    return std::stoi(database_->One("SELECT COUNT(*) FROM pg_stat_activity WHERE application_name = '" +
                                    database_->Schema() + "' AND pid <> pg_backend_pid()"));
  }

  // Checks from many threads at once, each in a session of its own as the service makes them;
  // returns the number of wrong answers and failures. cut runs once, half-way.
  int CheckFromManyThreads(const std::vector<Expected>& checks, const std::function<void()>& cut = {}) {
    constexpr int kThreads = 12;
    std::atomic<int> wrong{0}, done{0};
    std::atomic<bool> cutDone{!cut};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        for (size_t i = static_cast<size_t>(t); i < checks.size() * 3; i += kThreads) {
          const Expected& e = checks[i % checks.size()];
          try {
            const auto session = store_->OpenSession();
            if (session->PairStored(e.kind, e.product, e.item) != e.stored) ++wrong;
            if (session->ProductListed(e.product) != true) ++wrong;
          } catch (const std::exception& failure) {
            ADD_FAILURE() << failure.what();
            ++wrong;
          }
          ++done;
        }
      });
    }
    if (cut) {
      while (done.load() < static_cast<int>(checks.size())) std::this_thread::yield();
      cut();
      cutDone = true;
    }
    for (auto& t : threads) t.join();
    EXPECT_TRUE(cutDone.load());
    return wrong.load();
  }

  TempDir dir_;
  std::unique_ptr<TestDatabase> database_;
  std::unique_ptr<Store> store_;
};

TEST_F(PgCheckQueueTest, ChecksFromManyThreadsGetTheirOwnAnswersOnAFewConnections) {
  const std::vector<Expected> checks = Checks();
  ASSERT_GT(checks.size(), 400u);
  EXPECT_EQ(CheckFromManyThreads(checks), 0);
  // The sessions took no pooled connection for their checks: besides the pool's one (the
  // expected answers were read on it), only the check connections are open.
  auto* pg = dynamic_cast<PgStore*>(store_.get());
  ASSERT_NE(pg, nullptr);
  EXPECT_GE(pg->Checks().OpenConnections(), 1);
  EXPECT_LE(pg->Checks().OpenConnections(), PgStore::kCheckConnections);
  EXPECT_LE(Backends(), 1 + PgStore::kCheckConnections);
  // The master lookups the service makes outside a transaction go the same way.
  const auto session = store_->OpenSession();
  EXPECT_EQ(session->MasterCode(ListKind::Branch, "NONE"), std::nullopt);
  EXPECT_TRUE(session->MasterCode(ListKind::Product, checks.front().product).has_value());
}

TEST_F(PgCheckQueueTest, CheckConnectionsCutUnderLoadAreReplacedWithoutAFailedCheck) {
  const std::vector<Expected> checks = Checks();
  const std::string schema = database_->Schema();
  EXPECT_EQ(CheckFromManyThreads(checks,
                                 [&] {
                                   database_->One(
                                       "SELECT COUNT(pg_terminate_backend(pid)) FROM pg_stat_activity WHERE"
                                       " application_name = '" +
                                       schema + "' AND pid <> pg_backend_pid()");
                                 }),
            0);
}

TEST_F(PgCheckQueueTest, ChecksInsideAWriteSeeItsRowsAndOthersOnlyAfterTheCommit) {
  const auto writer = store_->OpenSession();
  const auto other = store_->OpenSession();
  const std::string product = "P000000001";
  ASSERT_FALSE(other->PairStored(ListKind::Branch, product, "NEWBRANCH"));
  {
    StoreTransaction write(*writer, StoreTransaction::Kind::Write);
    ASSERT_TRUE(writer->InsertPair(ListKind::Branch, product, "NEWBRANCH", ""));
    EXPECT_TRUE(writer->PairStored(ListKind::Branch, product, "NEWBRANCH"));
    EXPECT_FALSE(other->PairStored(ListKind::Branch, product, "NEWBRANCH"));
    write.Commit();
  }
  EXPECT_TRUE(other->PairStored(ListKind::Branch, product, "NEWBRANCH"));
  EXPECT_TRUE(writer->PairStored(ListKind::Branch, product, "NEWBRANCH"));
}

// Statements sent together in one pipeline: one refused by the database fails alone, with the
// database's reason, and the others, sent before and after it, get their own results.
TEST_F(PgCheckQueueTest, AFailingCheckFailsAloneAndTheOthersSentWithItGetTheirResults) {
  PgCheckQueue queue([&] { return std::make_unique<PgConnection>(database_->Location()); }, 1);
  constexpr int kThreads = 8, kEach = 150;
  std::atomic<int> wrong{0}, refused{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        const int n = t * kEach + i;
        const bool bad = n % 7 == 3;
        const std::string text = bad ? "x" + std::to_string(n) : std::to_string(n);
        const std::array<std::string_view, 1> params{text};
        try {
          const PgResult r = queue.Run("plus_one", "SELECT CAST($1 AS INTEGER) + 1", params);
          if (bad || r.Rows() != 1 || r.Text(0, 0) != std::to_string(n + 1)) ++wrong;
        } catch (const EPgError& e) {
          if (!bad || e.SqlState() != "22P02" || e.Busy()) ++wrong;
          ++refused;
        }
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_GT(refused.load(), 0);
  EXPECT_EQ(queue.OpenConnections(), 1);
}

// A database that does not answer in time: the wait fails as busy, and the connection is cut, so
// that nothing run on it afterwards waits again. (The statements sleep far longer than the
// deadline given.)
TEST_F(PgCheckQueueTest, AWaitPastItsDeadlineFailsAsBusyAndCutsTheConnection) {
  const auto soon = [] { return PgConnection::Clock::now() + std::chrono::milliseconds(200); };
  {
    PgConnection connection(database_->Location());
    connection.EnterPipeline();
    const std::array<std::string_view, 1> seconds{"20"};
    PgConnection::PipelineCall call;
    call.name = "sleep";
    call.sql = "SELECT pg_sleep(CAST($1 AS FLOAT8))";
    call.params = seconds;
    PgConnection::PipelineCall* calls[] = {&call};
    try {
      connection.RunPipeline(calls, soon());
      ADD_FAILURE() << "the pipeline did not time out";
    } catch (const EStoreError& e) {
      EXPECT_TRUE(e.Busy()) << e.what();
    }
    EXPECT_FALSE(connection.Reusable());
    EXPECT_THROW(connection.RunPipeline(calls, soon()), EStoreError);
  }
  {
    PgConnection connection(database_->Location());
    connection.Exec("BEGIN");
    // Rows enough to be sent at once, then one that takes long.
    connection.BeginCopyOut(
        "COPY (SELECT repeat('x', 100), pg_sleep(CASE WHEN g = 2000 THEN 20 ELSE 0 END)"
        " FROM generate_series(1, 2000) g) TO STDOUT",
        PgConnection::Clock::now() + PgConnection::kWaitLimit);
    std::string_view line;
    int lines = 0;
    try {
      while (connection.NextCopyLine(line, soon())) ++lines;
      ADD_FAILURE() << "the copy did not time out";
    } catch (const EStoreError& e) {
      EXPECT_TRUE(e.Busy()) << e.what();
    }
    EXPECT_LT(lines, 2000);
    EXPECT_FALSE(connection.Reusable());
    EXPECT_THROW(connection.Exec("ROLLBACK"), EStoreError);
  }
}

// A loopback relay to the database that can be frozen: it then passes no more bytes either way
// and closes nothing, like a database host that stopped answering. New connections are still
// taken, and left unanswered.
class FreezingRelay {
 public:
  explicit FreezingRelay(int databasePort) : databasePort_(databasePort) {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(listener_, 16) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      throw std::runtime_error("relay: cannot listen");
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Run(); });
  }
  ~FreezingRelay() {
    stop_ = true;
    thread_.join();
    for (const int fd : fds_) close(fd);
    close(listener_);
  }
  int Port() const { return port_; }
  void Freeze() { frozen_ = true; }

 private:
  void Run() {
    std::vector<char> buffer(65536);
    while (!stop_) {
      std::vector<pollfd> polled{{listener_, POLLIN, 0}};
      if (!frozen_) {
        for (const int fd : fds_) polled.push_back({fd, POLLIN, 0});
      }
      if (poll(polled.data(), polled.size(), 20) <= 0) continue;
      if (polled[0].revents & POLLIN) {
        const int client = accept(listener_, nullptr, nullptr);
        if (frozen_) {
          fds_.push_back(client);  // taken, never answered
          continue;
        }
        const int database = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<uint16_t>(databasePort_));
        if (connect(database, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
          close(database);
          close(client);
          continue;
        }
        fds_.push_back(client);
        fds_.push_back(database);
        continue;
      }
      for (size_t i = 1; i < polled.size(); ++i) {
        if (!(polled[i].revents & (POLLIN | POLLHUP))) continue;
        const size_t at = i - 1;
        const int to = fds_[at ^ 1];  // pairs: client, database
        const ssize_t n = read(polled[i].fd, buffer.data(), buffer.size());
        if (n > 0) {
          for (ssize_t sent = 0; sent < n;) {
            // The client may have cut its end already; a send to it must fail, not raise SIGPIPE.
            const ssize_t m = send(to, buffer.data() + sent, static_cast<size_t>(n - sent), MSG_NOSIGNAL);
            if (m <= 0) break;
            sent += m;
          }
        } else {
          shutdown(to, SHUT_WR);
        }
      }
    }
  }

  const int databasePort_;
  int listener_ = -1;
  int port_ = 0;
  std::vector<int> fds_;
  std::atomic<bool> stop_{false}, frozen_{false};
  std::thread thread_;
};

// The location with the database's port replaced by port (127.0.0.1 only); empty when it names
// no such host.
std::string Through(const std::string& location, int port, int* databasePort) {
  const std::string host = "@127.0.0.1:";
  const size_t at = location.find(host);
  if (at == std::string::npos) return {};
  const size_t start = at + host.size();
  const size_t end = location.find_first_not_of("0123456789", start);
  *databasePort = std::stoi(location.substr(start, end - start));
  return location.substr(0, start) + std::to_string(port) + location.substr(end);
}

// A COPY dropped half-way while the database has stopped answering: dropping it returns at once
// and the connection is not used again, instead of the lane that dropped it waiting for the
// database without end.
TEST_F(PgCheckQueueTest, ACopyDroppedWhileTheDatabaseStoppedAnsweringReturnsAtOnce) {
  int databasePort = 0;
  if (Through(database_->Location(), 1, &databasePort).empty()) GTEST_SKIP() << "the test database is not on 127.0.0.1";
  FreezingRelay relay(databasePort);
  PgConnection connection(Through(database_->Location(), relay.Port(), &databasePort));
  connection.Exec("BEGIN");
  // Far more than the sockets between hold, so that the database is still sending.
  connection.BeginCopyOut("COPY (SELECT repeat('x', 100) FROM generate_series(1, 1000000)) TO STDOUT");
  std::string_view line;
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(connection.NextCopyLine(line));
  relay.Freeze();
  const auto start = PgConnection::Clock::now();
  connection.AbandonCopyOut();
  EXPECT_LT(PgConnection::Clock::now() - start, std::chrono::seconds(5));
  EXPECT_FALSE(connection.Reusable());
  EXPECT_THROW(connection.Exec("ROLLBACK"), EStoreError);
}

// A thread waiting on a database that stopped answering (as a list read ahead does) is woken
// by an interrupt from another thread at once, not at its deadline a minute later.
TEST_F(PgCheckQueueTest, AnInterruptEndsAWaitOnADatabaseThatStoppedAnswering) {
  int databasePort = 0;
  if (Through(database_->Location(), 1, &databasePort).empty()) GTEST_SKIP() << "the test database is not on 127.0.0.1";
  FreezingRelay relay(databasePort);
  PgConnection connection(Through(database_->Location(), relay.Port(), &databasePort));
  connection.AllowInterrupt();
  connection.Exec("BEGIN");
  connection.BeginCopyOut("COPY (SELECT repeat('x', 100) FROM generate_series(1, 1000000)) TO STDOUT");
  relay.Freeze();
  std::atomic<bool> failed{false};
  std::thread reader([&] {
    try {
      std::string_view line;
      while (connection.NextCopyLine(line)) {
      }
    } catch (const EStoreError&) {
      failed = true;
    }
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the reader is waiting by now
  const auto start = PgConnection::Clock::now();
  connection.Interrupt();
  reader.join();
  EXPECT_LT(PgConnection::Clock::now() - start, std::chrono::seconds(5));
  EXPECT_TRUE(failed);
  EXPECT_FALSE(connection.Reusable());
}

}  // namespace
}  // namespace server::test
