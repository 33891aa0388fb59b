// The connection against a hostile server: an answer larger than the cap, announced or endless,
// and a Content-Length no buffer can hold, all fail as ENetError with a clear message (never
// std::bad_alloc or std::length_error), for the connection check and for calls alike.
#include <cstdio>
#include <gtest/gtest.h>

#include <string>

#include "host/net/NetConnection.h"
#include "host/wire/ServiceName.h"
#include "tests/support/RawHttpStub.h"

namespace host {
namespace {

// A server on a free loopback port that answers each request with `head`, then, for an endless
// body, sends chunks (or raw bytes) until the client goes away. Requests for the service's
// description (GET) get a proper answer unless hostileGet. At most 256 MiB are sent per answer.
class HostileServer {
 public:
  enum class Body { None, EndlessChunks, EndlessBytes };

  HostileServer(std::string head, Body body, bool hostileGet = false)
      : head_(std::move(head)),
        body_(body),
        stub_([this](int fd, const std::string&, const std::string&) { return Answer(fd); }, hostileGet) {}
  int Port() const { return stub_.Port(); }

 private:
  // Sends the hostile answer; the connection always ends with it.
  bool Answer(int fd) {
    if (!stub_.Send(fd, head_) || body_ == Body::None) return false;  // the announced body never comes
    // An answer that reads well so far and never ends: a text that keeps growing. (Bytes that
    // are not an answer at all are refused at once, before any cap.)
    const std::string start = R"({"jsonrpc":"2.0","id":1,"result":")";
    const std::string piece(64 * 1024, 'x');
    const std::string chunk = "10000\r\n" + piece + "\r\n";
    char size[16];
    std::snprintf(size, sizeof size, "%zx\r\n", start.size());
    if (!stub_.Send(fd, body_ == Body::EndlessChunks ? size + start + "\r\n" : start)) return false;
    for (size_t sent = 0; sent < (size_t{256} << 20); sent += piece.size()) {
      if (!stub_.Send(fd, body_ == Body::EndlessChunks ? chunk : piece)) return false;
    }
    return false;
  }

  std::string head_;
  Body body_;
  testsupport::RawHttpStub stub_;
};

// The message of the ENetError a call raises (any other exception fails the test).
std::string CallFailure(TNetConnection& net) {
  try {
    net.Call("getDados", {});
  } catch (const ENetError& e) {
    return e.what();
  } catch (const std::exception& e) {
    ADD_FAILURE() << "not an ENetError: " << typeid(e).name() << ": " << e.what();
    return e.what();
  }
  ADD_FAILURE() << "the call succeeded";
  return {};
}

struct Connection {
  explicit Connection(int port) {
    net.SetServerName(std::string(wire::kServiceName));
    net.SetHost("127.0.0.1");
    net.SetPort(port);
    net.SetReadTimeout(std::chrono::seconds(20));
  }
  TNetConnection net;
};

TEST(NetConnectionLimits, AnAnnouncedAnswerOverTheCapIsRefusedBeforeItIsRead) {
  EXPECT_EQ(TNetConnection::kDefaultMaxAnswerBytes, std::uint64_t{2} << 30);
  for (const char* length : {"1099511627776", "99999999999999999999999", "-1"}) {
    HostileServer server(std::string("HTTP/1.1 200 OK\r\nContent-Length: ") + length + "\r\n\r\n",
                         HostileServer::Body::EndlessBytes);
    Connection c(server.Port());
    const std::string message = CallFailure(c.net);
    EXPECT_NE(message.find("Falha ao chamar getDados em 127.0.0.1:" + std::to_string(server.Port()) +
                           ": a resposta do servidor excede o limite de 2147483648 bytes; recebimento interrompido"),
              std::string::npos)
        << length << ": " << message;
  }
  // A smaller cap holds the same way.
  HostileServer server("HTTP/1.1 200 OK\r\nContent-Length: 104857600\r\n\r\n", HostileServer::Body::EndlessBytes);
  Connection c(server.Port());
  c.net.SetMaxAnswerBytes(1 << 20);
  EXPECT_NE(CallFailure(c.net).find("excede o limite de 1048576 bytes"), std::string::npos);
}

TEST(NetConnectionLimits, AnEndlessBodyIsCutAtTheCap) {
  for (const auto& [head, body] :
       {std::pair{"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", HostileServer::Body::EndlessChunks},
        std::pair{"HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n", HostileServer::Body::EndlessBytes}}) {
    HostileServer server(head, body);
    Connection c(server.Port());
    c.net.SetMaxAnswerBytes(4 << 20);
    EXPECT_NE(CallFailure(c.net).find("excede o limite de 4194304 bytes"), std::string::npos) << head;
  }
}

// A length no buffer can hold, under a cap that lets it through: nothing is reserved on its
// word, the buffer grows as bytes arrive, and the answer cut short is reported as such.
TEST(NetConnectionLimits, ALengthNoBufferCanHoldIsAFailureNotACrash) {
  HostileServer server("HTTP/1.1 200 OK\r\nContent-Length: 4611686018427387904\r\n\r\n{\"x\"",
                       HostileServer::Body::None);
  Connection c(server.Port());
  c.net.SetMaxAnswerBytes(UINT64_MAX);
  EXPECT_NE(CallFailure(c.net).find("a conexão foi encerrada antes da resposta completa"), std::string::npos);
}

TEST(NetConnectionLimits, TheConnectionCheckHasASmallCapOfItsOwn) {
  HostileServer server("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", HostileServer::Body::EndlessChunks,
                       /*hostileGet=*/true);
  Connection c(server.Port());
  try {
    c.net.Open();
    ADD_FAILURE() << "opened";
  } catch (const ENetError& e) {
    EXPECT_NE(std::string(e.what()).find("Falha ao conectar ao serviço " + std::string(wire::kServiceName) + " em 127.0.0.1:" +
                                         std::to_string(server.Port()) +
                                         ": a resposta do servidor excede o limite de 1048576 bytes"),
              std::string::npos)
        << e.what();
  }
  EXPECT_FALSE(c.net.Connected());
}

}  // namespace
}  // namespace host
