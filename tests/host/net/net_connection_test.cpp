#include "host/data/DecodedAnswer.h"
#include "host/net/NetConnection.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <thread>

#include "host/data/RawResult.h"
#include "host/wire/ServiceName.h"
#include "tests/host/net/StubService.h"

namespace host {
namespace {

const std::string kService(wire::kServiceName);

class NetConnectionTest : public ::testing::Test {
 protected:
  NetConnectionTest() {
    net.SetServerName(kService);
    net.ThrowException = false;
    net.BeforeConnect = [this](TObject* sender) {
      ++connects;
      auto* c = static_cast<TNetConnection*>(sender);
      c->SetHost("127.0.0.1");
      c->SetPort(server.Port());
    };
  }
  ~NetConnectionTest() override {
    TNetConnection::SetCallObserver({});
    TNetConnection::SetCallRunner({});
  }

  std::string CallError(const std::string& method, std::vector<Variant> args = {}) {
    try {
      net.Call(method, args);
    } catch (const ENetError& e) {
      return e.what();
    }
    return "no error";
  }
  std::string Where() const { return "127.0.0.1:" + std::to_string(server.Port()); }

  testsupport::StubService server;
  TNetConnection net{"netProdDeso"};
  int connects = 0;
};

TEST_F(NetConnectionTest, CallSendsTextAndPacketsAndReturnsThePaddedRawResult) {
  net.Open();
  EXPECT_EQ(connects, 1);
  ASSERT_TRUE(net.Connected());
  const std::string delta =
      R"({"fields":[{"name":"CDPRODUTO","size":10}],"changes":[{"op":"delete","row":["7"]}]})";
  Variant raw = net.Call("echo", {Variant::FromText("a\"b\\ ç"),
                                  Variant::MakeChangePacket(delta)});
  ASSERT_EQ(raw.Kind(), VariantKind::Text);
  EXPECT_EQ(raw.AsText(), R"({"ok":true,"data":["a\"b\\ ç",)" + delta + "]}");
  EXPECT_GE(raw.TextPtr()->capacity(), raw.AsText().size() + kPacketPadding);
}

TEST_F(NetConnectionTest, TheRawResultArrivesDecoded) {
  const std::string packet = R"({"fields":[{"name":"CDFILIAL","size":4}],"rows":[["0001"]]})";
  Variant raw = net.Call("echo", {Variant::FromText("x"), Variant::MakeDataPacket(packet)});
  RawResult result = ParseRawResult(raw);
  ASSERT_TRUE(result.ok);
  ASSERT_EQ(result.data.Count(), 2u);
  EXPECT_EQ(result.data[0].AsText(), "x");
  EXPECT_EQ(result.data[1].PacketJson(), packet);
  // The packet was read into row storage as it arrived; the small result's text is kept as sent.
  ASSERT_NE(result.data[1].Decoded(), nullptr);
  EXPECT_EQ(result.data[1].Decoded()->store.RowCount(), 1u);
  EXPECT_EQ(result.data[1].Decoded()->store.Cell(0, 0), "0001");
  EXPECT_EQ(raw.AsText(), R"({"ok":true,"data":["x",)" + packet + "]}");
}

TEST_F(NetConnectionTest, ACallMayRunOnAWorkerThreadWhileTheCallerWaits) {
  net.Open();
  auto pending = std::async(std::launch::async, [this] { return net.Call("echo", {}); });
  EXPECT_EQ(pending.get().AsText(), R"({"ok":true,"data":[]})");
}

TEST_F(NetConnectionTest, ACallRunnerCarriesTheExchangeToAnotherThread) {
  int runs = 0;
  std::thread::id exchangeThread;
  TNetConnection::SetCallRunner([&](const std::function<void()>& exchange) {
    ++runs;
    std::thread worker([&] {
      exchangeThread = std::this_thread::get_id();
      exchange();
    });
    worker.join();
  });
  EXPECT_EQ(net.Call("echo", {Variant::FromText("a")}).AsText(), R"({"ok":true,"data":["a"]})");
  EXPECT_NE(CallError("getNada").find("-32601"), std::string::npos);
  TNetConnection::SetCallRunner({});
  EXPECT_EQ(runs, 3);  // the connection check, then the two calls
  EXPECT_NE(exchangeThread, std::this_thread::get_id());
}

TEST_F(NetConnectionTest, ConnectsOnDemandAndKeepsTheConnectionAlive) {
  EXPECT_FALSE(net.Connected());
  net.Call("echo", {});
  EXPECT_EQ(connects, 1);
  net.Call("echo", {});
  net.Call("echo", {});
  EXPECT_EQ(connects, 1);
  const auto ports = server.ClientPorts();
  ASSERT_EQ(ports.size(), 3u);
  EXPECT_EQ(ports[0], ports[1]);
  EXPECT_EQ(ports[1], ports[2]);
  // A new address closes the connection; the next call connects again (BeforeConnect runs).
  net.SetServerName(kService + std::string(""));
  net.SetPort(server.Port() + 0);
  EXPECT_TRUE(net.Connected());
  net.SetHost("localhost");
  EXPECT_FALSE(net.Connected());
  net.Call("echo", {});
  EXPECT_EQ(connects, 2);
}

TEST_F(NetConnectionTest, ObserverSeesEachCall) {
  std::vector<std::string> seen;
  TNetConnection::SetCallObserver([&](const std::string& method, const std::vector<Variant>& args) {
    seen.push_back(method + "/" + std::to_string(args.size()));
  });
  net.Call("echo", {Variant::FromText("1"), Variant::FromText("2")});
  net.Call("echo", {});
  EXPECT_EQ(seen, (std::vector<std::string>{"echo/2", "echo/0"}));
}

