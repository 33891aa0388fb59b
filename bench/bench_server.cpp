// Benchmark of the application server on demo data (by default 100,000 products with 10 related
// rows each: 1,000,000 related rows), on SQLite and, when a PostgreSQL database is given, on
// PostgreSQL too:
//
//  1. bare read: the server's own queries of the four lists, every value read, nothing written
//     (in process, straight from the store);
//  2. server production: the same rows written as the getDados response (in process, no HTTP);
//  3. client getDados: call over loopback HTTP, transfer of the whole body, and one simdjson
//     On-Demand pass over it touching every value (decoding into record sets is not included);
//  4. getVd_Fornecedor checks per second with 1, 4 and 16 concurrent clients (keep-alive
//     connections, a fixed number of calls per client).
// Prints the median of several runs. Usage:
//   bench_server [--products N] [--rows-per-product M] [--runs R] [--checks N] [--server PATH] [--dir DIR]
//                [--pg URI] [--stores sqlite,pg] [--baseline-server PATH] [--steps read,getdados,checks]
//                [--clients 1,4,16] [--check-rounds K]
// --pg (or PDI_BENCH_PG_URI) names a PostgreSQL database; the benchmark works in a schema of its
// own there and drops it afterwards. --stores leaves out a store (both by default). --steps
// leaves out steps: "read" is steps 1 and 2, "getdados" step 3, "checks" step 4 (all by default).
// --clients gives the numbers of concurrent clients of step 4; --check-rounds K repeats each of its
// measurements K times (the builds taking turns) and prints the median rate.
// --baseline-server names another build of the server (an older release): steps 3 and 4 and the
// demo are then measured with both binaries in the same run, taking turns, on the same data, and
// each line shows the ratio baseline / this build (steps 1 and 2 run in this process, so only
// for this build).
#include <httplib.h>
#include <simdjson.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "host/wire/JsonRpcRequest.h"
#include "server/service/PacketStream.h"
#include "server/store/PgConnection.h"
#include "tests/support/ServerProcess.h"
#include "server/store/Store.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// Runs f runs times and returns the median duration in seconds.
double MedianOf(int runs, const std::function<void()>& f) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const auto start = Clock::now();
    f();
    times.push_back(Seconds(Clock::now() - start));
  }
  return Median(times);
}

std::string Arg(int argc, char** argv, const std::string& name, const std::string& fallback) {
  for (int i = 1; i + 1 < argc; ++i) {
    if (argv[i] == name) return argv[i + 1];
  }
  return fallback;
}

std::string DefaultServerBinary() {
  const fs::path self = fs::read_symlink("/proc/self/exe");
  return (self.parent_path().parent_path() / "server" / "pdi07310-server").string();
}

// Reads every list the way getDados serves it, touching every value.
size_t BareRead(server::Store& store) {
  auto session = store.OpenSession();
  session->BeginRead();
  const std::vector<server::ListKind> kinds{server::ListKind::Product, server::ListKind::Supplier,
                                            server::ListKind::Client, server::ListKind::Branch};
  session->ReadAhead(kinds);  // as getDados does
  size_t bytes = 0;
  for (const auto kind : kinds) {
    auto cursor = session->ReadList(kind);
    while (cursor->Next()) {
      for (const std::string_view v : cursor->Row()) bytes += v.size();
    }
  }
  session->Commit();
  return bytes;
}

size_t Produce(server::Store& store) {
  server::PacketStream stream(store.OpenSession(), "1",
                              {server::ListKind::Product, server::ListKind::Supplier, server::ListKind::Client,
                               server::ListKind::Branch},
                              true);
  std::string piece;
  size_t bytes = 0;
  bool more = true;
  while (more) {
    more = stream.Fill(piece);
    bytes += piece.size();
  }
  return bytes;
}

