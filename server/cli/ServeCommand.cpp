#include "server/cli/ServeCommand.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "host/wire/ServiceName.h"
#include "pdi_version.h"
#include "server/cli/ServerCommands.h"
#include "server/access/AccessControl.h"
#include "server/access/AccessTokens.h"
#include "server/http/CallLog.h"
#include "server/http/HttpServer.h"
#include "server/http/MetricsListener.h"
#include "server/http/PageFiles.h"
#include "server/service/LocalDbPublisher.h"
#include "server/service/RemoteService.h"
#include "server/store/Store.h"

namespace server {
namespace {

namespace fs = std::filesystem;

const std::string kProgram = kProgramName;
const std::string kServicePath(host::wire::kServicePath);

const CommandSpec& ServeSpec() {
  for (const CommandSpec& command : ServerCommands()) {
    if (command.name == "serve") return command;
  }
  throw std::logic_error("no serve command");
}

// The browser client's folder: --web, else the one installed beside the program
// (BIN/../share/pdi07310-server/web) when it is there; empty when none is served.
fs::path PageFolder(const ServerSettings& settings) {
  if (settings.web == "none") return {};
  if (!settings.web.empty()) return settings.web;
  std::error_code error;
  const auto program = fs::read_symlink("/proc/self/exe", error);
  if (error) return {};
  const auto installed = program.parent_path().parent_path() / "share" / "pdi07310-server" / "web";
  return fs::is_regular_file(installed / "index.html", error) ? installed : fs::path();
}

// Everything a start or a reload reads before anything changes.
struct Loaded {
  ServerSettings settings;  // with the files the credentials give filled in
  LiveConfig::Values live;
  std::shared_ptr<CallLog::File> logFile;  // null: standard error
  std::vector<std::string> notes;          // where the secrets came from
};

// Fills in the secrets systemd handed over as credentials, where the configuration names none.
void UseCredentials(ServerSettings& s, std::vector<std::string>& notes) {
  const char* dir = std::getenv("CREDENTIALS_DIRECTORY");
  if (dir == nullptr || *dir == '\0') return;
  const fs::path credentials(dir);
  if (s.tokensFile.empty() && fs::exists(credentials / "tokens")) {
    s.tokensFile = (credentials / "tokens").string();
    notes.push_back("access tokens from the systemd credential 'tokens'");
  }
  HttpTls& tls = s.http.tls;
  if (tls.certificateFile.empty() && tls.keyFile.empty()) {
    const bool crt = fs::exists(credentials / "tls.crt");
    const bool key = fs::exists(credentials / "tls.key");
    if (crt != key) {
      throw std::runtime_error(std::string("the systemd credentials hold ") +
                               (crt ? "tls.crt but no tls.key" : "tls.key but no tls.crt") +
                               "; give both (LoadCredential=tls.crt:FILE and LoadCredential=tls.key:FILE) or neither");
    }
    if (crt) {
      tls.certificateFile = (credentials / "tls.crt").string();
      tls.keyFile = (credentials / "tls.key").string();
      notes.push_back("TLS certificate and key from the systemd credentials 'tls.crt' and 'tls.key'");
    }
  }
}

// Reads the secrets, the proxies and the log file settings name. Raises std::runtime_error.
Loaded Load(ServerSettings settings) {
  Loaded loaded;
  UseCredentials(settings, loaded.notes);
  if (!settings.tokensFile.empty()) {
    loaded.live.tokens = std::make_shared<const AccessTokens>(AccessTokens::Load(settings.tokensFile));
  }
  loaded.live.proxies = std::make_shared<const TrustedProxies>(settings.trustedProxies);
  if (settings.http.tls.Enabled()) loaded.live.tls = HttpServer::TlsContext(settings.http.tls);
  if (!settings.logFile.empty()) loaded.logFile = CallLog::OpenFile(settings.logFile);
  loaded.settings = std::move(settings);
  return loaded;
}

bool InContainer() {
  const char* container = std::getenv("container");  // systemd-nspawn, podman
  return (container != nullptr && *container != '\0') || ::access("/.dockerenv", F_OK) == 0 ||
         ::access("/run/.containerenv", F_OK) == 0;
}

std::string TokensText(const Loaded& loaded) {
  if (!loaded.live.tokens) return "none (anyone who can reach the server is let in)";
  return std::to_string(loaded.live.tokens->Size()) + " from " + loaded.settings.tokensFile;
}

// --check-config: what a start would read, said; nothing opened or bound.
int CheckConfig(const Loaded& loaded) {
  const ServerSettings& s = loaded.settings;
  boost::system::error_code ec;
  boost::asio::ip::make_address(s.http.host, ec);
  if (ec) throw std::runtime_error("--listen: \"" + s.http.host + "\" is not an IP address");
  if (!s.metricsHost.empty()) {
    boost::asio::ip::make_address(s.metricsHost, ec);
    if (ec) throw std::runtime_error("--metrics-listen: \"" + s.metricsHost + "\" is not an IP address");
  }
  if (!Store::IsPostgresLocation(s.db) && !s.store.create && !fs::exists(s.db)) {
    throw std::runtime_error("no server database at " + s.db + " (give --create to make one)");
  }
  std::cout << "configuration ok\n"
            << "  db               " << Store::Redacted(s.db) << "\n"
            << "  listen           " << s.http.host << ":" << s.http.port << (loaded.live.tls ? " (https)" : " (http)")
            << "\n"
            << "  tokens           " << TokensText(loaded) << "\n"
            << "  tls              "
            << (loaded.live.tls ? s.http.tls.certificateFile + ", key " + s.http.tls.keyFile : std::string("off"))
            << "\n"
            << "  trusted proxies  " << (s.trustedProxies.Empty() ? std::string("none") : s.trustedProxies.Text())
            << "\n"
            << "  metrics          "
            << (s.metricsHost.empty() ? std::string("off") : s.metricsHost + ":" + std::to_string(s.metricsPort))
            << "\n"
            << "  log              " << (s.logFile.empty() ? std::string("standard error") : s.logFile) << " ("
            << (s.logFormat == LogFormat::kJson ? "json" : "text") << ", " << LevelName(s.logLevel) << ")\n";
  for (const std::string& note : loaded.notes) std::cout << "  " << note << "\n";
  return 0;
}

// The options of serve, its groups' included.
std::vector<const OptionSpec*> ServeOptions() {
  std::vector<const OptionSpec*> options;
  for (const OptionSpec& o : ServeSpec().options) options.push_back(&o);
  for (const OptionGroup& g : ServeSpec().groups) {
    for (const OptionSpec& o : g.options) options.push_back(&o);
  }
  return options;
}

// The running server's side of a reload.
class Reloader {
 public:
  Reloader(Loaded current, CallLog& log, HttpServer& http) : current_(std::move(current)), log_(log), http_(http) {}