TEST_F(NetConnectionTest, LargeChunkedAnswer) {
  Variant raw = net.Call("grande", {});
  EXPECT_EQ(raw.AsText().size(), std::string(R"({"ok":true,"data":""})").size() + (1u << 20));
  EXPECT_GE(raw.TextPtr()->capacity(), raw.AsText().size() + kPacketPadding);
}

TEST_F(NetConnectionTest, JsonRpcErrorNamesAddressMethodAndMessage) {
  EXPECT_EQ(CallError("getNada"), "Falha ao chamar getNada em " + Where() +
                                      ": o servidor respondeu com o erro -32601: Method not found");
}

TEST_F(NetConnectionTest, HttpErrorsAndBrokenAnswersRaise) {
  EXPECT_EQ(CallError("http500"),
            "Falha ao chamar http500 em " + Where() + ": o servidor respondeu HTTP 500 (boom)");
  EXPECT_NE(CallError("lixo").find("resposta inválida do servidor"), std::string::npos);
  EXPECT_NE(CallError("outroId").find("identificador"), std::string::npos);
  // The connection still works afterwards.
  EXPECT_EQ(net.Call("echo", {}).AsText(), R"({"ok":true,"data":[]})");
}

TEST_F(NetConnectionTest, TimeoutIsReportedAsSuch) {
  net.SetReadTimeout(std::chrono::milliseconds(300));
  const std::string error = CallError("lento");
  server.Release();
  EXPECT_EQ(error, "Falha ao chamar lento em " + Where() + ": tempo esgotado aguardando a resposta");
}

TEST_F(NetConnectionTest, ArgumentsThatCannotBeSentSendNothing) {
  net.Open();
  EXPECT_NE(CallError("echo", {Variant::FromInt(3)}).find("argumento 1"), std::string::npos);
  EXPECT_NE(CallError("echo", {Variant::FromText("ok"), Variant::FromText("\xc3(")})
                .find("argumento 2 não é texto UTF-8 válido"),
            std::string::npos);
  EXPECT_EQ(server.Requests(), 1);  // the connection check alone
}

TEST_F(NetConnectionTest, OpenChecksThatTheServiceAnswers) {
  net.SetServerName("OUTRO.rdmNada");
  try {
    net.Open();
    FAIL() << "no error";
  } catch (const ENetError& e) {
    EXPECT_EQ(std::string(e.what()), "Falha ao conectar ao serviço OUTRO.rdmNada em " + Where() +
                                         ": o servidor respondeu HTTP 404");
  }
  EXPECT_FALSE(net.Connected());
}

TEST_F(NetConnectionTest, BeforeConnectFailureLeavesItClosed) {
  net.BeforeConnect = [](TObject*) { throw EPlatformError("sem configuração"); };
  EXPECT_THROW(net.Open(), EPlatformError);
  EXPECT_FALSE(net.Connected());
}

TEST(NetConnectionRefusedTest, RefusedConnectionRaisesEvenWithoutThrowException) {
  // A port that was free a moment ago and on which nothing listens.
  int port = 0;
  {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    socklen_t len = sizeof addr;
    ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len), 0);
    port = ntohs(addr.sin_port);
    ::close(fd);
  }
  TNetConnection net("netProdDeso");
  net.ThrowException = false;
  net.SetServerName(kService);
  net.SetHost("127.0.0.1");
  net.SetPort(port);
  const std::string where = "127.0.0.1:" + std::to_string(port);
  try {
    net.Call("getDados", {});
    FAIL() << "no error";
  } catch (const ENetError& e) {
    EXPECT_EQ(std::string(e.what()), "Falha ao conectar ao serviço " + kService +
                                         " em " + where + ": conexão recusada");
  }
  net.SetPort(0);
  EXPECT_THROW(net.Open(), ENetError);
  EXPECT_FALSE(net.Connected());
}

TEST(NetConnectionCancelTest, CancelEndsAStalledExchangeAsABrokenConnectionAndTheNextCallConnectsAgain) {
  // A listener that never accepts: the connection completes in the backlog and hears nothing.
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(fd, 8), 0);
  socklen_t length = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length);
  TNetConnection net;
  EXPECT_EQ(net.ReadTimeout(), std::chrono::seconds(120));
  net.SetHost("127.0.0.1");
  net.SetPort(ntohs(addr.sin_port));
  net.SetServerName("Servico");
  std::atomic<bool> running{false};
  TNetConnection::SetCallRunner([&](const std::function<void()>& exchange) {
    running = true;
    exchange();
  });
  std::string failure;
  std::thread caller([&] {
    try {
      net.Call("getDados", {});
    } catch (const ENetError& e) {
      failure = e.what();
    }
  });
  // Cancelled over and over until the call ends (a cancel before the exchange begins is lost).
  for (int i = 0; i < 600 && failure.empty(); ++i) {
    if (running) TNetConnection::CancelCalls();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  caller.join();
  TNetConnection::SetCallRunner({});
  ::close(fd);
  EXPECT_EQ(failure, "Falha ao conectar ao serviço Servico em 127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) +
                         ": chamada cancelada pelo usuário");
  EXPECT_FALSE(net.Connected());
  // With nothing under way, a cancel is a no-op.
  TNetConnection::CancelCalls();
}

}  // namespace
}  // namespace host
