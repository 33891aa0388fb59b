// A connection cut in the middle of a load's answer: the call fails as a broken connection does,
// the record sets keep what they held, and the next call works on a new connection.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "host/data/ClientDataSet.h"
#include "host/data/RawResult.h"
#include "host/net/NetConnection.h"

namespace host {
namespace {

constexpr const char* kService = "PDI07310.rdmProdDesoneraImpos";

// A loopback server that answers the service check, then answers each call with `answer`, where
// it either sends the whole of `body` or only its first `cutAt` bytes and closes the connection.
// Every wait is bounded (100 ms polls while the test runs).
class CutServer {
 public:
  CutServer(std::string head, std::string body, std::size_t cutAt)
      : head_(std::move(head)), body_(std::move(body)), cutAt_(cutAt) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listener_, 8) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
      ADD_FAILURE() << "cannot listen: " << std::strerror(errno);
      return;
    }
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~CutServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (listener_ >= 0) ::close(listener_);
  }
  int Port() const { return port_; }
  // From now on calls get the whole answer.
  void Heal() { cutAt_ = std::string::npos; }

 private:
  static bool Ready(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 100) > 0;
  }
  bool Send(int fd, std::string_view data) {
    while (!data.empty() && !stop_) {
      const ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
      if (n <= 0) return false;
      data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
  }
  void Serve() {
    while (!stop_) {
      if (!Ready(listener_)) continue;
      const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      Converse(fd);
      ::close(fd);
    }
  }
  void Converse(int fd) {
    std::string in;
    char buffer[4096];
    while (!stop_) {
      const std::size_t end = in.find("\r\n\r\n");
      if (end == std::string::npos) {
        if (!Ready(fd)) continue;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) return;
        in.append(buffer, static_cast<std::size_t>(n));
        continue;
      }
      const std::string request = in.substr(0, end);
      std::size_t bodyLength = 0;
      if (const auto at = request.find("Content-Length: "); at != std::string::npos)
        bodyLength = std::stoul(request.substr(at + 16));
      while (in.size() < end + 4 + bodyLength && !stop_) {
        if (!Ready(fd)) continue;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) return;
        in.append(buffer, static_cast<std::size_t>(n));
      }
      // The answer carries the request's id (one digit: the test makes few calls).
      const std::size_t idAt = in.find("\"id\":", end);
      const char id = idAt == std::string::npos ? '1' : in[idAt + 5];
      in.erase(0, end + 4 + bodyLength);
      if (request.starts_with("GET")) {
        if (!Send(fd, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}")) return;
        continue;
      }
      const std::size_t cut = cutAt_;
      std::string body = body_;
      if (const auto at = body.find("\"id\":1,"); at != std::string::npos) body[at + 5] = id;
      if (!Send(fd, head_)) return;
      if (cut != std::string::npos) {
        Send(fd, std::string_view(body).substr(0, cut));
        return;  // the connection is cut
      }
      if (!Send(fd, body)) return;
      if (head_.find("Connection: close") != std::string::npos) return;  // the end is the close
    }
  }

  std::string head_;
  std::string body_;
  std::atomic<std::size_t> cutAt_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
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
      net.SetServerName(kService);
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