  void Reload() {
    Loaded fresh;
    try {
      fresh = Load(ReadSettings(ServeSpec(), current_.settings.commandLine));
      if (static_cast<bool>(fresh.live.tls) != http_.Secure()) {
        throw std::runtime_error(http_.Secure() ? "the configuration no longer names a TLS certificate and key, and a "
                                                  "server started with TLS keeps it until it is restarted"
                                                : "TLS cannot be turned on by a reload; restart the server");
      }
    } catch (const std::exception& e) {
      log_.Note(kProgram + " reload failed; nothing changed: " + e.what(), LogLevel::kError);
      http_.Metrics().Reloaded(false);
      return;
    }
    std::vector<std::string> changed, later;
    for (const OptionSpec* option : ServeOptions()) {
      const std::string before = option->ValueIn(current_.settings);
      const std::string after = option->ValueIn(fresh.settings);
      if (before == after) continue;
      const std::string change = option->name.substr(2) + " " + (before.empty() ? "(none)" : before) + " -> " +
                                 (after.empty() ? "(none)" : after);
      (option->reloadable ? changed : later).push_back(change);
    }
    // Applied together: the log first, so that the line saying so goes where the log now goes.
    log_.UseFile(fresh.logFile);
    log_.Configure(fresh.settings.logFormat, fresh.settings.logLevel);
    http_.Apply(fresh.live);
    std::string said = kProgram + " reloaded: ";
    said += changed.empty() ? "no setting changed" : "changed " + Joined(changed);
    said += "; tokens: " + TokensText(fresh);
    if (fresh.live.tls) said += "; TLS certificate and key read again from " + fresh.settings.http.tls.certificateFile;
    if (fresh.logFile) said += "; log file " + fresh.settings.logFile + " opened again";
    log_.Note(said);
    if (!later.empty()) {
      log_.Note(kProgram + " reload: these settings changed and take effect at the next start: " + Joined(later),
                LogLevel::kWarning);
    }
    http_.Metrics().Reloaded(true);
    current_ = std::move(fresh);
  }

 private:
  static std::string Joined(const std::vector<std::string>& parts) {
    std::string out;
    for (const std::string& p : parts) out += (out.empty() ? "" : ", ") + p;
    return out;
  }

