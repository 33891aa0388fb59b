// Test support: a loopback HTTP server made of raw sockets, for tests of the client against
// answers no real server gives (cut, oversized, endless, malformed). A thread accepts on a free
// loopback port and reads each request whole (head, then a Content-Length body). The service check
// (GET) gets an empty JSON object unless the stub is told to pass GETs on; every other request goes
// to the handler, which writes its answer with Send and says whether the connection goes on. One
// connection is served at a time. Every wait is a 100 ms poll while the stub lives, so a failing
// test never hangs on it; declare the stub after whatever its handler uses, so it stops first.
#pragma once

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

namespace testsupport {

class RawHttpStub {
 public:
  // Answers one request: its head (up to the blank line) and body. Returns whether to read the
  // next request of the connection; false closes it.
  using Handler = std::function<bool(int fd, const std::string& head, const std::string& body)>;

  explicit RawHttpStub(Handler handler, bool passGets = false)
      : handler_(std::move(handler)), passGets_(passGets) {
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
  ~RawHttpStub() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (listener_ >= 0) ::close(listener_);
  }
  RawHttpStub(const RawHttpStub&) = delete;
  RawHttpStub& operator=(const RawHttpStub&) = delete;

  int Port() const { return port_; }

  // Sends all of data unless the client goes away or the stub stops.
  bool Send(int fd, std::string_view data) const {
    while (!data.empty()) {
      if (stop_) return false;
      if (!Ready(fd, POLLOUT)) continue;
      const ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
      if (n <= 0) return false;
      data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
  }

 private:
  static bool Ready(int fd, short events) {
    pollfd p{fd, events, 0};
    return ::poll(&p, 1, 100) > 0;
  }

  void Serve() {
    while (!stop_) {
      if (!Ready(listener_, POLLIN)) continue;
      const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      Converse(fd);
      ::close(fd);
    }
  }

  // Reads more of the connection into `in`; false when it closed or the stub stops.
  bool ReadMore(int fd, std::string& in) const {
    char buffer[4096];
    while (!stop_) {
      if (!Ready(fd, POLLIN)) continue;
      const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) return false;
      in.append(buffer, static_cast<std::size_t>(n));
      return true;
    }
    return false;
  }

  void Converse(int fd) {
    std::string in;
    while (!stop_) {
      const std::size_t end = in.find("\r\n\r\n");
      if (end == std::string::npos) {
        if (!ReadMore(fd, in)) return;
        continue;
      }
      const std::string head = in.substr(0, end);
      std::size_t bodyLength = 0;
      if (const auto at = head.find("Content-Length: "); at != std::string::npos)
        bodyLength = std::stoul(head.substr(at + 16));
      while (in.size() < end + 4 + bodyLength)
        if (!ReadMore(fd, in)) return;
      const std::string body = in.substr(end + 4, bodyLength);
      in.erase(0, end + 4 + bodyLength);
      if (head.starts_with("GET") && !passGets_) {
        if (!Send(fd, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}")) return;
        continue;
      }
      if (!handler_(fd, head, body)) return;
    }
  }

  Handler handler_;
  bool passGets_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace testsupport
