#include "server/cli/ServerCommands.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "host/wire/ServiceName.h"
#include "pdi_version.h"
#include "server/cli/AuditReport.h"
#include "server/cli/DemoGenerator.h"
#include "server/cli/MasterImport.h"
#include "server/cli/ServeCommand.h"
#include "server/cli/UserCommands.h"
#include "server/http/HttpServer.h"
#include "server/service/AuditTime.h"
#include "server/service/RemoteService.h"
#include "server/store/LocalDatabase.h"
#include "server/store/PgStore.h"
#include "server/store/Store.h"
#include "server/store/StoreBackup.h"

namespace server {
namespace {

using Settings = ServerSettings;

const std::string kServiceName(host::wire::kServiceName);
const std::string kServicePath(host::wire::kServicePath);

// ---- The commands' work, once their settings are read.

// Prints what opening the store did (a migration), if anything.
void NoteOpened(const Store& store) {
  if (!store.Notes().empty()) std::cerr << kProgramName << ": " << store.Notes() << "\n";
}

void PrintCounts(const char* verb, const MasterCounts& c) {
  std::cerr << verb << " " << c.products << " products, " << c.suppliers << " suppliers, " << c.clients
            << " clients, " << c.branches << " branches\n";
}

double SecondsSince(std::chrono::steady_clock::time_point started) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
}

int Init(const Settings& settings) {
  const auto store = Store::Open(settings.db, StoreOptions{.create = true});
  NoteOpened(*store);
  std::cerr << "store ready at " << Store::Redacted(settings.db) << " (schema version " << Store::kSchemaVersion
            << ")\n";
  return 0;
}

int Migrate(const Settings& settings) {
  const auto store = Store::Open(settings.db, StoreOptions{.migrate = true});
  std::cerr << (store->Notes().empty() ? "nothing to migrate" : store->Notes()) << "; "
            << Store::Redacted(settings.db) << " has schema version " << Store::kSchemaVersion << "\n";
  return 0;
}

int Backup(const Settings& settings) {
  const std::string& file = settings.arguments[0];
  const auto started = std::chrono::steady_clock::now();
  StoreBackup::Write(settings.db, file, settings.backup);
  std::cerr << "backup of " << Store::Redacted(settings.db) << " written to " << file << " in "
            << SecondsSince(started) << " s (integrity check ok)\n";
  return 0;
}

int Restore(const Settings& settings) {
  const std::string& file = settings.arguments[0];
  StoreBackup::Restore(file, settings.db);
  std::cerr << "restored " << file << " into " << Store::Redacted(settings.db) << "\n";
  return 0;
}

int ImportMaster(const Settings& settings) {
  const auto store = Store::Open(settings.db, StoreOptions{.create = true});
  NoteOpened(*store);
  const auto session = store->OpenSession();
  const MasterImportReport report = MasterImport::Run(*session, settings.arguments);
  for (const std::string& warning : report.warnings) std::cerr << warning << "\n";
  for (const std::string& fault : report.faults) std::cerr << fault << "\n";
  if (report.Refused()) {
    std::cerr << "import-master: nothing imported (" << report.faults.size()
              << (report.faults.size() == 1 ? " fault" : " faults") << " above); " << Store::Redacted(settings.db)
              << " is as it was\n";
    return 1;
  }
  for (const MasterImportReport::Table& t : report.tables) {
    std::cerr << "imported " << t.name << " from " << t.source << ": " << t.stored << " rows stored (" << t.added
              << " new, " << t.stored - t.added << " replaced)\n";
  }
  if (!report.warnings.empty()) std::cerr << report.warnings.size() << " warnings above; those rows were imported\n";
  return 0;
}

// The commands that only read open a store as it is: an older one is neither migrated nor
// changed, so an older server still serving it is not disturbed.
int ExportLocal(const Settings& settings) {
  const auto store = Store::Open(settings.db, StoreOptions{.readOnly = true});
  NoteOpened(*store);
  const auto session = store->OpenSession();
  PrintCounts("exported", LocalDatabase::Export(*session, settings.arguments[0]));
  return 0;
}

int Demo(const Settings& settings) {
  const auto started = std::chrono::steady_clock::now();
  const auto store = Store::Open(settings.db, StoreOptions{.create = true});
  NoteOpened(*store);
  const auto session = store->OpenSession();
  for (const ListKind kind : {ListKind::Product, ListKind::Supplier, ListKind::Client, ListKind::Branch}) {
    if (session->CountMaster(kind) > 0 || (kind != ListKind::Product && session->CountPairs(kind) > 0)) {
      throw std::runtime_error("the database " + Store::Redacted(settings.db) + " already holds data; give a new one");
    }
  }
  const DemoCounts counts = DemoGenerator::Generate(*session, settings.demo);
  LocalDatabase::Export(*session, settings.local);
  std::cerr << "demo: " << counts.products << " products (" << settings.demo.products << " listed), "
            << counts.suppliers << " suppliers, " << counts.clients << " clients, " << counts.branches
            << " branches, " << counts.pairs << " related rows in " << SecondsSince(started) << " s\n";
  return 0;
}

int Audit(const Settings& settings) {
  // Read-only: the audit never writes to the store, nor migrates it.
  const auto store = Store::Open(settings.db, StoreOptions{.readOnly = true});
  NoteOpened(*store);
  const auto session = store->OpenSession();
  const int64_t packets = AuditReport::Print(*session, settings.audit, std::cout);
  std::cout.flush();
  std::cerr << packets << (packets == 1 ? " packet\n" : " packets\n");
  return 0;
}

// ---- Options shared by several commands, and those that need more than a builder.

OptionSpec DbOption(std::string help = "SQLite file of the server, or a postgresql:// URI") {
  return TextOption("--db", "DB", std::move(help), [](Settings& s) -> auto& { return s.db; }).Required();
}

// --listen HOST:PORT ("[::1]:8470" for an IPv6 address).
OptionSpec ListenOption() {
  OptionSpec o{.name = "--listen", .value = "HOST:PORT", .help = "address to listen on; port 0 picks a free one"};
  o.take = [](const std::string& text, Settings& s) {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) throw EUsage("--listen needs HOST:PORT, not \"" + text + "\"");
    std::string host = text.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    s.http.host = host;
    s.http.port = static_cast<int>(CommandLine::ParseNumber("--port", text.substr(colon + 1), 0, 65535));
  };
  o.shownDefault = [](Settings& s) { return s.http.host + ":" + std::to_string(s.http.port); };
  return o;
}

