// Starting and stopping the server: a stop finishes the calls under way, large loads are
// streamed, and the process ends cleanly.
#include <gtest/gtest.h>
#include <signal.h>

#include <thread>

#include "ServerTestSupport.h"
#include "tests/support/ServerProcess.h"

namespace server::test {
namespace {

class LifecycleTest : public ::testing::TestWithParam<StoreKind> {
 protected:
  void SetUp() override {
    PDI_SKIP_UNLESS_STORE(GetParam());
    database_ = std::make_unique<TestDatabase>(GetParam(), dir_);
    // About 100,000 related rows: a response far larger than the socket buffers.
    const CommandResult r = RunServerCommand({"demo", "--db", Db(), "--local", dir_.File("l.db"), "--products",
                                              "10000", "--rows-per-product", "10"});
    ASSERT_EQ(r.status, 0) << r.output;
  }
  const std::string& Db() const { return database_->Location(); }

  TempDir dir_;
  std::unique_ptr<TestDatabase> database_;
};

INSTANTIATE_TEST_SUITE_P(Stores, LifecycleTest, ::testing::Values(StoreKind::Sqlite, StoreKind::Postgres),
                         StoreParamName());

TEST_P(LifecycleTest, StopFinishesTheLoadUnderWayThenExitsCleanly) {
  ServerProcess process(ServerBinary(), Db());
  httplib::Client http("127.0.0.1", process.Port());
  http.set_read_timeout(120, 0);
  std::string body;
  bool signalled = false;
  httplib::Request req;
  req.method = "POST";
  req.path = ServerProcess::Path();
  req.body = host::wire::JsonRpcRequest::Write(1, "getDados", {});
  req.content_receiver = [&](const char* data, size_t n, uint64_t, uint64_t) {
    body.append(data, n);
    if (!signalled) {
      // The load has begun and cannot have finished: most of it is still to be read from here.
      kill(process.Pid(), SIGTERM);
      signalled = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return true;
  };
  const auto res = http.send(req);
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_EQ(res->get_header_value("Transfer-Encoding"), "chunked");
  ASSERT_GT(body.size(), 4u * 1024 * 1024);
  const std::string prefix = R"({"jsonrpc":"2.0","id":1,"result":{"ok":true,"data":)";
  ASSERT_EQ(body.compare(0, prefix.size(), prefix), 0);
  const auto packets = ReadPackets(body.substr(prefix.size(), body.size() - prefix.size() - 2));
  ASSERT_EQ(packets.size(), 4u);
  EXPECT_EQ(packets[0].rows.size(), 10000u);
  EXPECT_EQ(packets[1].rows.size() + packets[2].rows.size() + packets[3].rows.size(), 100000u);

  for (int i = 0; i < 3000 && process.Running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(process.Stop(), 0);
  const std::string log = process.Log();
  EXPECT_NE(log.find("stopping (SIGTERM)"), std::string::npos) << log;
  EXPECT_NE(log.find("call method=getDados"), std::string::npos) << log;
  EXPECT_NE(log.find("outcome=ok"), std::string::npos) << log;
  EXPECT_NE(log.find("pdi07310-server stopped"), std::string::npos) << log;
}

TEST_P(LifecycleTest, InterruptStopsAnIdleServer) {
  ServerProcess process(ServerBinary(), Db());
  kill(process.Pid(), SIGINT);
  for (int i = 0; i < 3000 && process.Running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_FALSE(process.Running());
  EXPECT_EQ(process.Stop(), 0);
  EXPECT_NE(process.Log().find("stopping (SIGINT)"), std::string::npos) << process.Log();
}

TEST_P(LifecycleTest, ClientGoingAwayMidLoadLeavesTheServerServing) {
  ServerProcess process(ServerBinary(), Db());
  {
    httplib::Client http("127.0.0.1", process.Port());
    httplib::Request req;
    req.method = "POST";
    req.path = ServerProcess::Path();
    req.body = host::wire::JsonRpcRequest::Write(1, "getDados", {});
    req.content_receiver = [](const char*, size_t, uint64_t, uint64_t) { return false; };  // hang up
    http.send(req);
  }
  RpcClient rpc(process.Port());
  const Answer a = rpc.Call("getVd_Produto", {host::wire::JsonRpcParam::Text("P000000001")});
  EXPECT_TRUE(a.ok) << a.body;
  EXPECT_EQ(ReadPacket(a.dataJson).rows.size(), 1u);
  EXPECT_EQ(process.Stop(), 0);
}

}  // namespace
}  // namespace server::test
