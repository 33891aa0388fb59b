// Benchmark of access with named users: the time of a sign-in at POST /login (one Argon2id
// verification and the session's row in the store), and of a getVd_Fornecedor check carrying a
// session token against the same check carrying a token of the tokens file, on one server of an
// SQLite store (--db postgresql://… for PostgreSQL). Prints median, 99th percentile and worst.
//
// Usage: bench_sign_in [--server PATH] [--db DB] [--sign-ins N] [--calls N]
#include <httplib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host/wire/JsonRpcRequest.h"
#include "tests/support/Programs.h"
#include "tests/support/ServerProcess.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr const char* kToken = "tok-bench-4Hq9Zs2Lx7Pw";

struct Latencies {
  std::vector<double> ms;
  int failed = 0;
};

void Print(const char* what, Latencies l) {
  std::sort(l.ms.begin(), l.ms.end());
  const auto at = [&l](double q) { return l.ms.empty() ? 0.0 : l.ms[std::min(l.ms.size() - 1, size_t(q * l.ms.size()))]; };
  std::printf("%-30s n %5zu  median %7.3f ms  p99 %7.3f ms  worst %7.3f ms  failed %d\n", what, l.ms.size(), at(0.5),
              at(0.99), l.ms.empty() ? 0.0 : l.ms.back(), l.failed);
}

template <class F>
Latencies Time(int n, F call) {
  Latencies l;
  for (int i = 0; i < n; ++i) {
    const auto start = Clock::now();
    const bool ok = call(i);
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    if (ok) l.ms.push_back(ms);
    else ++l.failed;
  }
  return l;
}

}  // namespace

int main(int argc, char** argv) {
  std::string binary = testsupport::ServerBinary(), db;
  int signIns = 50, calls = 3000;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i], value = argv[i + 1];
    if (name == "--server") binary = value;
    else if (name == "--db") db = value;
    else if (name == "--sign-ins") signIns = std::atoi(value.c_str());
    else if (name == "--calls") calls = std::atoi(value.c_str());
    else {
      std::fprintf(stderr, "unknown option %s\n", name.c_str());
      return 2;
    }
  }
  const fs::path dir = fs::temp_directory_path() / ("bench_sign_in." + std::to_string(getpid()));
  fs::create_directories(dir);
  if (db.empty()) db = (dir / "server.db").string();
  const std::string tokens = (dir / "tokens.txt").string();
  std::ofstream(tokens) << kToken << " bench\n";
  fs::permissions(tokens, fs::perms::owner_read | fs::perms::owner_write);
  const std::string setup = binary + " init --db '" + db + "' >/dev/null 2>&1; printf 'senha-do-bench\\n' | " + binary +
                            " user add --db '" + db + "' bench --role edicao --password-stdin >/dev/null";
  if (std::system(setup.c_str()) != 0) {
    std::fprintf(stderr, "setup failed: %s\n", setup.c_str());
    return 1;
  }
  {
    testsupport::ServerProcess process(binary, db, {"--tokens", tokens});
    httplib::Client http("127.0.0.1", process.Port());
    http.set_keep_alive(true);
    http.set_tcp_nodelay(true);
    std::string session;
    Print("sign-in (POST /login)", Time(signIns, [&](int) {
            const auto res = http.Post("/login", R"({"user":"bench","password":"senha-do-bench"})", "application/json");
            if (!res || res->status != 200) return false;
            const size_t start = res->body.find("\"token\":\"") + 9;
            session = res->body.substr(start, res->body.find('"', start) - start);
            return true;
          }));
    const std::string check = host::wire::JsonRpcRequest::Write(
        1, "getVd_Fornecedor", {host::wire::JsonRpcParam::Text("P1"), host::wire::JsonRpcParam::Text("F1")});
    const auto checks = [&](const std::string& token) {
      const httplib::Headers auth = {{"Authorization", "Bearer " + token}};
      return Time(calls, [&](int) {
        const auto res = http.Post(process.Path(), auth, check, "application/json");
        return res && res->status == 200;
      });
    };
    // Alternated rounds, so a slow moment of a shared machine does not fall on one side only.
    Latencies withToken, withSession;
    for (int round = 0; round < 4; ++round) {
      for (auto [from, into] : {std::pair{std::string(kToken), &withToken}, std::pair{session, &withSession}}) {
        const Latencies l = checks(from);
        into->ms.insert(into->ms.end(), l.ms.begin(), l.ms.end());
        into->failed += l.failed;
      }
    }
    Print("check, tokens-file token", withToken);
    Print("check, session token", withSession);
  }
  fs::remove_all(dir);
  return 0;
}
