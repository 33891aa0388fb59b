// Concurrency and durability of saves, on each store: many clients saving at once, the same pair
// from many clients at once, a server killed (SIGKILL) in the middle of a stream of saves and
// started again, and two servers serving one database at once. Counts and waits are bounded;
// everything runs on loopback.
#include <gtest/gtest.h>
#include <signal.h>

#include <array>
#include <atomic>
#include <iostream>
#include <latch>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "ServiceFixture.h"
#include "server/store/SqliteDatabase.h"

namespace server::test {
namespace {

using host::wire::ChangeOp;

class DurabilityTest : public ServiceFixture {
 protected:
  void SetUp() override {
    ServiceFixture::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    WriteGridMasterFile(dir_.File("grid.db"));
    const CommandResult imported = RunServerCommand({"import-master", "--db", db_, dir_.File("grid.db")});
    ASSERT_EQ(imported.status, 0) << imported.output;
  }

  // The stored supplier pairs of the grid, as "product/supplier".
  std::set<std::string> StoredGridPairs(RpcClient& rpc) {
    const Answer a = rpc.Call("getFornecedor");
    EXPECT_TRUE(a.ok) << a.body.substr(0, 300);
    std::set<std::string> pairs;
    for (const auto& row : ReadPacket(a.dataJson).rows) {
      if (row[0].rfind("Q", 0) == 0) pairs.insert(row[0] + "/" + row[4]);
    }
    return pairs;
  }
  static std::string PairName(int n) { return ProductKey(n / kSuppliers) + "/" + SupplierKey(n % kSuppliers); }

