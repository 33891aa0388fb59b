// pdi07310-server: the application server of the exemption-list screen, and its data tools.
//
//   pdi07310-server serve --db DB [--create] [--sync full|normal] [--config FILE] [--listen HOST:PORT]
//                         [--tokens FILE] [--max-request-bytes N] [--threads N]
//   pdi07310-server init --db DB
//   pdi07310-server migrate --db DB
//   pdi07310-server backup --db DB FILE
//   pdi07310-server restore --db DB FILE
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
#include <fstream>
#include <set>
#include <utility>
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
#include "server/store/StoreBackup.h"
#include "pdi_version.h"

namespace server {
namespace {

constexpr const char* kUsage =
    "usage: pdi07310-server <command> [options]\n"
    "\n"
    "commands:\n"
    "  serve          serve the remote service PDI07310.rdmProdDesoneraImpos over HTTP\n"
    "  init           make a new, empty store\n"
    "  migrate        bring a store to this release's schema\n"
    "  backup         write a consistent copy of a store while it serves\n"
    "  restore        make a store from a backup\n"
    "  import-master  fill or refresh the master tables from a local database file\n"
    "  export-local   write the local read-only database from the master tables\n"
    "  demo           write a consistent demo pair (server database and local database)\n"
    "  audit          print the audit trail of applied change packets\n"
    "\n"
    "DB is an SQLite file or a PostgreSQL URI postgresql://USER@HOST:PORT/NAME. It must hold a store\n"
    "('init' or 'serve --create' makes one); 'demo' and 'import-master' make one when it is missing.\n"
    "\n"
    "Run 'pdi07310-server <command> --help' for the options of a command, 'pdi07310-server --version' for\n"
    "the release.\n";

constexpr const char* kServeHelp =
    "usage: pdi07310-server serve --db DB [--create] [--sync full|normal] [--config FILE] [--listen HOST:PORT]\n"
    "                             [--tokens FILE] [--threads N] [--tls-cert FILE --tls-key FILE] [limits]\n"
    "\n"
    "Serves POST /PDI07310.rdmProdDesoneraImpos (JSON-RPC 2.0), GET on the same path, and the local\n"
    "database of the desktops at GET /PDI07310.rdmProdDesoneraImpos/local.db (with an ETag).\n"
    "  --db DB                 SQLite file of the server, or a postgresql:// URI. It must hold a store;\n"
    "                          an older SQLite store is backed up (DB.vN.backup) and migrated. Several\n"
    "                          servers may serve one PostgreSQL database at once.\n"
    "  --create                make a new, empty store when DB holds none\n"
    "  --sync full|normal      SQLite: full (default) waits for the disk at every commit; normal is faster\n"
    "                          but a power loss may drop the last acknowledged saves\n"
    "  --config FILE           read options from FILE: lines 'name = value' with the names of these options\n"
    "                          ('db', 'listen', 'tokens', ...; 'create = yes'); the command line wins\n"
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

constexpr const char* kInitHelp =
    "usage: pdi07310-server init --db DB\n"
    "\n"
    "Makes a new, empty store at DB (an SQLite file or an empty PostgreSQL schema). A store already there\n"
    "is left as it is.\n";

constexpr const char* kMigrateHelp =
    "usage: pdi07310-server migrate --db DB\n"
    "\n"
    "Brings the store at DB to this release's schema, in one transaction. PostgreSQL stores are migrated only\n"
    "by this command: back the database up first (pg_dump) and stop the older servers. SQLite stores are also\n"
    "migrated by serve, after a copy of the file is written beside it (DB.vN.backup).\n";

constexpr const char* kBackupHelp =
    "usage: pdi07310-server backup --db DB FILE\n"
    "\n"
    "Writes a consistent copy of the store at DB into the SQLite file FILE (replacing it) while servers go on\n"
    "serving and saving: every save acknowledged before the copy began is in it. From PostgreSQL the copy\n"
    "is an SQLite store too, so 'serve --db FILE' runs on it. The copy passes SQLite's integrity check\n"
    "before it takes FILE's name.\n";

constexpr const char* kRestoreHelp =
    "usage: pdi07310-server restore --db DB FILE\n"
    "\n"
    "Makes the store at DB from the backup FILE: DB is a new SQLite path (stop the server, restore into a new\n"
    "file, move it into place, start the server) or an empty PostgreSQL schema.\n";

// The options a configuration file may give and whether each takes a value: every value option
// of serve, and its --create flag.
const std::set<std::string> kServeValues = {
    "--db",           "--listen",         "--tokens",           "--max-request-bytes", "--threads",
    "--sync",         "--config",         "--tls-cert",         "--tls-key",           "--max-header-bytes",
    "--idle-timeout", "--head-timeout",   "--body-timeout",     "--stall-timeout",     "--max-connections",
    "--max-connections-per-client",       "--max-bytes-in-flight"};
const std::set<std::string> kServeFlags = {"--help", "--create"};

// The options of a configuration file as command-line arguments, to be read before the real
// ones (so those win). Lines: "name = value", '#' comments, blank lines. Raises EUsage.
std::vector<std::string> ConfigArguments(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw EUsage("cannot read the configuration file " + path);
  std::vector<std::string> args;
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    const auto trim = [](std::string text) {
      const size_t first = text.find_first_not_of(" \t\r");
      if (first == std::string::npos) return std::string();
      return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
    };
    line = trim(line);
    if (line.empty() || line[0] == '#') continue;
    const size_t equals = line.find('=');
    const std::string where = path + " line " + std::to_string(number);
    if (equals == std::string::npos) throw EUsage(where + ": expected 'name = value'");
    const std::string name = "--" + trim(line.substr(0, equals));
    const std::string value = trim(line.substr(equals + 1));
    if (name == "--config" || (!kServeValues.count(name) && !kServeFlags.count(name)) || name == "--help") {
      throw EUsage(where + ": unknown setting '" + name.substr(2) + "'");
    }
    if (kServeFlags.count(name)) {
      if (value != "yes" && value != "no" && value != "true" && value != "false") {
        throw EUsage(where + ": " + name.substr(2) + " takes yes or no");
      }
      if (value == "yes" || value == "true") args.push_back(name);
    } else {
      args.push_back(name);
      args.push_back(value);
    }
  }
  return args;
}

// The store options of --create and --sync.
StoreOptions ServeStoreOptions(const CommandLine& cl) {
  StoreOptions options;
  options.create = cl.Flag("--create");
  const std::string sync = cl.Value("--sync").value_or("full");
  if (sync != "full" && sync != "normal") throw EUsage("--sync takes full or normal, not \"" + sync + "\"");
  options.fullSync = sync == "full";
  return options;
}

// Prints what opening the store did (a migration), if anything.
void NoteOpened(const Store& store) {
  if (!store.Notes().empty()) std::cerr << "pdi07310-server: " << store.Notes() << "\n";
}

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

int Serve(const std::vector<std::string>& givenArgs) {
  std::vector<std::string> args = givenArgs;
  if (const auto config = CommandLine(givenArgs, kServeValues, kServeFlags).Value("--config")) {
    args = ConfigArguments(*config);
    args.insert(args.end(), givenArgs.begin(), givenArgs.end());
  }
  const CommandLine cl(args, kServeValues, kServeFlags);
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

  StoreOptions storeOptions = ServeStoreOptions(cl);
  // One database connection per worker: a call never waits for a connection another holds.
  storeOptions.connections = options.threads;
  CallLog log(stderr);
  const auto store = Store::Open(db, storeOptions);
  if (!store->Notes().empty()) log.Note("pdi07310-server " + store->Notes());
  RemoteService service(*store);
  options.localDb = std::make_shared<LocalDbPublisher>(*store);
  HttpServer http(service, log, options);
  const int port = http.Bind();
  if (options.tokens) {
    log.Note("pdi07310-server accepts only requests carrying one of the " + std::to_string(options.tokens->Size()) +
             " access tokens of " + *cl.Value("--tokens"));
  } else {
    log.Note("pdi07310-server accepts requests from anyone who can reach " + options.host +
             " (no access tokens: give --tokens FILE to require them)");
  }
  log.Note(std::string("pdi07310-server " PDI_VERSION " listening on ") + (options.tls.Enabled() ? "https://" : "http://") +
           options.host + ":" + std::to_string(port) + "/" +
           std::string(RemoteService::kServiceName) + " (database " + Store::Redacted(db) +
           (Store::IsPostgresLocation(db) ? "" : storeOptions.fullSync ? ", synchronous=FULL" : ", synchronous=NORMAL") +
           ")");

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
  const auto store = Store::Open(db, StoreOptions{.create = true});
  NoteOpened(*store);
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
  const auto store = Store::Open(db);
  NoteOpened(*store);
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
  const auto store = Store::Open(db, StoreOptions{.create = true});
  NoteOpened(*store);
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
  const auto store = Store::Open(db);
  NoteOpened(*store);
  const auto session = store->OpenSession();
  const int64_t packets = AuditReport::Print(*session, filter, std::cout);
  std::cout.flush();
  std::cerr << packets << (packets == 1 ? " packet\n" : " packets\n");
  return 0;
}

int Init(const std::vector<std::string>& args) {
  const CommandLine cl(args, {"--db"}, {"--help"});
  if (cl.Flag("--help")) {
    std::cout << kInitHelp;
    return 0;
  }
  if (!cl.Positional().empty()) throw EUsage("unexpected argument " + cl.Positional()[0]);
  const std::string db = cl.Required("--db");
  const auto store = Store::Open(db, StoreOptions{.create = true});
  NoteOpened(*store);
  std::cerr << "store ready at " << Store::Redacted(db) << " (schema version " << Store::kSchemaVersion << ")\n";
  return 0;
}

int Migrate(const std::vector<std::string>& args) {
  const CommandLine cl(args, {"--db"}, {"--help"});
  if (cl.Flag("--help")) {
    std::cout << kMigrateHelp;
    return 0;
  }
  if (!cl.Positional().empty()) throw EUsage("unexpected argument " + cl.Positional()[0]);
  const std::string db = cl.Required("--db");
  const auto store = Store::Open(db, StoreOptions{.migrate = true});
  std::cerr << (store->Notes().empty() ? "nothing to migrate" : store->Notes()) << "; " << Store::Redacted(db)
            << " has schema version " << Store::kSchemaVersion << "\n";
  return 0;
}

// "--db DB FILE" of backup and restore.
std::pair<std::string, std::string> DbAndFile(const CommandLine& cl) {
  const std::string db = cl.Required("--db");
  if (cl.Positional().size() != 1) throw EUsage("expected exactly one FILE argument");
  return {db, cl.Positional()[0]};
}

int Backup(const std::vector<std::string>& args) {
  const CommandLine cl(args, {"--db"}, {"--help"});
  if (cl.Flag("--help")) {
    std::cout << kBackupHelp;
    return 0;
  }
  const auto [db, file] = DbAndFile(cl);
  const auto started = std::chrono::steady_clock::now();
  StoreBackup::Write(db, file);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::cerr << "backup of " << Store::Redacted(db) << " written to " << file << " in " << seconds
            << " s (integrity check ok)\n";
  return 0;
}

int Restore(const std::vector<std::string>& args) {
  const CommandLine cl(args, {"--db"}, {"--help"});
  if (cl.Flag("--help")) {
    std::cout << kRestoreHelp;
    return 0;
  }
  const auto [db, file] = DbAndFile(cl);
  StoreBackup::Restore(file, db);
  std::cerr << "restored " << file << " into " << Store::Redacted(db) << "\n";
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
    if (command == "--version") {
      std::cout << "pdi07310-server " PDI_VERSION "\n";
      return 0;
    }
    if (command == "--help" || command == "-h" || command == "help") {
      std::cout << kUsage;
      return 0;
    }
    if (command == "serve") return Serve(args);
    if (command == "import-master") return ImportMaster(args);
    if (command == "export-local") return ExportLocal(args);
    if (command == "demo") return Demo(args);
    if (command == "audit") return Audit(args);
    if (command == "init") return Init(args);
    if (command == "migrate") return Migrate(args);
    if (command == "backup") return Backup(args);
    if (command == "restore") return Restore(args);
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