OptionSpec TokensOption() {
  OptionSpec o{.name = "--tokens",
               .value = "FILE",
               .help = "accept only requests with 'Authorization: Bearer TOKEN' for a TOKEN listed\n"
                       "in FILE, one 'TOKEN USER [edicao|consulta]' per line ('#' starts a comment\n"
                       "line; the role is edicao when not given); others get HTTP 401. FILE is owned\n"
                       "by the server's user (mode 0600) or root (0640). Default: the systemd\n"
                       "credential 'tokens', if given; else, without local users or a directory,\n"
                       "the server accepts anyone (and says so)."};
  o.take = [](const std::string& text, Settings& s) {
    if (text.empty()) throw EUsage("option --tokens needs a file");
    s.tokensFile = text;
  };
  o.shown = [](Settings& s) { return s.tokensFile; };
  return o;
}

// --trusted-proxy CIDR,…
OptionSpec TrustedProxyOption() {
  OptionSpec o{.name = "--trusted-proxy",
               .value = "CIDR,...",
               .help = "balancers whose word on the client is believed: the client address they\n"
                       "give (PROXY protocol header, X-Forwarded-For) goes to the log and audit"};
  o.take = [](const std::string& text, Settings& s) {
    try {
      s.trustedProxies = TrustedProxies::Parse(text);
    } catch (const std::invalid_argument& e) {
      throw EUsage(std::string("--trusted-proxy: ") + e.what());
    }
  };
  o.shown = [](Settings& s) { return s.trustedProxies.Text(); };
  return o;
}

