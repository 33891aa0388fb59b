// pdi07310-server: the application server of the exemption-list screen, and its data tools.
//
//   pdi07310-server serve --db DB [--listen HOST:PORT] [--tokens FILE] [--max-request-bytes N] [--threads N]
//   pdi07310-server import-master --db DB LOCAL_DB
//   pdi07310-server export-local --db DB LOCAL_DB
//   pdi07310-server demo --db DB --local LOCAL_DB [--products N] [--rows-per-product M] [--seed S]
//   pdi07310-server audit --db DB [--product CDPRODUTO] [--since TIME]
//
// DB is an SQLite file or a postgresql:// URI.
//
// Exit status: 0 done, 1 failure while running, 2 bad command line.
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "server/http/AccessTokens.h"
#include "server/cli/AuditReport.h"
#include "server/service/AuditTime.h"
#include "server/http/CallLog.h"
#include "server/cli/CommandLine.h"
#include "server/cli/DemoGenerator.h"
#include "server/http/HttpServer.h"
#include "server/store/LocalDatabase.h"
#include "server/service/RemoteService.h"
#include "server/store/Store.h"

namespace server {
namespace {

constexpr const char* kUsage =
    "usage: pdi07310-server <command> [options]\n"
    "\n"
    "commands:\n"
    "  serve          serve the remote service PDI07310.rdmProdDesoneraImpos over HTTP\n"
    "  import-master  fill or refresh the master tables from a local database file\n"
    "  export-local   write the local read-only database from the master tables\n"
    "  demo           write a consistent demo pair (server database and local database)\n"
    "  audit          print the audit trail of applied change packets\n"
    "\n"
    "DB is an SQLite file (created when missing) or a PostgreSQL URI postgresql://USER@HOST:PORT/NAME.\n"
    "\n"
    "Run 'pdi07310-server <command> --help' for the options of a command.\n";

constexpr const char* kServeHelp =
    "usage: pdi07310-server serve --db DB [--listen HOST:PORT] [--tokens FILE] [--threads N]\n"
    "                             [--tls-cert FILE --tls-key FILE] [limits]\n"
    "\n"
    "Serves POST /PDI07310.rdmProdDesoneraImpos (JSON-RPC 2.0) and GET on the same path.\n"
    "  --db DB                 SQLite file of the server, or a postgresql:// URI; the schema is created\n"
    "                          when missing. Several servers may serve one PostgreSQL database at once.\n"
    "  --listen HOST:PORT      address to listen on (default 127.0.0.1:8470; port 0 picks a free one)\n"
    "  --tokens FILE           accept only requests with 'Authorization: Bearer TOKEN' for a TOKEN listed\n"
    "                          in FILE, one 'TOKEN USER' per line ('#' starts a comment line); others get\n"
    "                          HTTP 401. Without it the server accepts anyone (and says so).\n"
    "  --tls-cert FILE         serve HTTPS only, with this certificate chain (PEM)\n"
    "  --tls-key FILE          the private key (PEM) of --tls-cert\n"
    "  --threads N             workers running calls: at most N calls reach the database at once\n"
    "                          (default 64); idle and slow connections hold no worker\n"
    "Limits (a request past a size limit gets 413, past a budget 503; a deadline passed closes the\n"
    "connection):\n"
    "  --max-request-bytes N   largest request body, however framed (default 67108864)\n"
    "  --max-header-bytes N    largest request line and header fields (default 16384)\n"
    "  --idle-timeout S        seconds a kept-alive connection may wait for its next request (default 30)\n"
    "  --head-timeout S        seconds for a whole request head, and a TLS handshake (default 10)\n"
    "  --body-timeout S        seconds for a whole request body (default 120)\n"
    "  --stall-timeout S       seconds a client may take nothing of an answer before it is dropped and\n"
    "                          its database snapshot released (default 30)\n"
    "  --max-connections N     connections open at once (default 4096)\n"
    "  --max-connections-per-client N\n"
    "                          connections open at once from one address (default 512; 0: no limit, as\n"
    "                          behind a balancer whose address every connection has)\n"
    "  --max-bytes-in-flight N request bytes held at once, all connections together (default 536870912)\n"
    "Prints 'listening on http://HOST:PORT/...' (https:// with TLS) on stderr when ready and one line per\n"
    "call. SIGINT or SIGTERM finish the calls under way and stop the server (exit status 0); a listener\n"
    "that fails for good stops it with a line saying why (exit status 1).\n";

constexpr const char* kImportHelp =
    "usage: pdi07310-server import-master --db DB LOCAL_DB\n"
    "\n"
    "Adds or replaces (by key) the rows of PRODUTO, FORNECEDOR, CLIENTE and FILIAL of the local\n"
    "database file LOCAL_DB in the server database DB. Master rows missing from LOCAL_DB are kept.\n";

constexpr const char* kExportHelp =
    "usage: pdi07310-server export-local --db DB LOCAL_DB\n"
    "\n"
    "Writes the tables PRODUTO, FORNECEDOR, CLIENTE and FILIAL (all TEXT, indexed on the looked-up\n"
    "columns) of the local read-only database LOCAL_DB from the master tables of DB, replacing them.\n";

constexpr const char* kAuditHelp =
    "usage: pdi07310-server audit --db DB [--product CDPRODUTO] [--since TIME]\n"
    "\n"
    "Prints the applied change packets, oldest first: time (UTC), packet number, method, client\n"
    "address and user, then each change with the stored rows it added or removed.\n"
    "  --product CDPRODUTO     only changes of this product key\n"
    "  --since TIME            only packets at or after TIME, ISO 8601: 2024-05-01, 2024-05-01T14:30,\n"
    "                          2024-05-01T14:30:15.250-03:00 (without a zone, UTC)\n";

constexpr const char* kDemoHelp =
    "usage: pdi07310-server demo --db DB --local LOCAL_DB [--products N] [--rows-per-product M] [--seed S]\n"
    "\n"
    "Writes demo master data and exemption rows into DB (which must hold no data yet) and the\n"
    "matching local database LOCAL_DB. N products (default 20) get M related rows each (default 6),\n"
    "spread over suppliers, clients and branches; the same options always give the same data.\n";

// Splits "HOST:PORT". Raises EUsage.
void ParseListen(const std::string& text, HttpServerOptions& options) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) throw EUsage("--listen needs HOST:PORT, not \"" + text + "\"");
  options.host = text.substr(0, colon);
  if (options.host.size() > 2 && options.host.front() == '[' && options.host.back() == ']') {
    options.host = options.host.substr(1, options.host.size() - 2);
  }
  const CommandLine port({"--port", text.substr(colon + 1)}, {"--port"}, {});
  options.port = static_cast<int>(port.Number("--port", 8470, 0, 65535));
}

