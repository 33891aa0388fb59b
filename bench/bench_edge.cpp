// Benchmark of the server's edge under attack: legitimate getVd_Fornecedor checks (4 clients on
// loopback) while hostile clients, from other loopback addresses, do one thing each:
//
//   crowd       300 idle connections and 100 that trickle a request head one byte a second
//   announce    24 connections that send a head announcing a body (chunked, a 64 MiB length, a
//               wait for 100-continue) and then nothing
//   framing     4 connections sending chunk extensions without end (up to 1 GiB each)
//   headers     connections sending heads of 10,000 empty header fields, one after the other
//   batches     80 connections each sending a batch of 256 getHistorico on a product with 1,000
//               history rows, reading nothing
//   heavy       one connection sending such batches back to back and reading them, on a server
//               of 2 threads (its lane is shared with the checks')
//   idle        8 addresses x 512 connections that never send a request (the connection cap)
//   localdb     512 connections asking for the local database and reading nothing
//   streams     64 connections asking for getDados and reading nothing
//   slowreaders 8 readers of getDados at 10 KB/s, one every 2 s, with two save loops (SQLite's
//               write-ahead log is measured during and after)
//   saves       4 clients saving as fast as they can (one pair a save)
//
// Each attack runs against a fresh server; for each the bench prints the checks' median, 99th
// percentile and worst latency, how many got no answer within 5 s, and the server's peak memory
// (VmHWM). A quiet run comes first. The store holds 100,000 products x 10 related rows (the size
// the edge was probed at); --products scales it.
//
// Usage: bench_edge [--server PATH] [--dir DIR] [--attacks a,b,...] [--calls N] [--clients N]
//                   [--products N] [--seconds S]
// --server runs another build of pdi07310-server (an older release, to compare in one run).
#include <httplib.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host/wire/JsonRpcRequest.h"
#include "host/wire/PacketWriter.h"
#include "tests/support/Programs.h"
#include "tests/support/RawHttp.h"
#include "tests/support/ServerProcess.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;
using host::wire::JsonRpcParam;
using host::wire::JsonRpcRequest;
using testsupport::RawConnection;
using std::chrono::milliseconds;

const std::string kPath = "/PDI07310.rdmProdDesoneraImpos";

struct Options {
  std::string server = testsupport::ServerBinary();
  std::string dir;
  std::vector<std::string> attacks = {"crowd",   "announce", "framing", "headers", "batches", "heavy",
                                      "idle",    "localdb",  "streams", "slowreaders", "saves"};
  int calls = 2000;
  int clients = 4;
  int products = 100000;
  int seconds = 2;  // the attack runs this long before the checks begin
};

// ---- The legitimate checks --------------------------------------------------------------------

struct Latencies {
  std::vector<double> ms;
  int failed = 0;
};

std::string CheckBody(int id) {
  return JsonRpcRequest::Write(id, "getVd_Fornecedor", {JsonRpcParam::Text("P000000001"), JsonRpcParam::Text("FOR1")});
}