// One simdjson pass over a getDados response; returns the number of row values seen.
size_t Decode(const std::string& body, size_t size, simdjson::ondemand::parser& parser) {
  simdjson::padded_string_view view(body.data(), size, body.size());
  auto doc = parser.iterate(view);
  size_t values = 0;
  simdjson::ondemand::object result = doc["result"].get_object();
  if (!result["ok"].get_bool().value()) throw std::runtime_error("getDados refused");
  for (auto packet : result["data"].get_array()) {
    simdjson::ondemand::object object = packet.get_object();
    for (auto field : object["fields"].get_array()) {
      std::string_view name = field["name"].get_string();
      (void)name;
    }
    for (auto row : object["rows"].get_array()) {
      for (auto value : row.get_array()) {
        std::string_view text = value.get_string();
        values += text.empty() ? 1 : 1;
      }
    }
  }
  return values;
}

// Measures steps 1 to 4 on the demo data already written at db (an SQLite file or a PostgreSQL
// URI). Returns false when a call failed.
struct Binary {
  std::string label;  // "new", "baseline"
  std::string path;
};

// "  (baseline 2.10x)" after a figure of this build, or "" when only one binary is measured.
std::string Ratio(const std::vector<double>& figures, bool higherIsBetter) {
  if (figures.size() < 2 || figures[0] == 0 || figures[1] == 0) return "";
  char text[64];
  std::snprintf(text, sizeof text, "  [baseline %.3g; baseline/new %.2fx]", figures[1],
                higherIsBetter ? figures[0] / figures[1] : figures[1] / figures[0]);
  return text;
}

