#include "TestCertificates.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace testsupport {

TestCertificates::TestCertificates() {
  static std::atomic<int> counter{0};
  dir_ = std::filesystem::temp_directory_path() /
         ("pdi_test_certs." + std::to_string(::getpid()) + "." + std::to_string(counter++));
  std::filesystem::remove_all(dir_);
  std::filesystem::create_directories(dir_);
  try {
    MakeCa("ca", "PDI07310 Test CA");
    MakeCa("untrusted-ca", "PDI07310 Untrusted Test CA");
    Issue("server", "localhost", "DNS:localhost,IP:127.0.0.1");
    Issue("wrong-name", "elsewhere.invalid", "DNS:elsewhere.invalid");
  } catch (...) {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
    throw;
  }
}

TestCertificates::~TestCertificates() {
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

void TestCertificates::MakeCa(const std::string& name, const std::string& commonName) {
  Openssl({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
           File((name + ".key").c_str()), "-out", File((name + ".pem").c_str()), "-days", "2", "-subj",
           "/CN=" + commonName, "-addext", "basicConstraints=critical,CA:TRUE", "-addext",
           "keyUsage=critical,keyCertSign,cRLSign"});
}

void TestCertificates::Issue(const std::string& name, const std::string& commonName, const std::string& san) {
  const std::string key = File((name + ".key").c_str());
  const std::string csr = File((name + ".csr").c_str());
  const std::string ext = File((name + ".ext").c_str());
  std::ofstream(ext) << "subjectAltName=" << san
                     << "\nbasicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                        "extendedKeyUsage=serverAuth\n";
  Openssl({"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", key, "-out",
           csr, "-subj", "/CN=" + commonName});
  static std::atomic<int> serial{2};
  Openssl({"x509", "-req", "-in", csr, "-CA", CaCert(), "-CAkey", File("ca.key"), "-set_serial",
           std::to_string(serial++), "-days", "2", "-extfile", ext, "-out", File((name + ".pem").c_str())});
}

void TestCertificates::Openssl(const std::vector<std::string>& args) {
  const std::string log = File("openssl.log");
  std::vector<std::string> argv{"openssl"};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> cargv;
  for (auto& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  pid_t pid = -1;
  const int spawned = posix_spawnp(&pid, "openssl", &actions, nullptr, cargv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::runtime_error("cannot run openssl (is it installed?)");

  // openssl takes milliseconds here; a minute means it hangs.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  int status = 0;
  for (;;) {
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) throw std::runtime_error("waitpid failed for openssl");
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      throw std::runtime_error("openssl " + args.front() + " did not finish within a minute");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::ostringstream output;
    output << std::ifstream(log).rdbuf();
    throw std::runtime_error("openssl " + args.front() + " failed: " + output.str());
  }
}

}  // namespace testsupport