  Loaded current_;
  CallLog& log_;
  HttpServer& http_;
};

// The start-up line that says who may call.
std::string WhoMayCall(const AccessControl& access, const Loaded& loaded, const std::string& host) {
  const AccessTokens* tokens = loaded.live.tokens.get();
  if (!access.Required(tokens)) {
    return kProgram + " accepts requests from anyone who can reach " + host +
           " (no access tokens, local users or directory: give --tokens FILE, add users or --ldap-uri to"
           " require them)";
  }
  std::vector<std::string> ways;
  if (tokens) {
    ways.push_back("one of the " + std::to_string(tokens->Size()) + " access tokens of " +
                   loaded.settings.tokensFile);
  }
  if (access.LocalUsers() > 0) {
    ways.push_back("a session of one of the " + std::to_string(access.LocalUsers()) + " local users");
  }
  if (const Directory* directory = access.CompanyDirectory()) {
    ways.push_back("a session of a member of the directory's groups at " + directory->Options().uri +
                   (directory->Plain() ? " (without TLS)" : ""));
  }
  std::string text = kProgram + " accepts only requests carrying ";
  for (size_t i = 0; i < ways.size(); ++i) text += (i == 0 ? "" : i + 1 == ways.size() ? " or " : ", ") + ways[i];
  const SessionLimits& limits = access.OpenSessions().Limits();
  if (access.SignInOffered()) {
    text += "; sessions end after " + std::to_string(limits.idle.count() / 1000) + " s idle, " +
            std::to_string(limits.max.count() / 1000) + " s after sign-in";
  }
  return text;
}

}  // namespace

std::string RootWarning(uid_t euid, bool inContainer) {
  if (euid != 0 || inContainer) return {};
  return kProgram + " runs as root: a fault in it would put the whole machine at risk. Run it as an "
                    "unprivileged user (the packaged unit runs it as a dynamic user)";
}

int Serve(const ServerSettings& settings) {
  if (settings.checkConfig) return CheckConfig(Load(settings));

  // Signals are taken by one thread with sigwait, so no handler runs inside the workers; every
  // thread started from here on inherits the mask. Blocked first: a SIGHUP sent (by logrotate, a
  // reload) while the server still starts waits for the watcher instead of killing the process.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  Loaded loaded = Load(settings);
  const ServerSettings& s = loaded.settings;

  CallLog log(stderr, s.logFormat, s.logLevel);
  if (loaded.logFile) log.UseFile(loaded.logFile);
  for (const std::string& note : loaded.notes) log.Note(kProgram + ": " + note);
  if (const std::string warning = RootWarning(geteuid(), InContainer()); !warning.empty()) {
    log.Note(warning, LogLevel::kWarning);
  }

  HttpServerOptions options = s.http;
  // Read before anything listens: a folder named but unreadable is a failure, not a server
  // without its page.
  if (const auto folder = PageFolder(s); !folder.empty()) options.page = PageFiles::Load(folder);
  const auto store = Store::Open(s.db, s.store);
  if (!store->Notes().empty()) log.Note(kProgram + " " + store->Notes());
  RemoteService service(*store, s.service);
  options.tokens = loaded.live.tokens;
  options.trustedProxies = loaded.live.proxies;
  options.tlsContext = loaded.live.tls;
  options.localDb = std::make_shared<LocalDbPublisher>(*store);
  // The tokens file is not kept here: each request is judged with the tokens the server holds
  // then, which a reload may replace.
  const auto access = std::make_shared<AccessControl>(*store, s.directory, s.sessions);
  options.access = access;
  HttpServer http(service, log, options);
  const int port = http.Bind();
  std::unique_ptr<MetricsListener> metrics;
  if (!s.metricsHost.empty()) {
    metrics = std::make_unique<MetricsListener>([&http] { return http.MetricsText(); }, log);
    const int metricsPort = metrics->Bind(s.metricsHost, s.metricsPort);
    metrics->Start();
    log.Note(kProgram + " serves its metrics at http://" + s.metricsHost + ":" + std::to_string(metricsPort) +
             "/metrics");
  }
  if (!s.trustedProxies.Empty()) {
    log.Note(kProgram + " believes the client address that these proxies give: " + s.trustedProxies.Text());
  }
  log.Note(WhoMayCall(*access, loaded, options.host));
  const bool postgres = Store::IsPostgresLocation(s.db);
  log.Note(kProgram + " " PDI_VERSION " listening on " + (loaded.live.tls ? "https://" : "http://") + options.host + ":" +
           std::to_string(port) + kServicePath + " (database " + Store::Redacted(s.db) +
           (postgres ? ", at most " + std::to_string(s.store.connections) + " connections"
            : s.store.fullSync ? ", synchronous=FULL"
                               : ", synchronous=NORMAL") +
           ")");
  if (options.page) {
    log.Note(kProgram + " serves the screen for browsers at " + (loaded.live.tls ? "https://" : "http://") +
             options.host + ":" + std::to_string(port) + "/");
  }

  Reloader reloader(std::move(loaded), log, http);
  std::atomic<bool> signalled{false};
  std::thread watcher([&] {
    for (;;) {
      int received = 0;
      sigwait(&signals, &received);
      if (received == SIGHUP) {
        if (!signalled) reloader.Reload();
        continue;
      }
      if (signalled.exchange(true)) return;  // woken by main after Run returned on its own
      log.Note(kProgram + " stopping (" + (received == SIGINT ? "SIGINT" : "SIGTERM") + "): finishing calls under way");
      http.Stop();
      return;
    }
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
  if (metrics) metrics->Stop();
  if (!stoppedBySignal) {
    log.Note(kProgram + " stopped: " + (failure.empty() ? std::string("the listener ended") : failure), LogLevel::kError);
    return 1;
  }
  log.Note(kProgram + " stopped");
  return 0;
}

}  // namespace server
