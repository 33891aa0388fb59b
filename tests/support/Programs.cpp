#include "tests/support/Programs.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>

extern char** environ;

// The build names the programs on this file only (tests/support/CMakeLists.txt).
#if !defined(PDI_SERVER_BINARY) || !defined(PDI_SCENARIO_BINARY) || !defined(PDI_SCREEN_MODULE)
#error "the build must name PDI_SERVER_BINARY, PDI_SCENARIO_BINARY and PDI_SCREEN_MODULE"
#endif

namespace testsupport {

std::string ServerBinary() {
  const char* other = std::getenv("PDI_TEST_SERVER_BINARY");
  return other && *other ? other : PDI_SERVER_BINARY;
}
std::string ScenarioBinary() { return PDI_SCENARIO_BINARY; }
std::string ScreenModule() { return PDI_SCREEN_MODULE; }

ProgramResult RunProgram(const std::vector<std::string>& argv, std::chrono::seconds timeout) {
  return RunProgram(argv, timeout, std::nullopt);
}

ProgramResult RunProgram(const std::vector<std::string>& argv, std::chrono::seconds timeout,
                         const std::optional<std::string>& input) {
  ProgramResult result;
  if (argv.empty()) return result;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return result;
  int in[2] = {-1, -1};
  if (input && pipe2(in, O_CLOEXEC) != 0) {
    close(fds[0]);
    close(fds[1]);
    return result;
  }
  std::vector<std::string> args = argv;
  std::vector<char*> cargs;
  for (std::string& a : args) cargs.push_back(a.data());
  cargs.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (input) posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  else posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, args[0].c_str(), &actions, nullptr, cargs.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (input) {
    close(in[0]);
    // What the program reads: the input, then the end (a pipe holds far more than a test gives;
    // a program that ended first must not take the test down with SIGPIPE).
    static const bool kNoSigpipe = signal(SIGPIPE, SIG_IGN) != SIG_ERR;
    if (rc == 0 && !input->empty() && kNoSigpipe) (void)!write(in[1], input->data(), input->size());
    close(in[1]);
  }
  if (rc != 0) {
    close(fds[0]);
    result.output = "cannot start " + args[0];
    return result;
  }
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  char buffer[4096];
  for (;;) {
    pollfd p{fds[0], POLLIN, 0};
    const int ready = poll(&p, 1, 100);
    if (ready > 0) {
      const ssize_t n = read(fds[0], buffer, sizeof buffer);
      if (n > 0) {
        result.output.append(buffer, static_cast<size_t>(n));
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      break;  // end of output: the program closed it or ended
    }
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      result.output += "\n[killed: " + args[0] + " did not end within " + std::to_string(timeout.count()) + " s]";
      break;
    }
  }
  close(fds[0]);
  int raw = 0;
  while (waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
  }
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + (WIFSIGNALED(raw) ? WTERMSIG(raw) : 0);
  return result;
}

int RunCommand(const std::vector<std::string>& argv, const std::filesystem::path& outputFile) {
  const ProgramResult result = RunProgram(argv);
  if (!outputFile.empty()) std::ofstream(outputFile, std::ios::binary | std::ios::trunc) << result.output;
  return result.status;
}

int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  int port = 0;
  if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
    port = ntohs(address.sin_port);
  }
  if (fd >= 0) close(fd);
  return port;
}

}  // namespace testsupport