  // Number of packets in the audit trail.
  int AuditedPackets() {
    const CommandResult r = Audit();
    EXPECT_EQ(r.status, 0) << r.output;
    int packets = 0;
    for (size_t at = r.output.find("  packet "); at != std::string::npos; at = r.output.find("  packet ", at + 1)) {
      ++packets;
    }
    return packets;
  }
};

INSTANTIATE_TEST_SUITE_P(Stores, DurabilityTest, ::testing::Values(StoreKind::Sqlite, StoreKind::Postgres),
                         StoreParamName());

TEST_P(DurabilityTest, SamePairFromManyClientsAtOnceIsStoredOnceAndEveryOtherIsRefused) {
  constexpr int kClients = 16;
  std::latch start(kClients);
  std::vector<Answer> answers(kClients);
  std::vector<std::thread> threads;
  for (int t = 0; t < kClients; ++t) {
    threads.emplace_back([&, t] {
      RpcClient rpc(process_->Port());
      start.arrive_and_wait();
      answers[static_cast<size_t>(t)] = rpc.Call("SetCliente", {Changes(ClientFields(), {{ChangeOp::Insert, ClientRow("P3", "C2")}})});
    });
  }
  for (auto& t : threads) t.join();
  int accepted = 0;
  for (const Answer& a : answers) {
    ASSERT_FALSE(a.isError) << a.body;
    if (a.ok) {
      ++accepted;
    } else {
      EXPECT_EQ(a.refusal, "Cliente 11222333000181 já cadastrado para o produto 200.");
    }
  }
  EXPECT_EQ(accepted, 1);
  EXPECT_EQ(Lines(Load("getCliente")), "P3|11222333000181|C2|11222333000181|Zeta Comércio S.A.|J\n");
  EXPECT_EQ(AuditedPackets(), 1);
}

TEST_P(DurabilityTest, DifferentRowsFromManyClientsAtOnceAreAllStored) {
  constexpr int kClients = 16;
  constexpr int kSavesPerClient = 25;
  std::latch start(kClients);
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kClients; ++t) {
    threads.emplace_back([&, t] {
      RpcClient rpc(process_->Port());
      start.arrive_and_wait();
      for (int i = 0; i < kSavesPerClient; ++i) {
        const Answer a = rpc.Call("SetFornecedor", {Changes(SupplierFields(), {{ChangeOp::Insert, GridRow(t * kSavesPerClient + i)}})});
        if (!a.ok) {
          ++failures;
          ADD_FAILURE() << a.body;
        }
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(StoredGridPairs(*rpc_).size(), static_cast<size_t>(kClients * kSavesPerClient));
  EXPECT_EQ(AuditedPackets(), kClients * kSavesPerClient);
}

TEST_P(DurabilityTest, KilledInTheMiddleOfSavesKeepsEveryAnsweredSaveAndNoHalfPacket) {
  // Each packet inserts three pairs; clients save until the server dies under them.
  constexpr int kClients = 8;
  constexpr int kPacketsPerClient = 50;  // 8 x 50 x 3 = 1200 = every pair of the grid
  constexpr int kKillAfter = 120;        // answered saves before the kill
  std::atomic<int> answered{0};
  std::mutex mutex;
  std::vector<int> answeredPackets;  // packet numbers answered ok:true
  std::vector<std::thread> threads;
  for (int t = 0; t < kClients; ++t) {
    threads.emplace_back([&, t] {
      RpcClient rpc(process_->Port());
      for (int i = 0; i < kPacketsPerClient; ++i) {
        const int packet = t * kPacketsPerClient + i;
        const Answer a = rpc.Call("SetFornecedor", {Changes(SupplierFields(), {{ChangeOp::Insert, GridRow(packet * 3)},
                                                                                {ChangeOp::Insert, GridRow(packet * 3 + 1)},
                                                                                {ChangeOp::Insert, GridRow(packet * 3 + 2)}})});
        if (a.httpStatus == 0) return;  // the server is gone; this save's outcome is unknown
        ASSERT_TRUE(a.ok) << a.body;
        std::lock_guard<std::mutex> lock(mutex);
        answeredPackets.push_back(packet);
        ++answered;
      }
    });
  }
  for (int i = 0; i < 6000 && answered.load() < kKillAfter; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_EQ(kill(process_->Pid(), SIGKILL), 0);
  for (auto& t : threads) t.join();
  EXPECT_EQ(process_->Stop(), 128 + SIGKILL);
  process_.reset();

  // Started again on the same database, the server shows every answered save, whole.
  process_ = std::make_unique<ServerProcess>(ServerBinary(), db_);
  rpc_ = std::make_unique<RpcClient>(process_->Port());
  const std::set<std::string> stored = StoredGridPairs(*rpc_);
  int found = 0;
  for (const int packet : answeredPackets) {
    int present = 0;
    for (int k = 0; k < 3; ++k) present += stored.count(PairName(packet * 3 + k)) ? 1 : 0;
    EXPECT_EQ(present, 3) << "answered packet " << packet;
    if (present == 3) ++found;
  }
  // No packet at all, answered or not, is half applied.
  int wholePackets = 0;
  for (int packet = 0; packet < kClients * kPacketsPerClient; ++packet) {
    int present = 0;
    for (int k = 0; k < 3; ++k) present += stored.count(PairName(packet * 3 + k)) ? 1 : 0;
    EXPECT_TRUE(present == 0 || present == 3) << "packet " << packet << " has " << present << " of 3 rows";
    if (present == 3) ++wholePackets;
  }
  EXPECT_EQ(stored.size(), static_cast<size_t>(wholePackets) * 3);
  // The audit trail commits with the data: one record per packet stored, answered or not.
  EXPECT_EQ(AuditedPackets(), wholePackets);
  const int answeredCount = static_cast<int>(answeredPackets.size());
  EXPECT_EQ(found, answeredCount);
  EXPECT_GE(answeredCount, kKillAfter);
  RecordProperty("answered", answeredCount);
  RecordProperty("found", found);
  std::cout << "[ durable  ] " << StoreName(GetParam()) << ": " << answeredCount << " saves answered ok, " << found
            << " of them found after the restart; " << wholePackets << " packets stored in all\n";
}

TEST_P(DurabilityTest, TwoServersOnOneDatabaseServeAtOnceLosingNothingAndStoringNoPairTwice) {
  ServerProcess second(ServerBinary(), db_);
  const std::array<int, 2> ports{process_->Port(), second.Port()};
  constexpr int kClients = 8;
  constexpr int kSavesPerClient = 20;
  std::latch start(kClients);
  std::atomic<int> failures{0}, accepted{0}, refused{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kClients; ++t) {
    threads.emplace_back([&, t] {
      RpcClient rpc(ports[static_cast<size_t>(t % 2)]);
      start.arrive_and_wait();
      // Everyone first races for the same pair, through both servers...
      const Answer same = rpc.Call("SetFilial", {Changes(BranchFields(), {{ChangeOp::Insert, BranchRow("P1", "SP01")}})});
      if (same.ok) {
        ++accepted;
      } else if (same.refusal == "Filial SP01 já cadastrada para o produto 100.") {
        ++refused;
      } else {
        ADD_FAILURE() << same.body;
      }
      // ...then saves rows of its own.
      for (int i = 0; i < kSavesPerClient; ++i) {
        const Answer a = rpc.Call("SetFornecedor", {Changes(SupplierFields(), {{ChangeOp::Insert, GridRow(t * kSavesPerClient + i)}})});
        if (!a.ok) {
          ++failures;
          ADD_FAILURE() << a.body;
        }
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(accepted.load(), 1);
  EXPECT_EQ(refused.load(), kClients - 1);
  EXPECT_EQ(failures.load(), 0);
  // Each server sees what both stored.
  RpcClient other(second.Port());
  EXPECT_EQ(StoredGridPairs(*rpc_).size(), static_cast<size_t>(kClients * kSavesPerClient));
  EXPECT_EQ(StoredGridPairs(other), StoredGridPairs(*rpc_));
  EXPECT_EQ(Load("getFilial").rows.size(), 1u);
  EXPECT_EQ(AuditedPackets(), 1 + kClients * kSavesPerClient);
  EXPECT_EQ(second.Stop(), 0) << second.Log();
}

// Only a PostgreSQL store has connections to lose.
class PgConnectionTest : public DurabilityTest {};

INSTANTIATE_TEST_SUITE_P(Stores, PgConnectionTest, ::testing::Values(StoreKind::Postgres), StoreParamName());

TEST_P(PgConnectionTest, DatabaseConnectionsCutBetweenCallsAreReplacedWithoutAFailedCall) {
  Save("SetCliente", ClientFields(), {{ChangeOp::Insert, ClientRow("P1", "C1")}});
  ASSERT_TRUE(Stored("getVd_Cliente", "P1", "C1"));
  // The database closes every connection of this server, as on a restart of PostgreSQL.
  const std::string cut = database_->One(
      "SELECT COUNT(pg_terminate_backend(pid)) FROM pg_stat_activity WHERE application_name = '" +
      database_->Schema() + "' AND pid <> pg_backend_pid()");
  ASSERT_NE(cut, "0");
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(Stored("getVd_Cliente", "P1", "C1"));
  Save("SetCliente", ClientFields(), {{ChangeOp::Insert, ClientRow("P1", "C2")}});
  EXPECT_EQ(Load("getCliente").rows.size(), 2u);
  EXPECT_EQ(ReadPackets(rpc_->Call("getDados").dataJson).size(), 4u);
}

}  // namespace
}  // namespace server::test