// CPU time (user + system) a process has used so far, in seconds; 0 when it is gone.
double ProcessCpu(pid_t pid) {
  std::FILE* f = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
  if (!f) return 0;
  char text[1024];
  const size_t n = std::fread(text, 1, sizeof text - 1, f);
  std::fclose(f);
  text[n] = '\0';
  // Fields after the command name (which may hold spaces), from the last ')': state is field 3,
  // utime and stime fields 14 and 15.
  const char* at = std::strrchr(text, ')');
  if (!at) return 0;
  unsigned long utime = 0, stime = 0;
  if (std::sscanf(at + 1, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime, &stime) != 2) return 0;
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// CPU time used so far by a server process and, on PostgreSQL, by the database backends serving
// it (those with its application_name), each backend by its pid.
struct CpuSample {
  double server = 0;
  std::map<int, double> backends;
};

CpuSample SampleCpu(pid_t server, const std::string& pg, const std::string& applicationName) {
  CpuSample sample;
  sample.server = ProcessCpu(server);
  if (pg.empty()) return sample;
  try {
    server::PgConnection connection(pg);
    const std::array<std::string_view, 1> args{applicationName};
    const server::PgResult pids = connection.Query(
        "SELECT pid FROM pg_stat_activity WHERE application_name = $1 AND pid <> pg_backend_pid()", args);
    for (int r = 0; r < pids.Rows(); ++r) {
      const int pid = std::stoi(std::string(pids.Text(r, 0)));
      sample.backends[pid] = ProcessCpu(pid);
    }
  } catch (const std::exception&) {
    // Without the database's figures the line shows the server's alone.
  }
  return sample;
}

// Server and database CPU seconds used between two samples (a backend opened meanwhile counts
// from zero).
std::pair<double, double> CpuUsed(const CpuSample& before, const CpuSample& after) {
  double database = 0;
  for (const auto& [pid, cpu] : after.backends) {
    const auto was = before.backends.find(pid);
    database += cpu - (was == before.backends.end() ? 0 : was->second);
  }
  return {after.server - before.server, database};
}

bool Measure(const std::string& label, const std::string& db, const std::vector<Binary>& binaries, long products,
             int runs, int checks, int checkRounds, const std::string& steps, const std::vector<int>& clientCounts) {
  const bool reads = steps.find("read") != std::string::npos;
  const bool loads = steps.find("getdados") != std::string::npos;
  size_t readBytes = 0, producedBytes = 0;
  double bare = 0;
  if (reads || loads) {
    const auto store = server::Store::Open(db, server::StoreOptions{.create = true});
    bare = MedianOf(runs, [&] { readBytes = BareRead(*store); });
    const double produce = MedianOf(runs, [&] { producedBytes = Produce(*store); });
    std::printf("[%s] bare read of the four lists:          %8.3f s  (%zu value bytes)\n", label.c_str(), bare,
                readBytes);
    std::printf("[%s] server production of getDados (no HTTP): %5.3f s  (%zu bytes, %.2fx bare read)\n",
                label.c_str(), produce, producedBytes, produce / bare);
  }

  // On PostgreSQL each build's connections carry a name of their own, so that the CPU time of
  // the backends serving each can be told apart.
  const bool pg = db.rfind("postgresql:", 0) == 0 || db.rfind("postgres:", 0) == 0;
  std::vector<std::unique_ptr<testsupport::ServerProcess>> processes;
  for (const Binary& b : binaries) {
    processes.push_back(std::make_unique<testsupport::ServerProcess>(
        b.path, pg ? db + (db.find('?') == std::string::npos ? "?" : "&") + "application_name=pdi_bench_" + b.label
                   : db));
  }
  if (loads) {
    const std::string request = host::wire::JsonRpcRequest::Write(1, "getDados", {});
    std::string body;
    simdjson::ondemand::parser parser;
    size_t values = 0, size = 0;
    std::vector<std::vector<double>> total(binaries.size()), transfer(binaries.size());
    for (int i = 0; i < runs; ++i) {
      for (size_t b = 0; b < binaries.size(); ++b) {
        httplib::Client client("127.0.0.1", processes[b]->Port());
        client.set_read_timeout(600, 0);
        client.set_tcp_nodelay(true);
        body.clear();
        body.reserve(producedBytes + simdjson::SIMDJSON_PADDING);
        const auto start = Clock::now();
        httplib::Request req;
        req.method = "POST";
        req.path = testsupport::ServerProcess::Path();
        req.body = request;
        req.set_header("Content-Type", "application/json");
        req.content_receiver = [&](const char* data, size_t n, uint64_t, uint64_t) {
          body.append(data, n);
          return true;
        };
        const auto res = client.send(req);
        if (!res || res->status != 200) {
          std::fprintf(stderr, "getDados failed (%s)\n", binaries[b].label.c_str());
          return false;
        }
        const auto received = Clock::now();
        size = body.size();
        body.resize(size + simdjson::SIMDJSON_PADDING, ' ');
        values = Decode(body, size, parser);
        transfer[b].push_back(Seconds(received - start));
        total[b].push_back(Seconds(Clock::now() - start));
      }
    }
    std::vector<double> transferMedians, totalMedians;
    for (size_t b = 0; b < binaries.size(); ++b) {
      transferMedians.push_back(Median(transfer[b]));
      totalMedians.push_back(Median(total[b]));
    }
    std::printf("[%s] client getDados call + transfer:          %8.3f s  (%zu bytes)%s\n", label.c_str(),
                transferMedians[0], size, Ratio(transferMedians, false).c_str());
    std::printf("[%s] client getDados call + transfer + decode: %8.3f s  (%zu values, %.2fx bare read)%s\n",
                label.c_str(), totalMedians[0], values, totalMedians[0] / bare, Ratio(totalMedians, false).c_str());
  }

  for (const int clients : clientCounts) {
    if (steps.find("checks") == std::string::npos) break;
    const int perClient = std::max(1, checks / clients);
    std::vector<std::vector<double>> roundRates(binaries.size());
    std::vector<double> serverCpu(binaries.size()), databaseCpu(binaries.size());
    int failed = 0;
    for (int round = 0; round < checkRounds; ++round) {
      for (size_t b = 0; b < binaries.size(); ++b) {
        std::atomic<int> failures{0};
        const int port = processes[b]->Port();
        const std::string applicationName = "pdi_bench_" + binaries[b].label;
        const CpuSample before = SampleCpu(processes[b]->Pid(), pg ? db : "", applicationName);
        const auto start = Clock::now();
        std::vector<std::thread> threads;
        for (int c = 0; c < clients; ++c) {
          threads.emplace_back([&, c] {
            httplib::Client cli("127.0.0.1", port);
            cli.set_keep_alive(true);
            cli.set_tcp_nodelay(true);
            for (int i = 0; i < perClient; ++i) {
              const std::string product = "P" + std::string(9 - std::to_string(i % products + 1).size(), '0') +
                                          std::to_string(i % products + 1);
              const std::string call = host::wire::JsonRpcRequest::Write(
                  i, "getVd_Fornecedor",
                  {host::wire::JsonRpcParam::Text(product), host::wire::JsonRpcParam::Text("FOR" + std::to_string(c))});
              const auto res = cli.Post(testsupport::ServerProcess::Path(), call, "application/json");
              if (!res || res->status != 200) ++failures;
            }
          });
        }
        for (auto& t : threads) t.join();
        roundRates[b].push_back(clients * perClient / Seconds(Clock::now() - start));
        const auto [serverUsed, databaseUsed] =
            CpuUsed(before, SampleCpu(processes[b]->Pid(), pg ? db : "", applicationName));
        serverCpu[b] += serverUsed;
        databaseCpu[b] += databaseUsed;
        failed += failures.load();
      }
    }
    std::vector<double> rates;
    for (const auto& r : roundRates) rates.push_back(Median(r));
    std::printf("[%s] getVd_Fornecedor, %2d client(s):           %8.0f checks/s (%d calls, %d failed)%s\n",
                label.c_str(), clients, rates[0], clients * perClient * checkRounds, failed,
                Ratio(rates, true).c_str());
    // CPU time a check costs, less sensitive than the rate to other work on the machine.
    for (size_t b = 0; b < binaries.size(); ++b) {
      const double calls = static_cast<double>(clients) * perClient * checkRounds;
      const double serverUs = serverCpu[b] / calls * 1e6, databaseUs = databaseCpu[b] / calls * 1e6;
      if (pg) {
        std::printf("[%s]   CPU a check (%s): server %.0f us + database %.0f us = %.0f us\n", label.c_str(),
                    binaries[b].label.c_str(), serverUs, databaseUs, serverUs + databaseUs);
      } else {
        std::printf("[%s]   CPU a check (%s): server %.0f us\n", label.c_str(), binaries[b].label.c_str(), serverUs);
      }
    }
  }
  for (auto& p : processes) p->Stop();
  return true;
}

// Writes the demo data at db with the server binary; prints how long it took.
bool Demo(const std::string& label, const std::string& binary, const std::string& db, const std::string& local,
          long products, long rows, double* seconds = nullptr) {
  const std::string demo = "'" + binary + "' demo --db '" + db + "' --local '" + local + "' --products " +
                           std::to_string(products) + " --rows-per-product " + std::to_string(rows);
  const auto demoStart = Clock::now();
  if (std::system(demo.c_str()) != 0) {
    std::fprintf(stderr, "demo failed\n");
    return false;
  }
  const double took = Seconds(Clock::now() - demoStart);
  std::printf("[%s] demo data written in %.2f s\n", label.c_str(), took);
  if (seconds) *seconds = took;
  return true;
}



// Writes the demo data at db with this build and, when a baseline is given, at baselineDb with the
// baseline too (each into a store of its own); prints both times and their ratio.
bool Demos(const std::string& label, const std::vector<Binary>& binaries, const std::string& db,
           const std::string& baselineDb, const fs::path& dir, long products, long rows) {
  std::vector<double> times(binaries.size());
  for (size_t b = 0; b < binaries.size(); ++b) {
    const std::string local = (dir / ("local_" + label + "_" + binaries[b].label + ".db")).string();
    if (!Demo(label + ", " + binaries[b].label, binaries[b].path, b == 0 ? db : baselineDb, local, products, rows,
              &times[b])) {
      return false;
    }
  }
  if (times.size() > 1) std::printf("[%s] demo: baseline/new %.2fx\n", label.c_str(), times[1] / times[0]);
  return true;
}

std::string WithSchema(const std::string& uri, const std::string& schema) {
  return uri + (uri.find('?') == std::string::npos ? "?" : "&") + "options=-csearch_path%3D" + schema;
}

}  // namespace

