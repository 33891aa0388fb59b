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
//                [--pg URI]
// --pg (or PDI_BENCH_PG_URI) names a PostgreSQL database; the benchmark works in a schema of its
// own there and drops it afterwards.
#include <httplib.h>
#include <simdjson.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "host/wire/JsonRpcRequest.h"
#include "server/service/PacketStream.h"
#include "server/store/PgConnection.h"
#include "server/cli/ServerProcess.h"
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
  size_t bytes = 0;
  for (const auto kind : {server::ListKind::Product, server::ListKind::Supplier, server::ListKind::Client,
                          server::ListKind::Branch}) {
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
bool Measure(const std::string& label, const std::string& db, const std::string& binary, long products, int runs,
             int checks) {
  const auto store = server::Store::Open(db, server::StoreOptions{.create = true});
  size_t readBytes = 0, producedBytes = 0;
  const double bare = MedianOf(runs, [&] { readBytes = BareRead(*store); });
  const double produce = MedianOf(runs, [&] { producedBytes = Produce(*store); });
  std::printf("[%s] bare read of the four lists:          %8.3f s  (%zu value bytes)\n", label.c_str(), bare, readBytes);
  std::printf("[%s] server production of getDados (no HTTP): %5.3f s  (%zu bytes, %.2fx bare read)\n", label.c_str(),
              produce, producedBytes, produce / bare);

  server::ServerProcess process(binary, db);
  httplib::Client client("127.0.0.1", process.Port());
  client.set_read_timeout(600, 0);
  client.set_tcp_nodelay(true);
  const std::string request = host::wire::JsonRpcRequest::Write(1, "getDados", {});
  std::string body;
  simdjson::ondemand::parser parser;
  size_t values = 0, size = 0;
  std::vector<double> total, transfer;
  for (int i = 0; i < runs; ++i) {
    body.clear();
    body.reserve(producedBytes + simdjson::SIMDJSON_PADDING);
    const auto start = Clock::now();
    httplib::Request req;
    req.method = "POST";
    req.path = server::ServerProcess::Path();
    req.body = request;
    req.set_header("Content-Type", "application/json");
    req.content_receiver = [&](const char* data, size_t n, uint64_t, uint64_t) {
      body.append(data, n);
      return true;
    };
    const auto res = client.send(req);
    if (!res || res->status != 200) {
      std::fprintf(stderr, "getDados failed\n");
      return false;
    }
    const auto received = Clock::now();
    size = body.size();
    body.resize(size + simdjson::SIMDJSON_PADDING, ' ');
    values = Decode(body, size, parser);
    transfer.push_back(Seconds(received - start));
    total.push_back(Seconds(Clock::now() - start));
  }
  std::printf("[%s] client getDados call + transfer:          %8.3f s  (%zu bytes)\n", label.c_str(), Median(transfer),
              size);
  std::printf("[%s] client getDados call + transfer + decode: %8.3f s  (%zu values, %.2fx bare read)\n",
              label.c_str(), Median(total), values, Median(total) / bare);

  for (const int clients : {1, 4, 16}) {
    const int perClient = std::max(1, checks / clients);
    std::atomic<int> failures{0};
    const auto start = Clock::now();
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
      threads.emplace_back([&, c] {
        httplib::Client cli("127.0.0.1", process.Port());
        cli.set_keep_alive(true);
        cli.set_tcp_nodelay(true);
        for (int i = 0; i < perClient; ++i) {
          const std::string product = "P" + std::string(9 - std::to_string(i % products + 1).size(), '0') +
                                      std::to_string(i % products + 1);
          const std::string call = host::wire::JsonRpcRequest::Write(
              i, "getVd_Fornecedor",
              {host::wire::JsonRpcParam::Text(product), host::wire::JsonRpcParam::Text("FOR" + std::to_string(c))});
          const auto res = cli.Post(server::ServerProcess::Path(), call, "application/json");
          if (!res || res->status != 200) ++failures;
        }
      });
    }
    for (auto& t : threads) t.join();
    const double seconds = Seconds(Clock::now() - start);
    std::printf("[%s] getVd_Fornecedor, %2d client(s):           %8.0f checks/s (%d calls, %d failed)\n",
                label.c_str(), clients, clients * perClient / seconds, clients * perClient, failures.load());
  }
  process.Stop();
  return true;
}

// Writes the demo data at db with the server binary; prints how long it took.
bool Demo(const std::string& label, const std::string& binary, const std::string& db, const std::string& local,
          long products, long rows) {
  const std::string demo = "'" + binary + "' demo --db '" + db + "' --local '" + local + "' --products " +
                           std::to_string(products) + " --rows-per-product " + std::to_string(rows);
  const auto demoStart = Clock::now();
  if (std::system(demo.c_str()) != 0) {
    std::fprintf(stderr, "demo failed\n");
    return false;
  }
  std::printf("[%s] demo data written in %.2f s\n", label.c_str(), Seconds(Clock::now() - demoStart));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const long products = std::stol(Arg(argc, argv, "--products", "100000"));
  const long rows = std::stol(Arg(argc, argv, "--rows-per-product", "10"));
  const int runs = std::stoi(Arg(argc, argv, "--runs", "5"));
  const int checks = std::stoi(Arg(argc, argv, "--checks", "4000"));
  const std::string binary = Arg(argc, argv, "--server", DefaultServerBinary());
  const fs::path dir = Arg(argc, argv, "--dir", (fs::temp_directory_path() / ("bench_server." + std::to_string(getpid()))).string());
  const char* pgEnv = std::getenv("PDI_BENCH_PG_URI");
  const std::string pg = Arg(argc, argv, "--pg", pgEnv ? pgEnv : "");

  fs::create_directories(dir);
  const std::string db = (dir / "server.db").string();
  const std::string local = (dir / "local.db").string();
  fs::remove(db);
  fs::remove(local);
  std::printf("demo data: %ld products x %ld related rows\n", products, rows);
  bool ok = Demo("SQLite", binary, db, local, products, rows) && Measure("SQLite", db, binary, products, runs, checks);

  if (ok && !pg.empty()) {
    const std::string schema = "pdi_bench_" + std::to_string(getpid());
    try {
      server::PgConnection(pg).Exec("CREATE SCHEMA " + schema);
      const std::string uri = pg + (pg.find('?') == std::string::npos ? "?" : "&") + "options=-csearch_path%3D" + schema;
      ok = Demo("PostgreSQL", binary, uri, (dir / "local_pg.db").string(), products, rows) &&
           Measure("PostgreSQL", uri, binary, products, runs, checks);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "PostgreSQL: %s\n", e.what());
      ok = false;
    }
    try {
      server::PgConnection(pg).Exec("DROP SCHEMA IF EXISTS " + schema + " CASCADE");
    } catch (const std::exception& e) {
      std::fprintf(stderr, "PostgreSQL: cannot drop the schema %s: %s\n", schema.c_str(), e.what());
    }
  } else if (pg.empty()) {
    std::printf("PostgreSQL: not measured (give --pg URI or set PDI_BENCH_PG_URI)\n");
  }
  fs::remove_all(dir);
  return ok ? 0 : 1;
}
