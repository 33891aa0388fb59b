#include "tests/support/ServerProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "host/wire/ServiceName.h"

extern char** environ;

namespace testsupport {

std::string ServerProcess::Path() { return std::string(host::wire::kServicePath); }

ServerProcess::ServerProcess(const std::string& binary, const std::string& db, const std::vector<std::string>& extraArgs,
                             std::chrono::milliseconds startTimeout) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("cannot create a pipe for the server's log");
  std::vector<std::string> args = {binary, "serve", "--db", db, "--create", "--listen", "127.0.0.1:0"};
  args.insert(args.end(), extraArgs.begin(), extraArgs.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
  const int rc = posix_spawn(&pid_, binary.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (rc != 0) {
    close(fds[0]);
    throw std::runtime_error("cannot start " + binary);
  }
  reader_ = std::thread([this, fd = fds[0]] { ReadLog(fd); });

  // "listening on http://127.0.0.1:PORT/…", or https:// when the server speaks TLS.
  const std::string marker = "://127.0.0.1:";
  const auto deadline = std::chrono::steady_clock::now() + startTimeout;
  while (std::chrono::steady_clock::now() < deadline) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      const size_t listening = log_.find("listening on http");
      const size_t at = listening == std::string::npos ? listening : log_.find(marker, listening);
      if (at != std::string::npos) {
        const size_t start = at + marker.size();
        const size_t end = log_.find('/', start);
        if (end != std::string::npos) {
          port_ = std::stoi(log_.substr(start, end - start));
          return;
        }
      }
    }
    if (Reap(false)) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  Stop(std::chrono::seconds(5));
  throw std::runtime_error("the server did not start; its log:\n" + Log());
}

ServerProcess::~ServerProcess() { Stop(); }

void ServerProcess::ReadLog(int fd) {
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        log_.append(buffer, static_cast<size_t>(n));
      }
      grew_.notify_all();
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  close(fd);
}

std::optional<int> ServerProcess::Reap(bool wait) {
  if (status_ || pid_ <= 0) return status_;
  int raw = 0;
  const pid_t r = waitpid(pid_, &raw, wait ? 0 : WNOHANG);
  if (r == pid_) {
    status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + (WIFSIGNALED(raw) ? WTERMSIG(raw) : 0);
  } else if (r < 0) {
    status_ = 255;  // not our child any more; nothing left to wait for
  }
  return status_;
}

int ServerProcess::Stop(std::chrono::milliseconds timeout) {
  if (!Reap(false)) {
    kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!Reap(false) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!Reap(false)) {
      kill(pid_, SIGKILL);
      Reap(true);
    }
  }
  if (reader_.joinable()) reader_.join();
  return status_.value_or(255);
}

bool ServerProcess::Running() { return !Reap(false); }

std::string ServerProcess::Log() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return log_;
}

std::string ServerProcess::LogOnceItHolds(std::string_view text, std::chrono::milliseconds deadline) const {
  std::unique_lock<std::mutex> lock(mutex_);
  grew_.wait_for(lock, deadline, [&] { return log_.find(text) != std::string::npos; });
  return log_;
}

}  // namespace testsupport