static int Run(int argc, char** argv) {
  const long products = std::stol(Arg(argc, argv, "--products", "100000"));
  const long rows = std::stol(Arg(argc, argv, "--rows-per-product", "10"));
  const int runs = std::stoi(Arg(argc, argv, "--runs", "5"));
  const int checks = std::stoi(Arg(argc, argv, "--checks", "4000"));
  const int checkRounds = std::max(1, std::stoi(Arg(argc, argv, "--check-rounds", "1")));
  const std::string binary = Arg(argc, argv, "--server", DefaultServerBinary());
  const std::string baseline = Arg(argc, argv, "--baseline-server", "");
  const std::string stores = Arg(argc, argv, "--stores", "sqlite,pg");
  const std::string steps = Arg(argc, argv, "--steps", "read,getdados,checks");
  std::vector<int> clientCounts;
  {
    const std::string list = Arg(argc, argv, "--clients", "1,4,16");
    for (size_t at = 0; at < list.size();) {
      const size_t comma = std::min(list.find(',', at), list.size());
      clientCounts.push_back(std::max(1, std::stoi(list.substr(at, comma - at))));
      at = comma + 1;
    }
  }
  const fs::path dir = Arg(argc, argv, "--dir", (fs::temp_directory_path() / ("bench_server." + std::to_string(getpid()))).string());
  const char* pgEnv = std::getenv("PDI_BENCH_PG_URI");
  const std::string pg = Arg(argc, argv, "--pg", pgEnv ? pgEnv : "");
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  std::vector<Binary> binaries{{"new", binary}};
  if (!baseline.empty()) binaries.push_back({"baseline", baseline});

  fs::create_directories(dir);
  std::printf("demo data: %ld products x %ld related rows\n", products, rows);
  bool ok = true;
  if (stores.find("sqlite") != std::string::npos) {
    const std::string db = (dir / "server.db").string();
    const std::string baselineDb = (dir / "server_baseline.db").string();
    fs::remove(db);
    fs::remove(baselineDb);
    ok = Demos("SQLite", binaries, db, baselineDb, dir, products, rows) &&
         Measure("SQLite", db, binaries, products, runs, checks, checkRounds, steps, clientCounts);
  }

  if (ok && !pg.empty() && stores.find("pg") != std::string::npos) {
    const std::string schema = "pdi_bench_" + std::to_string(getpid());
    const std::string baselineSchema = schema + "_baseline";
    try {
      server::PgConnection(pg).Exec("CREATE SCHEMA " + schema + "; CREATE SCHEMA " + baselineSchema);
      const std::string uri = WithSchema(pg, schema);
      ok = Demos("PostgreSQL", binaries, uri, WithSchema(pg, baselineSchema), dir, products, rows);
      if (ok) {
        // The database's own maintenance of the freshly written tables (autovacuum, within a
        // minute) would otherwise run during the first measurements; done here, it is over.
        // The baseline's schema holds tables only when a baseline build was given.
        std::vector<std::string> written{schema};
        if (binaries.size() > 1) written.push_back(baselineSchema);
        for (const std::string& s : written) {
          server::PgConnection(WithSchema(pg, s))
              .Exec("VACUUM (ANALYZE) PRODUTO, FORNECEDOR, CLIENTE, FILIAL, DESONERA_FORNECEDOR, DESONERA_CLIENTE,"
                    " DESONERA_FILIAL");
        }
        // So are the writes of the dirty pages those tables left, which the checkpointer would
        // otherwise spread over the next minutes. Needs the right to checkpoint; without it the
        // bench goes on and says so.
        try {
          server::PgConnection(pg).Exec("CHECKPOINT");
        } catch (const std::exception& e) {
          std::printf("[PostgreSQL] no checkpoint before measuring (%s)\n", e.what());
        }
        ok = Measure("PostgreSQL", uri, binaries, products, runs, checks, checkRounds, steps, clientCounts);
      }
    } catch (const std::exception& e) {
      std::fprintf(stderr, "PostgreSQL: %s\n", e.what());
      ok = false;
    }
    try {
      server::PgConnection(pg).Exec("DROP SCHEMA IF EXISTS " + schema + " CASCADE; DROP SCHEMA IF EXISTS " +
                                    baselineSchema + " CASCADE");
    } catch (const std::exception& e) {
      std::fprintf(stderr, "PostgreSQL: cannot drop the schemas %s: %s\n", schema.c_str(), e.what());
    }
  } else if (pg.empty()) {
    std::printf("PostgreSQL: not measured (give --pg URI or set PDI_BENCH_PG_URI)\n");
  }
  fs::remove_all(dir);
  return ok ? 0 : 1;
}

// A failure is printed and the run ends normally, so that the servers it started are stopped
// (an uncaught exception would end the process without stopping them).
int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_server: %s\n", e.what());
    return 1;
  }
}
