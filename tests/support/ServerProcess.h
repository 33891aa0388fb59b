// Test support: the one way tests and benchmarks start a server. ServerProcess runs a
// pdi07310-server binary as a child process serving a database on a free loopback port: it starts
// `BINARY serve --db DB --create --listen 127.0.0.1:0 …` (a fresh DB is made), waits until the
// server prints "listening on" with the address, and keeps reading the server's log (so the log
// never fills its pipe and blocks the server). Stop, or the destructor, sends SIGTERM and waits; a
// server that does not stop within the limit is killed, so nothing is left running.
//
// Not copyable or movable. The accessors are thread-safe.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace testsupport {

class ServerProcess {
 public:
  // Starts the server. Raises std::runtime_error (with the server's log) when it exits or does not
  // report its address within startTimeout.
  ServerProcess(const std::string& binary, const std::string& db, const std::vector<std::string>& extraArgs = {},
                std::chrono::milliseconds startTimeout = std::chrono::seconds(30));
  ~ServerProcess();
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  int Port() const { return port_; }
  pid_t Pid() const { return pid_; }
  // "/PDI07310.rdmProdDesoneraImpos"
  static std::string Path();

  // Sends SIGTERM and waits up to timeout (then kills). Returns the exit status as from waitpid's
  // WEXITSTATUS, or 128 + signal when it ended by a signal. Later calls return the same status.
  int Stop(std::chrono::milliseconds timeout = std::chrono::seconds(30));

  // True while the child has not exited.
  bool Running();

  // Everything the server wrote on stderr so far.
  std::string Log() const;
  // The log once it holds text, or as it is when deadline passes first: a line the server writes
  // after answering reaches the test through a pipe some moments later.
  std::string LogOnceItHolds(std::string_view text,
                             std::chrono::milliseconds deadline = std::chrono::seconds(10)) const;
  // Whether the log holds text by the deadline.
  bool LogShows(std::string_view text, std::chrono::milliseconds deadline = std::chrono::seconds(10)) const {
    return LogOnceItHolds(text, deadline).find(text) != std::string::npos;
  }

 private:
  void ReadLog(int fd);
  std::optional<int> Reap(bool wait);

  pid_t pid_ = -1;
  int port_ = 0;
  std::optional<int> status_;
  std::thread reader_;
  mutable std::mutex mutex_;
  mutable std::condition_variable grew_;  // log_ grew
  std::string log_;
};

}  // namespace testsupport