// --metrics-listen HOST:PORT.
OptionSpec MetricsListenOption() {
  OptionSpec o{.name = "--metrics-listen",
               .value = "HOST:PORT",
               .help = "serve Prometheus metrics at http://HOST:PORT/metrics (off by default)"};
  o.take = [](const std::string& text, Settings& s) {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) throw EUsage("--metrics-listen needs HOST:PORT, not \"" + text + "\"");
    std::string host = text.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    s.metricsHost = host;
    s.metricsPort = static_cast<int>(CommandLine::ParseNumber("--metrics-listen", text.substr(colon + 1), 0, 65535));
  };
  o.shown = [](Settings& s) { return s.metricsHost.empty() ? std::string() : s.metricsHost + ":" + std::to_string(s.metricsPort); };
  return o;
}

// serve's checks of options that go together.
void CheckServe(const Settings& s) {
  const DirectoryOptions& d = s.directory;
  if (!d.Configured() && (!d.userDn.empty() || !d.groupEdicao.empty() || !d.groupConsulta.empty() ||
                          !d.caFile.empty() || d.insecure)) {
    throw EUsage("the --ldap-… options need --ldap-uri");
  }
  if (d.Configured()) {
    if (const std::string why = Directory::Unfit(d); !why.empty()) throw EUsage(why);
  }
  if (s.sessions.idle > s.sessions.max) throw EUsage("--session-idle must be at most --session-max");
  // A body the budget could never hold would be refused as "busy" forever: say so now.
  if (s.http.limits.maxBytesInFlight < s.http.limits.maxRequestBytes) {
    throw EUsage("--max-bytes-in-flight must be at least --max-request-bytes");
  }
  if (s.http.tls.certificateFile.empty() != s.http.tls.keyFile.empty()) {
    throw EUsage("--tls-cert and --tls-key go together");
  }
}

constexpr int64_t kGiB = 1024ll * 1024 * 1024;

