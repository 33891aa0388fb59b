// A connection cut in the middle of a load's answer: the call fails as a broken connection does,
// the record sets keep what they held, and the next call works on a new connection.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>

#include "host/data/ClientDataSet.h"
#include "host/data/RawResult.h"
#include "host/net/NetConnection.h"
#include "host/wire/ServiceName.h"
#include "tests/support/RawHttpStub.h"

namespace host {
namespace {

// A loopback server that answers the service check, then answers each call with `head` and
// then either the whole of `body` or only its first `cutAt` bytes, after which it closes the connection.
class CutServer {
 public:
  CutServer(std::string head, std::string body, std::size_t cutAt)
      : head_(std::move(head)),
        body_(std::move(body)),
        cutAt_(cutAt),
        stub_([this](int fd, const std::string&, const std::string& request) { return Answer(fd, request); }) {}
  int Port() const { return stub_.Port(); }
  // From now on calls get the whole answer.
  void Heal() { cutAt_ = std::string::npos; }

 private:
  bool Answer(int fd, const std::string& request) {
    // The answer carries the request's id (one digit: the test makes few calls).
    const std::size_t idAt = request.find("\"id\":");
    const char id = idAt == std::string::npos ? '1' : request[idAt + 5];
    const std::size_t cut = cutAt_;
    std::string body = body_;
    if (const auto at = body.find("\"id\":1,"); at != std::string::npos) body[at + 5] = id;
    if (!stub_.Send(fd, head_)) return false;
    if (cut != std::string::npos) {
      stub_.Send(fd, std::string_view(body).substr(0, cut));
      return false;  // the connection is cut
    }
    if (!stub_.Send(fd, body)) return false;
    return head_.find("Connection: close") == std::string::npos;  // else the end is the close
  }

  std::string head_;
  std::string body_;
  std::atomic<std::size_t> cutAt_;
  testsupport::RawHttpStub stub_;
};

std::string Packet(const std::string& field, int rows, const std::string& prefix) {
  std::string out = R"({"fields":[{"name":")" + field + R"(","size":10}],"rows":[)";
  for (int i = 0; i < rows; ++i) out += std::string(i ? "," : "") + "[\"" + prefix + std::to_string(i) + "\"]";
  return out + "]}";
}

std::string Rows(TClientDataSet& ds) {
  std::string out;
  for (ds.First(); !ds.Eof(); ds.Next()) out += ds.Fields()[0]->AsString() + ";";
  return out;
}

TEST(CutAnswer, ACutLoadFailsAsABrokenConnectionAndTheRecordSetsStayAsTheyWere) {
  // The answer in the server's shape; its bytes, framed as each kind of answer.
  const std::string answer = R"({"jsonrpc":"2.0","id":1,"result":{"ok":true,"data":[)" + Packet("A", 3000, "a") + "," +
                             Packet("B", 3000, "b") + "]}}";
  char size[32];
  std::snprintf(size, sizeof size, "%zx\r\n", answer.size());
  const std::string chunked = size + answer + "\r\n0\r\n\r\n";
  struct Framing {
    const char* head;
    std::string body;
  };
  const Framing framings[] = {
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", chunked},
      {"HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n", answer},
      {"HTTP/1.1 200 OK\r\n", "Content-Length: " + std::to_string(answer.size()) + "\r\n\r\n" + answer},
  };
  for (const Framing& framing : framings) {
    // Cut in the first packet, between the packets, in the second, and just before the end.
    for (const std::size_t cut : {std::size_t{200}, framing.body.find("]},{") + 2, framing.body.size() * 3 / 4,
                                  framing.body.size() - 3}) {
      CutServer server(framing.head, framing.body, cut);
      TNetConnection net{"netProdDeso"};
      net.SetHost("127.0.0.1");
      net.SetPort(server.Port());
      net.SetServerName(std::string(wire::kServiceName));
      net.SetReadTimeout(std::chrono::seconds(20));
      TClientDataSet a, b;
      a.AddField("A", 10);
      b.AddField("B", 10);
      a.SetData(Variant::MakeDataPacket(R"({"fields":[{"name":"A","size":10}],"rows":[["old a"]]})"));
      b.SetData(Variant::MakeDataPacket(R"({"fields":[{"name":"B","size":10}],"rows":[["old b"]]})"));

      std::string message;
      try {
        const RawResult raw = ParseRawResult(net.Call("getDados", {}));
        a.SetData(raw.data[0]);
        b.SetData(raw.data[1]);
      } catch (const ENetError& e) {
        message = e.what();
      }
      EXPECT_NE(message.find("Falha ao chamar getDados em 127.0.0.1:"), std::string::npos)
          << framing.head << " cut at " << cut << ": " << message;
      EXPECT_EQ(Rows(a), "old a;") << cut;
      EXPECT_EQ(Rows(b), "old b;") << cut;

      // The next call, whole, loads both sets.
      server.Heal();
      const RawResult raw = ParseRawResult(net.Call("getDados", {}));
      a.SetData(raw.data[0]);
      b.SetData(raw.data[1]);
      EXPECT_EQ(a.RecordCount(), 3000);
      EXPECT_EQ(b.RecordCount(), 3000);
      b.Last();
      EXPECT_EQ(b.Fields()[0]->AsString(), "b2999");
    }
  }
}

}  // namespace
}  // namespace host
