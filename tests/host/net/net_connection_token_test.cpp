// The connection's access token: sent as a bearer token with the connection check and every call,
// taken from the host services when the connection has none of its own; a refusal (HTTP 401)
// and a token that cannot travel in a header fail with a message, sending nothing in the latter.
#include <gtest/gtest.h>

#include "host/net/NetConnection.h"
#include "host/services/HostLib.h"
#include "host/services/ScriptedHost.h"
#include "host/wire/ServiceName.h"
#include "tests/host/net/StubService.h"

namespace host {
namespace {

class NetConnectionTokenTest : public ::testing::Test {
 protected:
  NetConnectionTokenTest() {
    net.SetServerName(std::string(wire::kServiceName));
    net.SetHost("127.0.0.1");
    net.SetPort(server.Port());
  }
  ~NetConnectionTokenTest() override { SetHostServices(nullptr); }

  // The Authorization header the server received with a call, as the call's result.
  std::string Authorization() { return net.Call("authorization", {}).AsText(); }

  // Lets in only "Bearer good" or "Bearer from-host".
  testsupport::StubService server{{{}, {}, {"good", "from-host"}}};
  TNetConnection net;
  ScriptedHost host;
};

TEST_F(NetConnectionTokenTest, OwnTokenGoesWithTheCheckAndEveryCall) {
  net.SetAccessToken("good");
  EXPECT_EQ(Authorization(), R"({"ok":true,"data":"Bearer good"})");
  EXPECT_EQ(Authorization(), R"({"ok":true,"data":"Bearer good"})");
  EXPECT_EQ(server.Seen(), (std::vector<std::string>{"GET Bearer good", "POST Bearer good", "POST Bearer good"}));
}

TEST_F(NetConnectionTokenTest, WithoutAnOwnTokenTheHostsIsSentAndAnOwnOneWins) {
  host.SetAccessToken("from-host");
  SetHostServices(&host);
  EXPECT_EQ(Authorization(), R"({"ok":true,"data":"Bearer from-host"})");
  net.SetAccessToken("good");
  EXPECT_EQ(Authorization(), R"({"ok":true,"data":"Bearer good"})");
}

TEST_F(NetConnectionTokenTest, NoTokenAnywhereSendsNoHeaderAndTheRefusalSaysWhy) {
  try {
    Authorization();
    FAIL() << "a refused connection was taken as open";
  } catch (const ENetError& e) {
    EXPECT_STREQ(e.what(),
                 ("Falha ao conectar ao serviço " + std::string(wire::kServiceName) + " em 127.0.0.1:" +
                  std::to_string(server.Port()) +
                  ": o servidor recusou o acesso (HTTP 401): token de acesso ausente ou inválido")
                     .c_str());
  }
  EXPECT_FALSE(net.Connected());
  EXPECT_EQ(server.Seen(), (std::vector<std::string>{"GET "}));
  net.SetAccessToken("wrong");
  EXPECT_THROW(Authorization(), ENetError);
}

TEST_F(NetConnectionTokenTest, ATokenThatCannotTravelInAHeaderSendsNothing) {
  const std::vector<std::string> tokens = {"two words", "line\r\nX-Injected: 1", std::string("nul\0x", 5), "ação"};
  for (const std::string& token : tokens) {
    net.SetAccessToken(token);
    try {
      Authorization();
      FAIL() << "sent with the token " << token;
    } catch (const ENetError& e) {
      EXPECT_NE(std::string(e.what()).find("token de acesso inválido"), std::string::npos) << e.what();
    }
  }
  EXPECT_EQ(server.Requests(), 0);
}

}  // namespace
}  // namespace host