CommandSpec ServeCommand() {
  CommandSpec c;
  c.name = "serve";
  c.summary = "serve the remote service " + kServiceName + " over HTTP";
  c.description = "Serves POST " + kServicePath + " (JSON-RPC 2.0), GET on the same path, the local\n" +
                  "database of the desktops at GET " + kServicePath + "/local.db (with an ETag), GET /health\n" +
                  "(200 'ok' when the database answers within 1 s, else 503 and why; no token needed),\n" +
                  "and the screen for browsers under / (see --web).\n";
  // Every option of serve but --config may also be given in the configuration file.
  c.options = {
      DbOption("SQLite file of the server, or a postgresql:// URI. It must hold a store;\n"
               "an older SQLite store is backed up (DB.vN.backup) and migrated. Several\n"
               "servers may serve one PostgreSQL database at once.")
          .Configurable(),
      FlagOption("--create", "make a new, empty store when DB holds none",
                 [](Settings& s) -> auto& { return s.store.create; })
          .Configurable(),
      ChoiceOption("--sync",
                   "SQLite: full waits for the disk at every commit; normal is faster but a\n"
                   "power loss may drop the last acknowledged saves",
                   std::vector<std::pair<std::string, bool>>{{"full", true}, {"normal", false}},
                   [](Settings& s) -> auto& { return s.store.fullSync; })
          .Configurable(),
      ConfigFileOption("read options from FILE: lines 'name = value' with the names of these options\n"
                       "('db', 'listen', 'tokens', ...; 'create = yes'); the command line wins"),
      FlagOption("--check-config", "read and check the configuration (and the files it names), say what\n"
                                   "it found, and exit: 0 when it is sound",
                 [](Settings& s) -> auto& { return s.checkConfig; }),
      ListenOption().Configurable(),
      TokensOption().Reloadable(),
      TextOption("--web", "FOLDER",
                 "serve the screen for browsers under / from FOLDER (the page's built\n"
                 "files); default: share/pdi07310-server/web beside the program when\n"
                 "installed; none: no page",
                 [](Settings& s) -> auto& { return s.web; })
          .Configurable(),
      TextOption("--tls-cert", "FILE",
                 "serve HTTPS only, with this certificate chain (PEM). Default: the systemd\n"
                 "credentials 'tls.crt' and 'tls.key', if given",
                 [](Settings& s) -> auto& { return s.http.tls.certificateFile; })
          .Reloadable(),
      TextOption("--tls-key", "FILE",
                 "the private key (PEM) of --tls-cert, owned by the server's user (mode\n"
                 "0600) or root (0640)",
                 [](Settings& s) -> auto& { return s.http.tls.keyFile; })
          .Reloadable(),
      NumberOption("--threads", "N",
                   "workers running calls: at most N calls run at once; idle and slow\n"
                   "connections hold no worker",
                   1, 1024, [](Settings& s) -> auto& { return s.http.threads; })
          .Configurable(),
      NumberOption("--db-connections", "N",
                   "PostgreSQL: the most connections this server opens to the database, all\n"
                   "uses together (calls, checks, health); calls wait for one of them",
                   PgStore::kLeastConnections, 10000, [](Settings& s) -> auto& { return s.store.connections; })
          .Configurable(),
      SecondsOption("--db-wait-timeout",
                    "PostgreSQL: seconds a call waits for a free connection before it is\n"
                    "answered 'servidor ocupado'",
                    1, 3600, [](Settings& s) -> auto& { return s.store.connectionWait; })
          .Configurable(),
      TrustedProxyOption().Reloadable(),
      MetricsListenOption().Configurable(),
      TextOption("--log-file", "FILE",
                 "write the log to FILE (opened again on SIGHUP, for logrotate) instead of\n"
                 "standard error",
                 [](Settings& s) -> auto& { return s.logFile; })
          .Reloadable(),
      ChoiceOption("--log-format", "text lines, or one JSON object per line",
                   std::vector<std::pair<std::string, LogFormat>>{{"text", LogFormat::kText}, {"json", LogFormat::kJson}},
                   [](Settings& s) -> auto& { return s.logFormat; })
          .Reloadable(),
      ChoiceOption("--log-level", "the least level written; calls are info, failed calls error",
                   std::vector<std::pair<std::string, LogLevel>>{{"debug", LogLevel::kDebug},
                                                                 {"info", LogLevel::kInfo},
                                                                 {"warning", LogLevel::kWarning},
                                                                 {"error", LogLevel::kError}},
                   [](Settings& s) -> auto& { return s.logLevel; })
          .Reloadable(),
  };
  OptionGroup limits{.name = "limits",
                     .heading = "Limits (a request past a size limit gets 413, past a budget 503; a deadline passed "
                                "closes the\nconnection)"};
  limits.options = {
      NumberOption("--max-request-bytes", "N", "largest request body, however framed", 1024, 4 * kGiB,
                   [](Settings& s) -> auto& { return s.http.limits.maxRequestBytes; }),
      NumberOption("--max-header-bytes", "N", "largest request line and header fields", 1024, 1024 * 1024,
                   [](Settings& s) -> auto& { return s.http.limits.maxHeaderBytes; }),
      SecondsOption("--idle-timeout", "seconds a kept-alive connection may wait for its next request", 1, 86400,
                    [](Settings& s) -> auto& { return s.http.limits.idleTimeout; }),
      SecondsOption("--head-timeout", "seconds for a whole request head, and a TLS handshake", 1, 86400,
                    [](Settings& s) -> auto& { return s.http.limits.headTimeout; }),
      SecondsOption("--body-timeout", "seconds for a whole request body", 1, 86400,
                    [](Settings& s) -> auto& { return s.http.limits.bodyTimeout; }),
      SecondsOption("--stall-timeout",
                    "seconds a client may take nothing of an answer before it is dropped and\n"
                    "its database snapshot released",
                    1, 86400, [](Settings& s) -> auto& { return s.http.limits.stallTimeout; }),
      NumberOption("--max-connections", "N", "connections open at once", 1, 1000000,
                   [](Settings& s) -> auto& { return s.http.limits.maxConnections; }),
      NumberOption("--max-connections-per-client", "N",
                   "connections open at once from one address; 0: no limit, as behind a\n"
                   "balancer whose address every connection has",
                   0, 1000000, [](Settings& s) -> auto& { return s.http.limits.maxConnectionsPerClient; }),
      NumberOption("--max-bytes-in-flight", "N", "request bytes held at once, all connections together", 1024,
                   64 * kGiB, [](Settings& s) -> auto& { return s.http.limits.maxBytesInFlight; }),
      NumberOption("--max-bytes-in-flight-per-client", "N",
                   "request bytes held at once from one address (at least one largest\n"
                   "request); 0: no share (behind a balancer)",
                   0, 64 * kGiB, [](Settings& s) -> auto& { return s.http.limits.maxBytesInFlightPerClient; }),
      NumberOption("--max-answer-bytes", "N",
                   "answer bytes handed to send and not yet taken by the clients, all\n"
                   "together; past it new calls get 503 until answers are taken",
                   1024, 64 * kGiB, [](Settings& s) -> auto& { return s.http.limits.maxAnswerBytes; }),
      NumberOption("--max-answer-bytes-per-client", "N",
                   "the same for one address; 0: no share (behind a balancer)", 0, 64 * kGiB,
                   [](Settings& s) -> auto& { return s.http.limits.maxAnswerBytesPerClient; }),
      NumberOption("--max-streams-per-client", "N",
                   "streamed answers (getDados and the lists) under way for one address;\n"
                   "0: no share (behind a balancer)",
                   0, 1000000, [](Settings& s) -> auto& { return s.http.limits.maxStreamsPerClient; }),
      SecondsOption("--stream-timeout",
                    "seconds a whole streamed answer may take, however steadily it is read;\n"
                    "its database snapshot is released then",
                    1, 86400, [](Settings& s) -> auto& { return s.http.limits.streamTimeout; }),
      NumberOption("--max-batch-answer-bytes", "N",
                   "bytes of a batch's answer; once reached, the calls left get an error", 1024, 4 * kGiB,
                   [](Settings& s) -> auto& { return s.service.maxBatchAnswerBytes; }),
      NumberOption("--max-batch-answer-rows", "N",
                   "rows of data in a batch's answer; once reached, the calls left get an\nerror", 1, 1000000000,
                   [](Settings& s) -> auto& { return s.service.maxBatchAnswerRows; }),
      NumberOption("--saves-per-minute", "N",
                   "saves a user (or, without tokens, an address) may make a minute once its\n"
                   "burst is spent; 0: no limit",
                   0, 100000000, [](Settings& s) -> auto& { return s.service.savesPerMinute; }),
      NumberOption("--save-burst", "N", "saves a user may make at once, before the rate applies", 1, 100000000,
                   [](Settings& s) -> auto& { return s.service.saveBurst; }),
      NumberOption("--wal-size-limit", "N",
                   "SQLite: bytes the write-ahead log is cut back to once a checkpoint has\n"
                   "emptied it (after a long reader it may have grown far past this)",
                   0, 64 * kGiB, [](Settings& s) -> auto& { return s.store.walSizeLimit; }),
      NumberOption("--max-spool-bytes", "N",
                   "answers read ahead of slow clients and kept on disk, all together; past it\n"
                   "an answer goes at its client's pace, holding its database connection",
                   0, 1024 * kGiB, [](Settings& s) -> auto& { return s.http.limits.maxSpoolBytes; }),
  };
  for (OptionSpec& option : limits.options) option.configurable = true;
  OptionGroup signIn{.name = "sign-in",
                     .heading = "Sign-in (local users of the store, see 'user add'; the company's directory over LDAP)"};
  signIn.options = {
      TextOption("--ldap-uri", "URI",
                 "sign people in against the directory at ldap://HOST[:PORT] (StartTLS but to\n"
                 "a loopback address) or ldaps://HOST[:PORT]",
                 [](Settings& s) -> auto& { return s.directory.uri; }),
      TextOption("--ldap-user-dn", "TEMPLATE",
                 "a person's bind name, {user} standing for the name typed:\n"
                 "uid={user},ou=pessoas,dc=empresa,dc=br or {user}@empresa.local",
                 [](Settings& s) -> auto& { return s.directory.userDn; }),
      TextOption("--ldap-group-edicao", "DN", "the group whose members (member attribute) may change the lists",
                 [](Settings& s) -> auto& { return s.directory.groupEdicao; }),
      TextOption("--ldap-group-consulta", "DN", "the group whose members may only look",
                 [](Settings& s) -> auto& { return s.directory.groupConsulta; }),
      TextOption("--ldap-ca", "FILE", "CA certificates (PEM) the directory's certificate is verified against",
                 [](Settings& s) -> auto& { return s.directory.caFile; }),
      FlagOption("--ldap-insecure", "allow plain ldap:// (no TLS) to a directory not on loopback",
                 [](Settings& s) -> auto& { return s.directory.insecure; }),
      SecondsOption("--ldap-timeout", "seconds for connecting to the directory and for each answer", 1, 300,
                    [](Settings& s) -> auto& { return s.directory.timeout; }),
      SecondsOption("--session-idle", "seconds without a call after which a session ends", 1, 7 * 86400,
                    [](Settings& s) -> auto& { return s.sessions.idle; }),
      SecondsOption("--session-max", "seconds after sign-in at which a session ends", 1, 30 * 86400,
                    [](Settings& s) -> auto& { return s.sessions.max; }),
  };
  for (OptionSpec& option : signIn.options) option.configurable = true;
  c.groups = {std::move(limits), std::move(signIn)};
  c.footer =
      "Prints 'listening on http://HOST:PORT/...' (https:// with TLS) on stderr when ready and one line per\n"
      "call. SIGINT or SIGTERM finish the calls under way and stop the server (exit status 0); a listener\n"
      "that fails for good stops it with a line saying why (exit status 1). SIGHUP reads the configuration\n"
      "again and takes its reloadable settings (tokens, tls-cert, tls-key, trusted-proxy, log-file,\n"
      "log-format, log-level), reading the files they name again; a reload that fails changes nothing.\n";
  c.check = CheckServe;
  c.run = Serve;
  return c;
}