Latencies Checks(int port, int clients, int calls) {
  Latencies all;
  std::mutex mutex;
  std::vector<std::thread> threads;
  for (int t = 0; t < clients; ++t) {
    threads.emplace_back([&] {
      httplib::Client http("127.0.0.1", port);
      http.set_keep_alive(true);
      http.set_tcp_nodelay(true);
      http.set_read_timeout(5, 0);
      http.set_connection_timeout(5, 0);
      Latencies mine;
      for (int i = 0; i < calls / clients; ++i) {
        const auto start = Clock::now();
        const auto res = http.Post(kPath, CheckBody(i), "application/json");
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        if (!res || res->status != 200) {
          ++mine.failed;
        } else {
          mine.ms.push_back(ms);
        }
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

// The server's peak resident memory so far, in MB (VmHWM).
double PeakMb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
  }
  return 0;
}

void Print(const std::string& what, const Latencies& l, double peakMb, const std::string& note) {
  const auto at = [&l](double q) { return l.ms.empty() ? 0.0 : l.ms[std::min(l.ms.size() - 1, size_t(q * l.ms.size()))]; };
  std::printf("%-12s checks %5zu  p50 %7.2f ms  p99 %8.2f ms  worst %8.2f ms  no answer: %4d  peak %7.1f MB  %s\n",
              what.c_str(), l.ms.size(), at(0.5), at(0.99), l.ms.empty() ? 0.0 : l.ms.back(), l.failed, peakMb,
              note.c_str());
  std::fflush(stdout);
}

// ---- Attackers ---------------------------------------------------------------------------------

// Runs body on threads until stopped; body gets the stop flag and should return soon after it is
// set.
class Attack {
 public:
  Attack() = default;
  Attack(const Attack&) = delete;
  Attack& operator=(const Attack&) = delete;
  ~Attack() { Stop(); }
  void Run(int threads, const std::function<void(const std::atomic<bool>& stop, int index)>& body) {
    for (int i = 0; i < threads; ++i) threads_.emplace_back([this, body, i] { body(stop_, i); });
  }
  void Stop() {
    stop_ = true;
    for (auto& t : threads_) t.join();
    threads_.clear();
  }
  std::atomic<int> count{0};  // whatever the attack counts
  std::atomic<int> other{0};

 private:
  std::atomic<bool> stop_{false};
  std::vector<std::thread> threads_;
};

std::unique_ptr<RawConnection> Open(int port, const std::string& from, int receiveBuffer = 0) {
  try {
    return std::make_unique<RawConnection>(port, from, receiveBuffer);
  } catch (const std::exception&) {
    return nullptr;
  }
}

void Sleep(const std::atomic<bool>& stop, milliseconds how) {
  for (auto until = Clock::now() + how; !stop && Clock::now() < until;) std::this_thread::sleep_for(milliseconds(20));
}

// Holds `count` connections from `from`, each made by make (reopened when the server drops it),
// ticking each once a second.
void Hold(Attack& a, int port, int count, const std::string& from, const std::function<void(RawConnection&)>& start,
          const std::function<bool(RawConnection&)>& tick = {}) {
  a.Run(1, [=, &a](const std::atomic<bool>& stop, int) {
    std::vector<std::unique_ptr<RawConnection>> conns;
    for (int i = 0; i < count && !stop; ++i) {
      conns.push_back(Open(port, from));
      if (conns.back()) start(*conns.back());
    }
    while (!stop) {
      for (auto& c : conns) {
        if (stop) break;
        if (!c || c->ClosedWithin(milliseconds(0)) || (tick && !tick(*c))) {
          c = Open(port, from);
          if (c) start(*c);
          ++a.count;  // reopened
        }
      }
      Sleep(stop, milliseconds(1000));
    }
  });
}

std::string Batch(int calls) {
  std::string body = "[";
  for (int i = 0; i < calls; ++i) {
    body += (i ? "," : "") + JsonRpcRequest::Write(i + 1, "getHistorico", {JsonRpcParam::Text("P000000001")});
  }
  return body + "]";
}

// The fields of a change packet of the branches list.
const std::vector<host::wire::FieldDef> kBranchFields = {{"CDPRODUTODES", 10}, {"CDFILIALDES", 4}, {"NMFILIAL", 30}};

std::string Post(const std::string& body) { return testsupport::RequestBytes("POST", kPath, body); }

std::string SaveBody(int id, const std::string& product, bool insert) {
  std::string packet;
  host::wire::PacketWriter writer(packet);
  writer.BeginChanges(kBranchFields);
  const std::vector<std::string_view> row = {product, "0001", ""};
  writer.Change(insert ? host::wire::ChangeOp::Insert : host::wire::ChangeOp::Delete, row);
  writer.End();
  return JsonRpcRequest::Write(id, "SetFilial", {JsonRpcParam::Object(packet)});
}

// Starts the attack named `name` on a server at port; returns what it says when it ends.
std::function<std::string()> StartAttack(const std::string& name, Attack& a, int port, const std::string& db) {
  const auto counted = [&a](const char* what) {
    return [&a, what] { return std::to_string(a.count.load()) + " " + what; };
  };
  if (name == "crowd") {
    Hold(a, port, 300, "127.0.0.2", [](RawConnection&) {});
    Hold(a, port, 100, "127.0.0.3", [](RawConnection& c) { c.Send("POST " + kPath + " HTTP/1.1\r\n"); },
         [](RawConnection& c) { return c.Send("X"); });
    return counted("crowd connections reopened");
  }
  if (name == "announce") {
    for (const char* framing : {"Transfer-Encoding: chunked\r\n", "Content-Length: 67108864\r\n",
                                "Expect: 100-continue\r\nContent-Length: 67108864\r\n"}) {
      const std::string head = "POST " + kPath + " HTTP/1.1\r\nHost: x\r\n" + framing + "\r\n";
      Hold(a, port, 8, "127.0.0.2", [head](RawConnection& c) { c.Send(head); });
    }
    return counted("announcing connections reopened");
  }
  if (name == "framing") {
    a.Run(4, [port, &a](const std::atomic<bool>& stop, int) {
      const std::string block = std::string(65536, 'x');
      while (!stop) {
        auto c = Open(port, "127.0.0.3");
        if (!c) continue;
        c->Send("POST " + kPath + " HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n1;");
        for (size_t sent = 0; !stop && sent < (1u << 30) && c->Send(block); sent += block.size()) {
        }
        ++a.count;  // refused (or a GiB sent)
      }
    });
    return counted("extension floods ended by the server");
  }
  if (name == "headers") {
    a.Run(4, [port, &a](const std::atomic<bool>& stop, int) {
      std::string fields;
      for (int i = 0; i < 10000; ++i) fields += "a:\r\n";
      const std::string request = testsupport::RequestBytes("POST", kPath, CheckBody(1), fields);
      while (!stop) {
        auto c = Open(port, "127.0.0.4");
        if (!c) continue;
        c->Send(request);
        const auto answer = c->ReadResponse(milliseconds(5000));
        (answer && testsupport::StatusOf(*answer) == 431 ? a.count : a.other)++;
      }
    });
    return [&a] { return std::to_string(a.count.load()) + " heads refused (431), " + std::to_string(a.other.load()) + " not"; };
  }
  if (name == "batches" || name == "heavy") {
    const bool heavy = name == "heavy";
    a.Run(heavy ? 1 : 80, [port, heavy, &a](const std::atomic<bool>& stop, int) {
      const std::string request = Post(Batch(256));
      if (!heavy) {
        // Asks once and never reads: the answer waits in the server.
        auto c = Open(port, "127.0.0.5", 4096);
        if (c && c->Send(request)) ++a.count;
        while (!stop) Sleep(stop, milliseconds(200));
        return;
      }
      auto c = Open(port, "127.0.0.5");
      while (c && !stop) {
        if (!c->Send(request)) break;
        const auto answer = c->ReadResponse(milliseconds(30000));
        if (!answer) break;
        ++a.count;
      }
    });
    return counted(heavy ? "heavy batches answered" : "unread batches sent");
  }
  if (name == "idle") {
    for (int host = 2; host <= 9; ++host) Hold(a, port, 512, "127.0.0." + std::to_string(host), [](RawConnection&) {});
    return counted("idle connections reopened");
  }
  if (name == "localdb" || name == "streams") {
    const bool local = name == "localdb";
    a.Run(1, [port, local, &a](const std::atomic<bool>& stop, int) {
      const std::string request = local ? "GET " + kPath + "/local.db HTTP/1.1\r\nHost: x\r\n\r\n"
                                        : Post(JsonRpcRequest::Write(1, "getDados", {}));
      std::vector<std::unique_ptr<RawConnection>> conns;
      for (int i = 0; i < (local ? 512 : 64) && !stop; ++i) {
        conns.push_back(Open(port, "127.0.0.6", 4096));
        if (conns.back() && conns.back()->Send(request)) ++a.count;
      }
      while (!stop) Sleep(stop, milliseconds(200));
    });
    return counted(local ? "unread local.db asked" : "unread getDados asked");
  }
  if (name == "slowreaders") {
    auto walPeak = std::make_shared<std::atomic<long long>>(0);
    a.Run(8, [port, &a](const std::atomic<bool>& stop, int i) {
      Sleep(stop, milliseconds(2000 * i));
      auto c = Open(port, "127.0.0.7", 4096);
      if (!c || !c->Send(Post(JsonRpcRequest::Write(1, "getDados", {})))) return;
      char buffer[1024];
      while (!stop) {  // 10 KB a second
        pollfd p{c->Fd(), POLLIN, 0};
        if (poll(&p, 1, 100) > 0 && recv(c->Fd(), buffer, sizeof buffer, 0) <= 0) {
          ++a.count;  // dropped by the server
          return;
        }
      }
    });
    a.Run(2, [port, &a](const std::atomic<bool>& stop, int i) {
      httplib::Client http("127.0.0.1", port);
      for (int n = 0; !stop; ++n) {
        http.Post(kPath, SaveBody(n, i ? "P000000002" : "P000000003", n % 2 == 1), "application/json");
        ++a.other;
      }
    });
    a.Run(1, [db, walPeak](const std::atomic<bool>& stop, int) {
      while (!stop) {
        std::error_code ec;
        const auto size = static_cast<long long>(fs::file_size(db + "-wal", ec));
        if (!ec && size > *walPeak) *walPeak = size;
        Sleep(stop, milliseconds(200));
      }
    });
    return [&a, walPeak, db] {
      std::error_code ec;
      const auto now = fs::file_size(db + "-wal", ec);
      char text[200];
      std::snprintf(text, sizeof text, "%d saves, %d readers dropped; WAL peak %.1f MB, at the end %.1f MB",
                    a.other.load(), a.count.load(), *walPeak / 1048576.0, ec ? 0.0 : now / 1048576.0);
      return std::string(text);
    };
  }
  if (name == "saves") {
    a.Run(4, [port, &a](const std::atomic<bool>& stop, int i) {
      auto c = Open(port, "127.0.0.8");
      for (int n = 0; c && !stop; ++n) {
        if (!c->Send(Post(SaveBody(n, "P00000000" + std::to_string(4 + i), n % 2 == 0)))) break;
        const auto answer = c->ReadResponse(milliseconds(10000));
        if (!answer) break;
        (answer->find("\"ok\":true") != std::string::npos ? a.count : a.other)++;
      }
    });
    return [&a] { return std::to_string(a.count.load()) + " flood saves taken, " + std::to_string(a.other.load()) + " refused"; };
  }
  std::fprintf(stderr, "unknown attack %s\n", name.c_str());
  std::exit(2);
}

std::vector<std::string> Split(const std::string& text) {
  std::vector<std::string> out;
  std::stringstream in(text);
  for (std::string item; std::getline(in, item, ',');) out.push_back(item);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    const std::string value = argv[i + 1];
    if (name == "--server") o.server = value;
    else if (name == "--dir") o.dir = value;
    else if (name == "--attacks") o.attacks = Split(value);
    else if (name == "--calls") o.calls = std::atoi(value.c_str());
    else if (name == "--clients") o.clients = std::atoi(value.c_str());
    else if (name == "--products") o.products = std::atoi(value.c_str());
    else if (name == "--seconds") o.seconds = std::atoi(value.c_str());
    else {
      std::fprintf(stderr, "unknown option %s\n", name.c_str());
      return 2;
    }
  }
  // 4,096 connections of the attackers and as many in the server.
  rlimit files{};
  getrlimit(RLIMIT_NOFILE, &files);
  files.rlim_cur = files.rlim_max;
  setrlimit(RLIMIT_NOFILE, &files);

  const fs::path dir = o.dir.empty() ? fs::temp_directory_path() / ("bench_edge." + std::to_string(getpid())) : fs::path(o.dir);
  fs::create_directories(dir);
  const std::string seed = (dir / "seed.db").string();
  if (!fs::exists(seed)) {
    const std::string demo = o.server + " demo --db " + seed + " --local " + (dir / "local.db").string() +
                             " --products " + std::to_string(o.products) + " --rows-per-product 10 >/dev/null 2>&1";
    if (std::system(demo.c_str()) != 0) {
      std::fprintf(stderr, "demo failed: %s\n", demo.c_str());
      return 1;
    }
    // A product with 1,000 rows of history: one save of 1,000 changes.
    testsupport::ServerProcess process(o.server, seed);
    std::string packet;
    host::wire::PacketWriter writer(packet);
    writer.BeginChanges(kBranchFields);
    for (int i = 0; i < 500; ++i) {
      const std::vector<std::string_view> row = {"P000000001", "0001", ""};
      writer.Change(host::wire::ChangeOp::Delete, row);
      writer.Change(host::wire::ChangeOp::Insert, row);
    }
    writer.End();
    httplib::Client http("127.0.0.1", process.Port());
    http.set_read_timeout(60, 0);
    const auto res = http.Post(kPath, JsonRpcRequest::Write(1, "SetFilial", {JsonRpcParam::Object(packet)}), "application/json");
    if (!res || res->body.find("\"ok\":true") == std::string::npos) {
      std::fprintf(stderr, "seeding the history failed: %s\n", res ? res->body.substr(0, 300).c_str() : "no answer");
      return 1;
    }
  }
  std::printf("server: %s; store: %d products x 10 related rows; %d checks by %d clients per run\n", o.server.c_str(),
              o.products, o.calls, o.clients);
  const std::string db = (dir / "server.db").string();
  std::vector<std::string> runs = {"quiet"};
  runs.insert(runs.end(), o.attacks.begin(), o.attacks.end());
  for (const std::string& name : runs) {
    for (const char* side : {"", "-wal", "-shm"}) fs::remove(db + side);
    fs::copy_file(seed, db);
    std::vector<std::string> args;
    if (name == "heavy") args = {"--threads", "2"};
    testsupport::ServerProcess process(o.server, db, args);
    Attack attack;
    std::function<std::string()> says = [] { return std::string(); };
    if (name != "quiet") says = StartAttack(name, attack, process.Port(), db);
    std::this_thread::sleep_for(std::chrono::seconds(o.seconds));
    const Latencies l = Checks(process.Port(), o.clients, o.calls);
    if (name == "slowreaders") std::this_thread::sleep_for(std::chrono::seconds(20));
    const double peak = PeakMb(process.Pid());
    attack.Stop();
    std::string note = says();
    if (name == "slowreaders") {
      // The readers are gone: a few saves let a checkpoint empty the log.
      httplib::Client http("127.0.0.1", process.Port());
      for (int n = 0; n < 4; ++n) http.Post(kPath, SaveBody(n, "P000000002", n % 2 == 1), "application/json");
      std::error_code ec;
      char text[80];
      std::snprintf(text, sizeof text, "; after the readers %.1f MB", fs::file_size(db + "-wal", ec) / 1048576.0);
      note += text;
    }
    Print(name, l, peak, note);
  }
  if (o.dir.empty()) fs::remove_all(dir);
  return 0;
}