void ReadLimits(const CommandLine& cl, HttpLimits& limits) {
  const auto seconds = [&cl](const char* name, std::chrono::milliseconds fallback) {
    return std::chrono::milliseconds(
        cl.Number(name, std::chrono::duration_cast<std::chrono::seconds>(fallback).count(), 1, 86400) * 1000);
  };
  constexpr int64_t kGiB = 1024ll * 1024 * 1024;
  limits.maxRequestBytes =
      static_cast<size_t>(cl.Number("--max-request-bytes", static_cast<int64_t>(limits.maxRequestBytes), 1024, 4 * kGiB));
  limits.maxHeaderBytes =
      static_cast<size_t>(cl.Number("--max-header-bytes", static_cast<int64_t>(limits.maxHeaderBytes), 1024, 1024 * 1024));
  limits.idleTimeout = seconds("--idle-timeout", limits.idleTimeout);
  limits.headTimeout = seconds("--head-timeout", limits.headTimeout);
  limits.bodyTimeout = seconds("--body-timeout", limits.bodyTimeout);
  limits.stallTimeout = seconds("--stall-timeout", limits.stallTimeout);
  limits.maxConnections =
      static_cast<size_t>(cl.Number("--max-connections", static_cast<int64_t>(limits.maxConnections), 1, 1000000));
  limits.maxConnectionsPerClient = static_cast<size_t>(cl.Number(
      "--max-connections-per-client", static_cast<int64_t>(limits.maxConnectionsPerClient), 0, 1000000));
  limits.maxBytesInFlight = static_cast<size_t>(
      cl.Number("--max-bytes-in-flight", static_cast<int64_t>(limits.maxBytesInFlight), 1024, 64 * kGiB));
  // A body the budget could never hold would be refused as "busy" forever: say so now.
  if (limits.maxBytesInFlight < limits.maxRequestBytes) {
    throw EUsage("--max-bytes-in-flight must be at least --max-request-bytes");
  }
}

