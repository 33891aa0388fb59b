#include "desktop/ServerProbe.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace desktop {

namespace {

struct AddrInfoCloser {
  void operator()(addrinfo* info) const noexcept { freeaddrinfo(info); }
};

// A socket descriptor closed on scope exit.
class Socket {
 public:
  explicit Socket(int fd) : fd_(fd) {}
  ~Socket() {
    if (fd_ >= 0) ::close(fd_);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int Get() const { return fd_; }

 private:
  int fd_;
};

std::string ErrnoText(int error) {
  switch (error) {
    case ECONNREFUSED:
      return "conexão recusada";
    case ETIMEDOUT:
      return "tempo esgotado ao conectar";
    case EHOSTUNREACH:
    case ENETUNREACH:
      return "endereço inalcançável";
    default:
      return std::strerror(error);
  }
}

bool TryConnect(const addrinfo& ai, std::chrono::milliseconds timeout, std::string& reason) {
  Socket s(::socket(ai.ai_family, ai.ai_socktype | SOCK_CLOEXEC, ai.ai_protocol));
  if (s.Get() < 0) {
    reason = ErrnoText(errno);
    return false;
  }
  const int flags = ::fcntl(s.Get(), F_GETFL, 0);
  ::fcntl(s.Get(), F_SETFL, flags | O_NONBLOCK);
  if (::connect(s.Get(), ai.ai_addr, ai.ai_addrlen) == 0) return true;
  if (errno != EINPROGRESS) {
    reason = ErrnoText(errno);
    return false;
  }
  pollfd p{s.Get(), POLLOUT, 0};
  const int ready = ::poll(&p, 1, static_cast<int>(timeout.count()));
  if (ready <= 0) {
    reason = "tempo esgotado ao conectar";
    return false;
  }
  int error = 0;
  socklen_t length = sizeof error;
  ::getsockopt(s.Get(), SOL_SOCKET, SO_ERROR, &error, &length);
  if (error != 0) {
    reason = ErrnoText(error);
    return false;
  }
  return true;
}

}  // namespace

bool ServerProbe::Reachable(const std::string& host, int port, std::chrono::milliseconds timeout,
                            std::string* reason) {
  std::string why;
  auto fail = [&](std::string text) {
    if (reason) *reason = std::move(text);
    return false;
  };
  if (host.empty()) return fail("endereço do servidor não informado");
  if (port < 1 || port > 65535) return fail("porta inválida " + std::to_string(port));
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* raw = nullptr;
  const int rc = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &raw);
  if (rc != 0) return fail(std::string("endereço desconhecido (") + gai_strerror(rc) + ")");
  std::unique_ptr<addrinfo, AddrInfoCloser> list(raw);
  for (const addrinfo* ai = list.get(); ai; ai = ai->ai_next) {
    if (TryConnect(*ai, timeout, why)) return true;
  }
  return fail(why.empty() ? "sem endereço utilizável" : why);
}

}  // namespace desktop
