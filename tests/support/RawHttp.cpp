#include "tests/support/RawHttp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <stdexcept>
#include <utility>

namespace testsupport {
namespace {

using Clock = std::chrono::steady_clock;

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The end of the head ("\r\n\r\n" included) in text, or npos.
size_t HeadEnd(const std::string& text) {
  const size_t at = text.find("\r\n\r\n");
  return at == std::string::npos ? at : at + 4;
}

// Decodes a chunked body that starts at `from`; the offset just past its end, or npos when it is
// not all there yet.
size_t ChunkedEnd(const std::string& text, size_t from, std::string* body) {
  size_t at = from;
  while (true) {
    const size_t line = text.find("\r\n", at);
    if (line == std::string::npos) return std::string::npos;
    const size_t size = std::stoul(text.substr(at, line - at), nullptr, 16);
    at = line + 2;
    if (size == 0) {
      const size_t end = text.find("\r\n", at);  // no trailers are sent
      return end == std::string::npos ? end : end + 2;
    }
    if (text.size() < at + size + 2) return std::string::npos;
    if (body) body->append(text, at, size);
    at += size + 2;
  }
}

}  // namespace

RawConnection::RawConnection(int port, const std::string& from, int receiveBuffer) {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) throw std::runtime_error("socket failed");
  // Before connecting, so the window the server sees is small from the start.
  if (receiveBuffer > 0) setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
  if (!from.empty()) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, from.c_str(), &local.sin_addr);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
      ::close(fd_);
      throw std::runtime_error("cannot bind to " + from);
    }
  }
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, "127.0.0.1", &addr.sin_addr);
  if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd_);
    throw std::runtime_error("cannot connect to port " + std::to_string(port));
  }
  int yes = 1;
  setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
}

RawConnection::~RawConnection() {
  if (fd_ >= 0) ::close(fd_);
}

bool RawConnection::Send(const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

void RawConnection::ShutdownWrite() { ::shutdown(fd_, SHUT_WR); }

bool RawConnection::ReadSome(Clock::time_point until) {
  if (closed_) return false;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
  if (left <= 0) return false;
  pollfd p{fd_, POLLIN, 0};
  if (::poll(&p, 1, static_cast<int>(left)) <= 0) return false;
  char buffer[65536];
  const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
  if (n <= 0) {
    closed_ = true;
    return false;
  }
  pending_.append(buffer, static_cast<size_t>(n));
  return true;
}

std::string RawConnection::ReadUntilClosed(std::chrono::milliseconds deadline) {
  const auto until = Clock::now() + deadline;
  while (ReadSome(until)) {
  }
  return std::exchange(pending_, std::string());
}

bool RawConnection::ClosedWithin(std::chrono::milliseconds deadline) {
  const auto until = Clock::now() + deadline;
  while (!closed_ && Clock::now() < until) ReadSome(until);
  return closed_;
}

std::optional<std::string> RawConnection::ReadResponse(std::chrono::milliseconds deadline) {
  const auto until = Clock::now() + deadline;
  while (true) {
    const size_t head = HeadEnd(pending_);
    if (head != std::string::npos) {
      const std::string headText = pending_.substr(0, head);
      // An interim 100 Continue is not the answer.
      if (StatusOf(headText) == 100) {
        pending_.erase(0, head);
        continue;
      }
      size_t end = std::string::npos;
      const std::string length = HeaderOf(headText, "Content-Length");
      if (Lower(HeaderOf(headText, "Transfer-Encoding")) == "chunked") {
        end = ChunkedEnd(pending_, head, nullptr);
      } else if (!length.empty()) {
        const size_t n = std::stoul(length);
        if (pending_.size() >= head + n) end = head + n;
      } else if (closed_) {
        end = pending_.size();  // ends with the connection
      }
      if (end != std::string::npos) {
        std::string response = pending_.substr(0, end);
        pending_.erase(0, end);
        return response;
      }
    }
    if (!ReadSome(until)) {
      if (closed_ && head != std::string::npos) continue;  // a body that ends with the connection
      return std::nullopt;
    }
  }
}

int StatusOf(const std::string& response) {
  if (response.rfind("HTTP/1.", 0) != 0 || response.size() < 12) return 0;
  return std::atoi(response.c_str() + 9);
}

std::string HeaderOf(const std::string& response, const std::string& name) {
  const std::string head = Lower(response.substr(0, HeadEnd(response)));
  const std::string key = "\r\n" + Lower(name) + ":";
  const size_t at = head.find(key);
  if (at == std::string::npos) return "";
  size_t start = at + key.size();
  const size_t end = head.find("\r\n", start);
  while (start < end && response[start] == ' ') ++start;
  return response.substr(start, end - start);
}

std::string BodyOf(const std::string& response) {
  const size_t head = HeadEnd(response);
  if (head == std::string::npos) return "";
  if (Lower(HeaderOf(response, "Transfer-Encoding")) == "chunked") {
    std::string body;
    ChunkedEnd(response, head, &body);
    return body;
  }
  return response.substr(head);
}

std::string RequestBytes(const std::string& method, const std::string& path, const std::string& body,
                         const std::string& extraHeaders) {
  return method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n" + extraHeaders +
         "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

}  // namespace testsupport