int Serve(const std::vector<std::string>& args) {
  const CommandLine cl(args,
                       {"--db", "--listen", "--tokens", "--max-request-bytes", "--threads", "--tls-cert", "--tls-key",
                        "--max-header-bytes", "--idle-timeout", "--head-timeout", "--body-timeout", "--stall-timeout",
                        "--max-connections", "--max-connections-per-client", "--max-bytes-in-flight"},
                       {"--help"});
  if (cl.Flag("--help")) {
    std::cout << kServeHelp;
    return 0;
  }
  if (!cl.Positional().empty()) throw EUsage("unexpected argument " + cl.Positional()[0]);
  HttpServerOptions options;
  const std::string db = cl.Required("--db");
  if (const auto listen = cl.Value("--listen")) ParseListen(*listen, options);
  options.threads = static_cast<int>(cl.Number("--threads", 64, 1, 1024));
  ReadLimits(cl, options.limits);
  options.tls.certificateFile = cl.Value("--tls-cert").value_or("");
  options.tls.keyFile = cl.Value("--tls-key").value_or("");
  if (options.tls.certificateFile.empty() != options.tls.keyFile.empty()) {
    throw EUsage("--tls-cert and --tls-key go together");
  }
  if (const auto tokens = cl.Value("--tokens")) {
    if (tokens->empty()) throw EUsage("option --tokens needs a file");
    options.tokens = std::make_shared<const AccessTokens>(AccessTokens::Load(*tokens));
  }

  // Signals are taken by one thread with sigwait, so no handler runs inside the workers.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  CallLog log(stderr);
  const auto store = Store::Open(db);
  RemoteService service(*store);
  HttpServer http(service, log, options);
  const int port = http.Bind();
  if (options.tokens) {
    log.Note("pdi07310-server accepts only requests carrying one of the " + std::to_string(options.tokens->Size()) +
             " access tokens of " + *cl.Value("--tokens"));
  } else {
    log.Note("pdi07310-server accepts requests from anyone who can reach " + options.host +
             " (no access tokens: give --tokens FILE to require them)");
  }
  log.Note(std::string("pdi07310-server listening on ") + (options.tls.Enabled() ? "https://" : "http://") + options.host + ":" + std::to_string(port) + "/" +
           std::string(RemoteService::kServiceName) + " (database " + Store::Redacted(db) + ")");

  std::atomic<bool> signalled{false};
  std::thread watcher([&] {
    int received = 0;
    sigwait(&stopSignals, &received);
    if (signalled.exchange(true)) return;  // woken by main after Run returned on its own
    log.Note(std::string("pdi07310-server stopping (") + (received == SIGINT ? "SIGINT" : "SIGTERM") +
             "): finishing calls under way");
    http.Stop();
  });
  std::string failure;
  try {
    http.Run();
  } catch (const std::exception& e) {
    failure = e.what();
  }
  // Run returns on its own only when the listener failed: then the stop is a failure.
  const bool stoppedBySignal = signalled.exchange(true);
  if (!stoppedBySignal) pthread_kill(watcher.native_handle(), SIGTERM);
  watcher.join();
  if (!stoppedBySignal) {
    log.Note("pdi07310-server stopped: " + (failure.empty() ? std::string("the listener ended") : failure));
    return 1;
  }
  log.Note("pdi07310-server stopped");
  return 0;
}

std::string OneLocalArgument(const CommandLine& cl) {
  if (cl.Positional().size() != 1) throw EUsage("expected exactly one LOCAL_DB argument");
  return cl.Positional()[0];
}

void PrintCounts(const char* verb, const MasterCounts& c) {
  std::cerr << verb << " " << c.products << " products, " << c.suppliers << " suppliers, " << c.clients
            << " clients, " << c.branches << " branches\n";
}

int ImportMaster(const std::vector<std::string>& args) {
  const CommandLine cl(args, {"--db"}, {"--help"});
  if (cl.Flag("--help")) {
    std::cout << kImportHelp;
    return 0;
  }
  const std::string db = cl.Required("--db");
  const std::string local = OneLocalArgument(cl);
  const auto store = Store::Open(db);
  const auto session = store->OpenSession();
  PrintCounts("imported", LocalDatabase::Import(*session, local));
  return 0;
}

