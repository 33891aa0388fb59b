// The connection's access token: sent as a bearer token with the connection check and every call,
// taken from the host services when the connection has none of its own; a refusal (HTTP 401)
// and a token that cannot travel in a header fail with a message, sending nothing in the latter.
#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "host/net/NetConnection.h"
#include "host/services/HostLib.h"
#include "host/services/ScriptedHost.h"
#include "host/wire/JsonRpcRequest.h"
#include "host/wire/JsonRpcResponse.h"
#include "host/wire/PacketWriter.h"
#include "host/wire/RawResult.h"

namespace host {
namespace {

constexpr const char* kService = "PDI07310.rdmProdDesoneraImpos";

// A server on a free loopback port that lets in only "Bearer good" or "Bearer from-host" and
// answers a call with the Authorization header it received.
class TokenServer {
 public:
  TokenServer() {
    const std::string path = "/" + std::string(kService);
    server_.Get(path, [this](const httplib::Request& req, httplib::Response& res) {
      if (Allowed(req, res)) res.set_content("{}", "application/json");
    });
    server_.Post(path, [this](const httplib::Request& req, httplib::Response& res) {
      if (!Allowed(req, res)) return;
      std::string data;
      wire::PacketWriter::AppendJsonString(data, req.get_header_value("Authorization"));
      const auto call = wire::JsonRpcRequest::Parse(req.body);
      res.set_content(wire::JsonRpcResponse::Result(call.IdJson(), wire::RawResult::Ok(data)), "application/json");
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::yield();
  }
  ~TokenServer() {
    server_.stop();
    thread_.join();
  }
  int Port() const { return port_; }
  int Requests() const { return requests_; }
  std::vector<std::string> Seen() {
    std::lock_guard lock(mutex_);
    return seen_;
  }

 private:
  bool Allowed(const httplib::Request& req, httplib::Response& res) {
    ++requests_;
    const std::string header = req.get_header_value("Authorization");
    {
      std::lock_guard lock(mutex_);
      seen_.push_back(req.method + " " + header);
    }
    if (header == "Bearer good" || header == "Bearer from-host") return true;
    res.status = 401;
    res.set_content(R"({"status":401,"error":"a valid access token is required"})", "application/json");
    return false;
  }

  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
  std::atomic<int> requests_{0};
  std::mutex mutex_;
  std::vector<std::string> seen_;
};

class NetConnectionTokenTest : public ::testing::Test {
 protected:
  NetConnectionTokenTest() {
    net.SetServerName(kService);
    net.SetHost("127.0.0.1");
    net.SetPort(server.Port());
  }
  ~NetConnectionTokenTest() override { SetHostServices(nullptr); }

  std::string Echo() { return net.Call("echo", {}).AsText(); }

  TokenServer server;
  TNetConnection net;
  ScriptedHost host;
};

TEST_F(NetConnectionTokenTest, OwnTokenGoesWithTheCheckAndEveryCall) {
  net.SetAccessToken("good");
  EXPECT_EQ(Echo(), R"({"ok":true,"data":"Bearer good"})");
  EXPECT_EQ(Echo(), R"({"ok":true,"data":"Bearer good"})");
  EXPECT_EQ(server.Seen(), (std::vector<std::string>{"GET Bearer good", "POST Bearer good", "POST Bearer good"}));
}

TEST_F(NetConnectionTokenTest, WithoutAnOwnTokenTheHostsIsSentAndAnOwnOneWins) {
  host.SetAccessToken("from-host");
  SetHostServices(&host);
  EXPECT_EQ(Echo(), R"({"ok":true,"data":"Bearer from-host"})");
  net.SetAccessToken("good");
  EXPECT_EQ(Echo(), R"({"ok":true,"data":"Bearer good"})");
}

TEST_F(NetConnectionTokenTest, NoTokenAnywhereSendsNoHeaderAndTheRefusalSaysWhy) {
  try {
    Echo();
    FAIL() << "a refused connection was taken as open";
  } catch (const ENetError& e) {
    EXPECT_STREQ(e.what(),
                 ("Falha ao conectar ao serviço PDI07310.rdmProdDesoneraImpos em 127.0.0.1:" +
                  std::to_string(server.Port()) +
                  ": o servidor recusou o acesso (HTTP 401): token de acesso ausente ou inválido")
                     .c_str());
  }
  EXPECT_FALSE(net.Connected());
  EXPECT_EQ(server.Seen(), (std::vector<std::string>{"GET "}));
  net.SetAccessToken("wrong");
  EXPECT_THROW(Echo(), ENetError);
}

TEST_F(NetConnectionTokenTest, ATokenThatCannotTravelInAHeaderSendsNothing) {
  const std::vector<std::string> tokens = {"two words", "line\r\nX-Injected: 1", std::string("nul\0x", 5), "ação"};
  for (const std::string& token : tokens) {
    net.SetAccessToken(token);
    try {
      Echo();
      FAIL() << "sent with the token " << token;
    } catch (const ENetError& e) {
      EXPECT_NE(std::string(e.what()).find("token de acesso inválido"), std::string::npos) << e.what();
    }
  }
  EXPECT_EQ(server.Requests(), 0);
}

}  // namespace
}  // namespace host
