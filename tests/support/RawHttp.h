// Test support: a raw TCP client for the tests and benchmarks of the server's edge: it sends exactly the bytes
// it is given (malformed, slow, partial, pipelined) and reads what comes back with a deadline, so
// a test can act as a hostile or broken client would.
//
// Not thread-safe; not copyable.
#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace testsupport {

class RawConnection {
 public:
  // Connects to 127.0.0.1:port, from the loopback address `from` when given (e.g. "127.0.0.2",
  // another client address on the same machine), with a receive buffer of that many bytes when
  // given (a client that takes an answer slowly, or not at all, holds it in the server sooner).
  // Throws std::runtime_error when it cannot.
  explicit RawConnection(int port, const std::string& from = "", int receiveBuffer = 0);
  ~RawConnection();
  RawConnection(const RawConnection&) = delete;
  RawConnection& operator=(const RawConnection&) = delete;

  // Sends all of bytes; false when the connection refused them (closed or reset).
  bool Send(const std::string& bytes);
  // Half-closes: no more bytes will be sent, answers can still be read.
  void ShutdownWrite();

  // Reads until the peer closes or the deadline passes; returns everything read.
  std::string ReadUntilClosed(std::chrono::milliseconds deadline);
  // True when the peer closed (or reset) the connection within the deadline.
  bool ClosedWithin(std::chrono::milliseconds deadline);
  // Reads one whole HTTP response (Content-Length or chunked body, or until close), within the
  // deadline; nothing when none arrived whole. Bytes after it stay for the next call.
  std::optional<std::string> ReadResponse(std::chrono::milliseconds deadline);

  int Fd() const { return fd_; }

 private:
  // Reads what is available within the deadline into pending_; false on close, error or timeout.
  bool ReadSome(std::chrono::steady_clock::time_point until);

  int fd_ = -1;
  std::string pending_;
  bool closed_ = false;
};

// The status code of a raw response ("HTTP/1.1 413 …" gives 413), or 0.
int StatusOf(const std::string& response);
// The value of a header of a raw response ("" when absent); the name in any case.
std::string HeaderOf(const std::string& response, const std::string& name);
// The body of a raw response, de-chunked when it was sent chunked.
std::string BodyOf(const std::string& response);

// A request as bytes: method, path, extra header lines ("Name: value\r\n" each) and a body sent
// with Content-Length.
std::string RequestBytes(const std::string& method, const std::string& path, const std::string& body,
                         const std::string& extraHeaders = "");

}  // namespace testsupport
