// Benchmark of the server's edge under a crowd of useless connections: 300 idle connections and
// 100 that trickle a request head one byte a second are held open (each reopened when the server
// drops it), from other loopback addresses, while legitimate clients make getVd_Fornecedor
// checks. Prints the latency of the checks (median, 99th percentile, worst) with and without the
// crowd, and how many did not get an answer within 5 s.
//
// Usage: bench_edge [--server PATH] [--idle N] [--trickle N] [--calls N] [--clients N] [--dir DIR]
// --server runs another build of pdi07310-server (an older release, to compare in one run).
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/wire/JsonRpcRequest.h"
#include "tests/support/Programs.h"
#include "tests/support/RawHttp.h"
#include "tests/support/ServerProcess.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;
using testsupport::RawConnection;

struct Options {
  std::string server = testsupport::ServerBinary();
  std::string dir;
  int idle = 300;
  int trickle = 100;
  int calls = 2000;
  int clients = 4;
};

// Keeps `count` connections from `from` open, each sending a byte of a never-ending head every
// second when trickling; a connection the server closed is opened again.
class Crowd {
 public:
  Crowd(int port, int count, const std::string& from, bool trickling)
      : port_(port), from_(from), trickling_(trickling) {
    for (int i = 0; i < count; ++i) conns_.push_back(Open());
    thread_ = std::thread([this] { Keep(); });
  }
  ~Crowd() {
    stop_ = true;
    thread_.join();
  }
  int Reopened() const { return reopened_; }

 private:
  std::unique_ptr<RawConnection> Open() {
    try {
      auto c = std::make_unique<RawConnection>(port_, from_);
      if (trickling_) c->Send("POST /PDI07310.rdmProdDesoneraImpos HTTP/1.1\r\n");
      return c;
    } catch (const std::exception&) {
      return nullptr;
    }
  }
  void Keep() {
    while (!stop_) {
      for (auto& c : conns_) {
        if (stop_) break;
        if (!c || c->ClosedWithin(std::chrono::milliseconds(0)) || (trickling_ && !c->Send("X"))) {
          c = Open();
          ++reopened_;
        }
      }
      for (int i = 0; i < 10 && !stop_; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }

  int port_;
  std::string from_;
  bool trickling_;
  std::vector<std::unique_ptr<RawConnection>> conns_;
  std::atomic<bool> stop_{false};
  std::atomic<int> reopened_{0};
  std::thread thread_;
};

struct Latencies {
  std::vector<double> ms;
  int failed = 0;
};

Latencies Checks(int port, int clients, int calls) {
  Latencies all;
  std::mutex mutex;
  std::vector<std::thread> threads;
  for (int t = 0; t < clients; ++t) {
    threads.emplace_back([&, t] {
      httplib::Client http("127.0.0.1", port);
      http.set_keep_alive(true);
      http.set_tcp_nodelay(true);
      http.set_read_timeout(5, 0);
      http.set_connection_timeout(5, 0);
      Latencies mine;
      for (int i = 0; i < calls / clients; ++i) {
        const std::string body = host::wire::JsonRpcRequest::Write(
            i, "getVd_Fornecedor", {host::wire::JsonRpcParam::Text("P000000001"), host::wire::JsonRpcParam::Text("FOR1")});
        const auto start = Clock::now();
        const auto res = http.Post("/PDI07310.rdmProdDesoneraImpos", body, "application/json");
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        if (!res || res->status != 200) {
          ++mine.failed;
        } else {
          mine.ms.push_back(ms);
        }
        (void)t;
      }
      std::lock_guard<std::mutex> lock(mutex);
      all.ms.insert(all.ms.end(), mine.ms.begin(), mine.ms.end());
      all.failed += mine.failed;
    });
  }
  for (auto& t : threads) t.join();
  std::sort(all.ms.begin(), all.ms.end());
  return all;
}

void Print(const char* what, const Latencies& l) {
  const auto at = [&l](double q) { return l.ms.empty() ? 0.0 : l.ms[std::min(l.ms.size() - 1, size_t(q * l.ms.size()))]; };
  std::printf("%-34s calls %5zu  median %7.2f ms  p99 %8.2f ms  worst %8.2f ms  no answer in 5 s: %d\n", what,
              l.ms.size(), at(0.5), at(0.99), l.ms.empty() ? 0.0 : l.ms.back(), l.failed);
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    const std::string value = argv[i + 1];
    if (name == "--server") o.server = value;
    else if (name == "--dir") o.dir = value;
    else if (name == "--idle") o.idle = std::atoi(value.c_str());
    else if (name == "--trickle") o.trickle = std::atoi(value.c_str());
    else if (name == "--calls") o.calls = std::atoi(value.c_str());
    else if (name == "--clients") o.clients = std::atoi(value.c_str());
    else {
      std::fprintf(stderr, "unknown option %s\n", name.c_str());
      return 2;
    }
  }
  const fs::path dir = o.dir.empty() ? fs::temp_directory_path() / ("bench_edge." + std::to_string(getpid())) : fs::path(o.dir);
  fs::create_directories(dir);
  const std::string db = (dir / "server.db").string();
  fs::remove(db);
  const std::string demo = o.server + " demo --db " + db + " --local " + (dir / "local.db").string() +
                           " --products 1000 --rows-per-product 10 >/dev/null 2>&1";
  if (std::system(demo.c_str()) != 0) {
    std::fprintf(stderr, "demo failed: %s\n", demo.c_str());
    return 1;
  }
  std::printf("server: %s\n", o.server.c_str());
  {
    testsupport::ServerProcess process(o.server, db);
    Print("checks, quiet server", Checks(process.Port(), o.clients, o.calls));
    {
      Crowd idle(process.Port(), o.idle, "127.0.0.2", false);
      Crowd trickle(process.Port(), o.trickle, "127.0.0.3", true);
      std::this_thread::sleep_for(std::chrono::seconds(2));
      char what[80];
      std::snprintf(what, sizeof what, "checks, %d idle + %d trickling", o.idle, o.trickle);
      Print(what, Checks(process.Port(), o.clients, o.calls));
      std::printf("crowd connections reopened after the server dropped them: idle %d, trickling %d\n",
                  idle.Reopened(), trickle.Reopened());
    }
  }
  if (o.dir.empty()) fs::remove_all(dir);
  return 0;
}