std::vector<CommandSpec> BuildCommands() {
  std::vector<CommandSpec> commands = {ServeCommand()};
  commands.push_back({.name = "init",
                      .summary = "make a new, empty store",
                      .description = "Makes a new, empty store at DB (an SQLite file or an empty PostgreSQL schema). "
                                     "A store already there\nis left as it is.\n",
                      .options = {DbOption()},
                      .run = Init});
  commands.push_back(
      {.name = "migrate",
       .summary = "bring a store to this release's schema",
       .description =
           "Brings the store at DB to this release's schema, in one transaction. PostgreSQL stores are migrated "
           "only\nby this command: back the database up first (pg_dump) and stop the older servers. SQLite stores "
           "are also\nmigrated by serve, after a copy of the file is written beside it (DB.vN.backup).\n",
       .options = {DbOption()},
       .run = Migrate});
  commands.push_back(
      {.name = "backup",
       .summary = "write a consistent copy of a store while it serves",
       .description =
           "Writes a consistent copy of the store at DB into the SQLite file FILE while servers go on serving "
           "and\nsaving: every save acknowledged before the copy began is in it. From PostgreSQL the copy is an "
           "SQLite\nstore too, so 'serve --db FILE' runs on it. The copy passes SQLite's integrity check before it "
           "takes\nFILE's name, and is one file (no -wal or -shm beside it). FILE is never the store or one of its "
           "side\nfiles (-wal, -shm, -journal); an existing FILE is replaced only with --force. The store is only "
           "read,\nas it is (an older one is not migrated).\n",
       .options = {DbOption(), FlagOption("--force", "replace a file already at FILE (never the store's own files)",
                                          [](Settings& s) -> auto& { return s.backup.overwrite; })},
       .argument = "FILE",
       .run = Backup});
  commands.push_back(
      {.name = "restore",
       .summary = "make a store from a backup",
       .description =
           "Makes the store at DB from the backup FILE: DB is a new SQLite path (stop the server, restore into a "
           "new\nfile, move it into place, start the server) or an empty PostgreSQL schema.\n",
       .options = {DbOption()},
       .argument = "FILE",
       .run = Restore});
  commands.push_back(
      {.name = "import-master",
       .summary = "fill or refresh the master tables from CSV files or a local database file",
       .description =
           "Adds or replaces (by key) the rows of the master tables given: CSV files named after their table\n"
           "(PRODUTO.csv, FORNECEDOR.csv, CLIENTE.csv, FILIAL.csv; or a folder holding them), UTF-8 with ';' or\n"
           "',' and a header row of the table's columns; or one file in the local database's format. Only the\n"
           "tables given change; rows missing from them are kept. An empty or repeated key, a wrong number of\n"
           "cells, bytes that are not UTF-8 or a person type other than F or J refuse the whole import\n"
           "('FILE:LINE: reason', exit status 1, nothing changed); a taxpayer number with wrong check digits\n"
           "is a warning. The counts printed are the rows stored.\n",
       .options = {DbOption()},
       .argument = "FILE",
       .manyArguments = true,
       .run = ImportMaster});
  commands.push_back(
      {.name = "export-local",
       .summary = "write the local read-only database from the master tables",
       .description = "Writes the tables PRODUTO, FORNECEDOR, CLIENTE and FILIAL (all TEXT, indexed on the "
                      "looked-up\ncolumns) of the local read-only database LOCAL_DB from the master tables of DB, "
                      "replacing them.\n",
       .options = {DbOption()},
       .argument = "LOCAL_DB",
       .run = ExportLocal});
  commands.push_back(
      {.name = "demo",
       .summary = "write a consistent demo pair (server database and local database)",
       .description = "Writes demo master data and exemption rows into DB (which must hold no data yet) and the\n"
                      "matching local database LOCAL_DB: N products get M related rows each, spread over\n"
                      "suppliers, clients and branches; the same options always give the same data.\n",
       .options = {DbOption(),
                   TextOption("--local", "LOCAL_DB", "the local database to write",
                              [](Settings& s) -> auto& { return s.local; })
                       .Required(),
                   NumberOption("--products", "N", "products with related rows", 1, 50'000'000,
                                [](Settings& s) -> auto& { return s.demo.products; }),
                   NumberOption("--rows-per-product", "M", "related rows of each such product", 0, 3000,
                                [](Settings& s) -> auto& { return s.demo.rowsPerProduct; }),
                   NumberOption("--seed", "S", "seed of the generator", 0, INT64_MAX,
                                [](Settings& s) -> auto& { return s.demo.seed; })},
       .run = Demo});
  OptionSpec since{.name = "--since",
                   .value = "TIME",
                   .help = "only packets at or after TIME, ISO 8601: 2024-05-01, 2024-05-01T14:30,\n"
                           "2024-05-01T14:30:15.250-03:00 (without a zone, UTC)"};
  since.take = [](const std::string& text, Settings& s) {
    try {
      s.audit.since = AuditTime::Parse(text);
    } catch (const std::invalid_argument& e) {
      throw EUsage(std::string("--since: ") + e.what());
    }
  };
  commands.push_back(
      {.name = "audit",
       .summary = "print the audit trail of applied change packets",
       .description = "Prints the applied change packets, oldest first: time (UTC), packet number, method, client\n"
                      "address and user, then each change with the stored rows it added or removed. The store is\n"
                      "opened read-only; text that came from clients is printed escaped (\\xNN, \\uNNNN).\n",
       .options = {DbOption(),
                   TextOption("--product", "CDPRODUTO", "only changes of this product key",
                              [](Settings& s) -> auto& { return s.audit.productKey; }),
                   std::move(since)},
       .run = Audit});
  for (CommandSpec& user : UserCommands()) commands.push_back(std::move(user));
  return commands;
}

