// PostgreSQL point checks made outside a transaction go through the store's check queue: checks
// from many threads at once are sent together on a few pipelined connections. Each must get its
// own answer (never a neighbour's), a check that fails must fail alone, checks inside a write
// must still see the write's own rows, and connections cut under the checks are replaced
// without a failed check. The waits of the pipeline and of a COPY end by their deadline.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <thread>

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

}  // namespace
}  // namespace server::test