int ExportLocal(const std::vector<std::string>& args) {
  const CommandLine cl(args, {"--db"}, {"--help"});
  if (cl.Flag("--help")) {
    std::cout << kExportHelp;
    return 0;
  }
  const std::string db = cl.Required("--db");
  const std::string local = OneLocalArgument(cl);
  if (!Store::IsPostgresLocation(db) && !std::filesystem::exists(db)) {
    throw std::runtime_error("server database not found: " + db);
  }
  const auto store = Store::Open(db);
  const auto session = store->OpenSession();
  PrintCounts("exported", LocalDatabase::Export(*session, local));
  return 0;
}

int Demo(const std::vector<std::string>& args) {
  const CommandLine cl(args, {"--db", "--local", "--products", "--rows-per-product", "--seed"}, {"--help"});
  if (cl.Flag("--help")) {
    std::cout << kDemoHelp;
    return 0;
  }
  if (!cl.Positional().empty()) throw EUsage("unexpected argument " + cl.Positional()[0]);
  const std::string db = cl.Required("--db");
  const std::string local = cl.Required("--local");
  DemoOptions options;
  options.products = cl.Number("--products", 20, 1, 50'000'000);
  options.rowsPerProduct = cl.Number("--rows-per-product", 6, 0, 3000);
  options.seed = static_cast<uint64_t>(cl.Number("--seed", 7310, 0, INT64_MAX));

  const auto started = std::chrono::steady_clock::now();
  const auto store = Store::Open(db);
  const auto session = store->OpenSession();
  for (const ListKind kind : {ListKind::Product, ListKind::Supplier, ListKind::Client, ListKind::Branch}) {
    if (session->CountMaster(kind) > 0 || (kind != ListKind::Product && session->CountPairs(kind) > 0)) {
      throw std::runtime_error("the database " + Store::Redacted(db) + " already holds data; give a new one");
    }
  }
  const DemoCounts counts = DemoGenerator::Generate(*session, options);
  LocalDatabase::Export(*session, local);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::cerr << "demo: " << counts.products << " products (" << options.products << " listed), " << counts.suppliers
            << " suppliers, " << counts.clients << " clients, " << counts.branches << " branches, " << counts.pairs
            << " related rows in " << seconds << " s\n";
  return 0;
}

int Audit(const std::vector<std::string>& args) {
  const CommandLine cl(args, {"--db", "--product", "--since"}, {"--help"});
  if (cl.Flag("--help")) {
    std::cout << kAuditHelp;
    return 0;
  }
  if (!cl.Positional().empty()) throw EUsage("unexpected argument " + cl.Positional()[0]);
  const std::string db = cl.Required("--db");
  AuditFilter filter;
  filter.productKey = cl.Value("--product").value_or("");
  if (const auto since = cl.Value("--since")) {
    try {
      filter.since = AuditTime::Parse(*since);
    } catch (const std::invalid_argument& e) {
      throw EUsage(std::string("--since: ") + e.what());
    }
  }
  if (!Store::IsPostgresLocation(db) && !std::filesystem::exists(db)) {
    throw std::runtime_error("server database not found: " + db);
  }
  const auto store = Store::Open(db);
  const auto session = store->OpenSession();
  const int64_t packets = AuditReport::Print(*session, filter, std::cout);
  std::cout.flush();
  std::cerr << packets << (packets == 1 ? " packet\n" : " packets\n");
  return 0;
}

int Main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    std::cerr << kUsage;
    return 2;
  }
  const std::string command = args[0];
  args.erase(args.begin());
  try {
    if (command == "--help" || command == "-h" || command == "help") {
      std::cout << kUsage;
      return 0;
    }
    if (command == "serve") return Serve(args);
    if (command == "import-master") return ImportMaster(args);
    if (command == "export-local") return ExportLocal(args);
    if (command == "demo") return Demo(args);
    if (command == "audit") return Audit(args);
    std::cerr << "pdi07310-server: unknown command '" << command << "'\n\n" << kUsage;
    return 2;
  } catch (const EUsage& e) {
    std::cerr << "pdi07310-server " << command << ": " << e.what() << "\n(see 'pdi07310-server " << command
              << " --help')\n";
    return 2;
  } catch (const std::exception& e) {
    std::cerr << "pdi07310-server " << command << ": " << e.what() << "\n";
    return 1;
  }
}

}  // namespace
}  // namespace server

int main(int argc, char** argv) { return server::Main(argc, argv); }