const char* const kUsageFooter =
    "DB is an SQLite file or a PostgreSQL URI postgresql://USER@HOST:PORT/NAME. It must hold a store\n"
    "('init' or 'serve --create' makes one); 'demo' and 'import-master' make one when it is missing.\n"
    "\n"
    "Run 'pdi07310-server <command> --help' for the options of a command, 'pdi07310-server --version' for\n"
    "the release.\n";

}  // namespace

const std::vector<CommandSpec>& ServerCommands() {
  static const std::vector<CommandSpec> kCommands = BuildCommands();
  return kCommands;
}

int ServerMain(std::vector<std::string> args) {
  const auto usage = [] { return ProgramUsage(ServerCommands(), kUsageFooter); };
  if (args.empty()) {
    std::cerr << usage();
    return 2;
  }
  const std::string command = args[0];
  args.erase(args.begin());
  try {
    if (command == "--version") {
      std::cout << kProgramName << " " PDI_VERSION "\n";
      return 0;
    }
    if (command == "--help" || command == "-h" || command == "help") {
      std::cout << usage();
      return 0;
    }
    for (const CommandSpec& spec : ServerCommands()) {
      if (spec.name == command) return RunCommand(spec, args, std::cout);
    }
    // A family of commands ("user add", "user list", …): its name, then the member's.
    std::vector<const CommandSpec*> family;
    for (const CommandSpec& spec : ServerCommands()) {
      if (spec.name.rfind(command + " ", 0) == 0) family.push_back(&spec);
    }
    if (!family.empty()) {
      for (const CommandSpec* spec : family) {
        if (!args.empty() && spec->name == command + " " + args[0]) {
          const std::string member = args[0];
          args.erase(args.begin());
          try {
            return RunCommand(*spec, args, std::cout);
          } catch (const EUsage& e) {
            std::cerr << kProgramName << " " << spec->name << ": " << e.what() << "\n(see '" << kProgramName << " "
                      << spec->name << " --help')\n";
            return 2;
          }
        }
      }
      std::vector<CommandSpec> members;
      for (const CommandSpec* spec : family) members.push_back(*spec);
      const bool help = !args.empty() && (args[0] == "--help" || args[0] == "-h" || args[0] == "help");
      if (!help) {
        std::cerr << kProgramName << " " << command << ": "
                  << (args.empty() ? std::string("which one?") : "unknown command '" + args[0] + "'") << "\n\n";
      }
      (help ? std::cout : std::cerr) << ProgramUsage(members, kUsageFooter);
      return help ? 0 : 2;
    }
    std::cerr << kProgramName << ": unknown command '" << command << "'\n\n" << usage();
    return 2;
  } catch (const EUsage& e) {
    std::cerr << kProgramName << " " << command << ": " << e.what() << "\n(see '" << kProgramName << " " << command
              << " --help')\n";
    return 2;
  } catch (const std::exception& e) {
    std::cerr << kProgramName << " " << command << ": " << e.what() << "\n";
    return 1;
  }
}

}  // namespace server
