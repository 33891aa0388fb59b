// Operating a server from the administrator's side: secrets read under the rule of private files
// (or from systemd's credentials), reloads on SIGHUP, --check-config, GET /health, the log's call
// lines and request ids, the client address behind a trusted balancer, and the metrics listener.
#include <gtest/gtest.h>
#include <signal.h>
#include <simdjson.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <cstring>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

#include "tests/support/RawHttp.h"
#include "ServerTestSupport.h"
#include "tests/support/TestCertificates.h"
#include "server/cli/ServeCommand.h"
#include "tests/support/ServerProcess.h"
#include "server/http/PrivateFile.h"

namespace server::test {
namespace {

using testsupport::RawConnection;
using testsupport::StatusOf;
using testsupport::HeaderOf;
using testsupport::BodyOf;
using testsupport::RequestBytes;
using testsupport::TestCertificates;

using host::wire::JsonRpcParam;
using host::wire::JsonRpcRequest;

const std::string kAlice = "tok-alice-0123456789";
const std::string kBob = "tok-bob-0123456789ab";

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void Write(const std::string& path, const std::string& text, mode_t mode = 0600) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
  ::chmod(path.c_str(), mode);
}

// Waits until read() holds needle (a few seconds at most); returns what it read last.
template <class Reader>
std::string WaitFor(Reader read, const std::string& needle) {
  std::string text;
  for (int i = 0; i < 500; ++i) {
    text = read();
    if (text.find(needle) != std::string::npos) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return text;
}

// A demo store of a few products, made once per test.
std::string DemoStore(const TempDir& dir) {
  const std::string db = dir.File("s.db");
  const CommandResult r =
      RunServerCommand({"demo", "--db", db, "--local", dir.File("l.db"), "--products", "5", "--rows-per-product", "2"});
  EXPECT_EQ(r.status, 0) << r.output;
  return db;
}

std::string Check(int id = 1) {
  return JsonRpcRequest::Write(id, "getVd_Produto", {JsonRpcParam::Text("P000000001")});
}

int CallAs(int port, const std::string& token) {
  RpcClient rpc(port);
  rpc.Http().set_bearer_token_auth(token);
  const auto res = rpc.Http().Post(ServerProcess::Path(), Check(), "application/json");
  return res ? res->status : 0;
}

// The rule of private files, as PostgreSQL keeps it for its key: the server's user 0600, root 0640.
TEST(Secrets, PrivateFilesFollowTheRuleOfPostgresKeys) {
  const uid_t server = 990;
  const auto fault = [&](uid_t owner, mode_t mode) {
    return PrivateFileFault(owner, mode, server, "the tokens file t", "t");
  };
  for (const mode_t mode : {0400, 0600}) {
    EXPECT_EQ(fault(server, mode), "") << std::oct << mode;
    EXPECT_EQ(fault(0, mode), "") << std::oct << mode;
  }
  EXPECT_EQ(fault(0, 0640), "");
  EXPECT_EQ(fault(0, 0440), "");  // systemd's credentials, read through an ACL
  for (const mode_t mode : {0640, 0644, 0660, 0604, 0602}) {
    EXPECT_NE(fault(server, mode).find("can be read or written by other users"), std::string::npos) << std::oct << mode;
  }
  for (const mode_t mode : {0644, 0660, 0664, 0604}) {
    EXPECT_NE(fault(0, mode).find("can be read or written by other users"), std::string::npos) << std::oct << mode;
  }
  EXPECT_NE(fault(0, 0644).find("mode 0644"), std::string::npos);
  EXPECT_NE(fault(1234, 0600).find("must be owned by the user the server runs as"), std::string::npos);
}

// What a packaged service meets: a secret it cannot read is named with the reason in terms of its
// own user; a world-readable key is refused; the credentials systemd hands over are used when
// the configuration names no file.
TEST(Secrets, UnreadableOrOpenSecretsAreRefusedSayingWhyAndCredentialsAreUsed) {
  testsupport::TestCertificates certs;
  TempDir dir;
  const std::string db = DemoStore(dir);
  const std::string tokens = dir.File("tokens");
  Write(tokens, kAlice + " alice\n");

  Write(dir.File("open.key"), Read(certs.ServerKey()), 0644);
  const CommandResult open = RunServerCommand({"serve", "--db", db, "--check-config", "--tls-cert", certs.ServerCert(),
                                               "--tls-key", dir.File("open.key")});
  EXPECT_EQ(open.status, 1) << open.output;
  EXPECT_NE(open.output.find("the TLS key " + dir.File("open.key") + " can be read or written by other users"),
            std::string::npos)
      << open.output;

  // A DynamicUser= service given a root-owned 0600 file: the message says who it runs as.
  if (geteuid() == 0 && access("/usr/bin/setpriv", X_OK) == 0) {
    ::chmod(dir.File("").c_str(), 0755);
    for (const auto& [option, file] : std::vector<std::pair<std::string, std::string>>{
             {"--tokens", tokens}, {"--tls-key", certs.ServerKey()}}) {
      std::vector<std::string> args = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                                       ServerBinary(), "serve", "--db", db, "--check-config", option, file};
      if (option == "--tls-key") {
        Write(dir.File("c.pem"), Read(certs.ServerCert()), 0644);
        Write(dir.File("k.pem"), Read(certs.ServerKey()), 0600);
        args.back() = dir.File("k.pem");
        args.insert(args.end(), {"--tls-cert", dir.File("c.pem")});
      }
      const CommandResult r = RunProgram(args[0], std::vector<std::string>(args.begin() + 1, args.end()));
      EXPECT_EQ(r.status, 1) << r.output;
      EXPECT_NE(r.output.find("Permission denied; the server runs as"), std::string::npos) << r.output;
      EXPECT_NE(r.output.find("(uid 65534) and the file is owned by root (uid 0) with mode 0600"), std::string::npos)
          << r.output;
      EXPECT_NE(r.output.find("LoadCredential="), std::string::npos) << r.output;
      EXPECT_EQ(r.output.find("asio.ssl error"), std::string::npos) << r.output;
    }
  }

  // systemd's credentials: tokens, tls.crt and tls.key in $CREDENTIALS_DIRECTORY.
  const std::string credentials = dir.File("credentials");
  std::filesystem::create_directory(credentials);
  Write(credentials + "/tokens", kAlice + " alice\n", 0400);
  Write(credentials + "/tls.crt", Read(certs.ServerCert()), 0400);
  Write(credentials + "/tls.key", Read(certs.ServerKey()), 0400);
  setenv("CREDENTIALS_DIRECTORY", credentials.c_str(), 1);
  const CommandResult checked = RunServerCommand({"serve", "--db", db, "--check-config"});
  ServerProcess process(ServerBinary(), db);
  unsetenv("CREDENTIALS_DIRECTORY");
  EXPECT_EQ(checked.status, 0) << checked.output;
  EXPECT_NE(checked.output.find("tokens           1 from " + credentials + "/tokens"), std::string::npos) << checked.output;
  EXPECT_NE(process.Log().find("listening on https://"), std::string::npos) << process.Log();
  httplib::SSLClient https("localhost", process.Port());
  https.set_ca_cert_path(certs.CaCert());
  https.enable_server_certificate_verification(true);
  https.set_bearer_token_auth(kAlice);
  const auto res = https.Post(ServerProcess::Path(), Check(), "application/json");
  ASSERT_TRUE(res) << httplib::to_string(res.error());
  EXPECT_EQ(res->status, 200) << res->body;
  EXPECT_EQ(process.Stop(), 0);

  // Half the pair given as credentials is refused.
  std::filesystem::remove(credentials + "/tls.key");
  setenv("CREDENTIALS_DIRECTORY", credentials.c_str(), 1);
  const CommandResult half = RunServerCommand({"serve", "--db", db, "--check-config"});
  unsetenv("CREDENTIALS_DIRECTORY");
  EXPECT_EQ(half.status, 1);
  EXPECT_NE(half.output.find("tls.crt but no tls.key"), std::string::npos) << half.output;
}

// SIGHUP: new tokens take effect (a revoked one at once, on a connection kept alive too), the log
// moves to the file the configuration now names and opens it again after logrotate moved it, a
// renewed certificate serves the next connections, settings that need a restart are named, and a
// reload that fails changes nothing.
TEST(Reload, SighupTakesTokensCertificateAndLogFileAndAFailedReloadChangesNothing) {
  testsupport::TestCertificates certs;
  TempDir dir;
  const std::string db = DemoStore(dir);
  const std::string tokens = dir.File("tokens");
  const std::string log = dir.File("server.log");
  const std::string conf = dir.File("server.conf");
  Write(dir.File("cert.pem"), Read(certs.ServerCert()));
  Write(dir.File("cert.key"), Read(certs.ServerKey()));
  Write(tokens, kAlice + " alice\n");
  Write(conf, "tokens = " + tokens + "\ntls-cert = " + dir.File("cert.pem") + "\ntls-key = " + dir.File("cert.key") + "\n");
  ServerProcess process(ServerBinary(), db, {"--config", conf});
  httplib::SSLClient https("localhost", process.Port());
  https.set_ca_cert_path(certs.CaCert());
  https.enable_server_certificate_verification(true);
  https.set_keep_alive(true);
  const auto as = [&](const std::string& token) {
    https.set_bearer_token_auth(token);
    const auto res = https.Post(ServerProcess::Path(), Check(), "application/json");
    return res ? res->status : 0;
  };
  EXPECT_EQ(as(kAlice), 200);

  Write(tokens, kBob + " bob\n");
  Write(dir.File("cert.pem"), Read(certs.WrongNameCert()));
  Write(dir.File("cert.key"), Read(certs.WrongNameKey()));
  Write(conf, Read(conf) + "log-file = " + log + "\nlog-level = debug\nthreads = 3\n");
  kill(process.Pid(), SIGHUP);
  const auto logText = [&] { return Read(log); };
  std::string text = WaitFor(logText, "reloaded");
  EXPECT_NE(text.find("reloaded: changed log-file (none) -> " + log + ", log-level info -> debug"), std::string::npos)
      << text;
  EXPECT_NE(text.find("tokens: 1 from " + tokens), std::string::npos) << text;
  EXPECT_NE(text.find("take effect at the next start: threads 64 -> 3"), std::string::npos) << text;
  EXPECT_EQ(as(kAlice), 401);  // on the connection kept alive since before the reload
  // The renewed certificate names another host: new connections meet it.
  httplib::SSLClient fresh("localhost", process.Port());
  fresh.set_ca_cert_path(certs.CaCert());
  fresh.enable_server_certificate_verification(true);
  EXPECT_FALSE(fresh.Get(ServerProcess::Path()));
  fresh.enable_server_certificate_verification(false);
  fresh.set_bearer_token_auth(kBob);
  const auto bob = fresh.Post(ServerProcess::Path(), Check(), "application/json");
  ASSERT_TRUE(bob);
  EXPECT_EQ(bob->status, 200);

  // logrotate moves the file away; the next SIGHUP opens it again.
  std::filesystem::rename(log, log + ".1");
  kill(process.Pid(), SIGHUP);
  WaitFor(logText, "reloaded");
  fresh.Post(ServerProcess::Path(), Check(2), "application/json");
  text = WaitFor(logText, "call method=getVd_Produto");
  EXPECT_NE(text.find("call method=getVd_Produto"), std::string::npos) << text;  // in the new file

  // A tokens file others may read: the reload fails, saying why, and bob stays in.
  ::chmod(tokens.c_str(), 0644);
  kill(process.Pid(), SIGHUP);
  text = WaitFor(logText, "reload failed");
  EXPECT_NE(text.find("reload failed; nothing changed: the tokens file " + tokens + " can be read or written"),
            std::string::npos)
      << text;
  const auto again = fresh.Post(ServerProcess::Path(), Check(3), "application/json");
  ASSERT_TRUE(again);
  EXPECT_EQ(again->status, 200);
  EXPECT_EQ(process.Stop(), 0);
  EXPECT_EQ(process.Log().find("reload failed"), std::string::npos);  // it went to the file

  // --check-config says the same of the file as it stands, without starting anything.
  const CommandResult checked = RunServerCommand({"serve", "--config", conf, "--db", db, "--check-config"});
  EXPECT_EQ(checked.status, 1) << checked.output;
  EXPECT_NE(checked.output.find("can be read or written by other users"), std::string::npos) << checked.output;
  ::chmod(tokens.c_str(), 0600);
  const CommandResult sound = RunServerCommand({"serve", "--config", conf, "--db", db, "--check-config"});
  EXPECT_EQ(sound.status, 0) << sound.output;
  EXPECT_NE(sound.output.find("configuration ok"), std::string::npos) << sound.output;
}

// The log's call lines (JSON here), the request id answered in X-Request-Id, the client address a
// trusted balancer gives (X-Forwarded-For, PROXY protocol) and no one else, in the log and the
// audit trail; GET /health without a token, 503 once the store is gone, and the failure's
// reference being the request's id.
TEST(CallLines, NameTimeClientUserStatusAndIdAndBelieveOnlyTrustedProxies) {
  TempDir dir;
  const std::string db = DemoStore(dir);
  Write(dir.File("tokens"), kAlice + " alice\n");
  ServerProcess process(ServerBinary(), db,
                        {"--tokens", dir.File("tokens"), "--log-format", "json", "--trusted-proxy", "127.0.0.2/32"});
  const auto save = [&](const std::string& item) {
    return JsonRpcRequest::Write(
        7, "SetFilial",
        {Changes(BranchFields(), {{host::wire::ChangeOp::Insert, {"P000000006", item, ""}}})});
  };
  const std::string auth = "Authorization: Bearer " + kAlice + "\r\n";

  RawConnection health(process.Port());
  ASSERT_TRUE(health.Send(RequestBytes("GET", "/health", "")));
  auto answer = health.ReadResponse(std::chrono::seconds(10));
  ASSERT_TRUE(answer);
  EXPECT_EQ(StatusOf(*answer), 200) << *answer;
  EXPECT_EQ(BodyOf(*answer), "ok\n");

  // From an untrusted peer the header is not believed.
  RawConnection direct(process.Port());
  ASSERT_TRUE(direct.Send(RequestBytes("POST", ServerProcess::Path(), save("0001"), auth + "X-Forwarded-For: 203.0.113.9\r\n")));
  answer = direct.ReadResponse(std::chrono::seconds(10));
  ASSERT_TRUE(answer);
  const std::string id = HeaderOf(*answer, "X-Request-Id");
  EXPECT_NE(BodyOf(*answer).find("\"ok\":true"), std::string::npos) << *answer;
  EXPECT_TRUE(std::regex_match(id, std::regex("[0-9A-F]{8}"))) << *answer;
  // Behind the balancer at 127.0.0.2: X-Forwarded-For, read from its right end, and its request id.
  RawConnection balanced(process.Port(), "127.0.0.2");
  ASSERT_TRUE(balanced.Send(RequestBytes("POST", ServerProcess::Path(), save("RJ01"),
                                         auth + "X-Forwarded-For: 10.9.9.9, 198.51.100.7\r\nX-Request-Id: lb-42\r\n")));
  answer = balanced.ReadResponse(std::chrono::seconds(10));
  ASSERT_TRUE(answer);
  EXPECT_EQ(HeaderOf(*answer, "X-Request-Id"), "lb-42");
  EXPECT_NE(BodyOf(*answer).find("\"ok\":true"), std::string::npos) << *answer;
  // The PROXY protocol, from the balancer only.
  RawConnection proxied(process.Port(), "127.0.0.2");
  ASSERT_TRUE(proxied.Send("PROXY TCP4 192.0.2.44 127.0.0.1 4444 8470\r\n" +
                           RequestBytes("POST", ServerProcess::Path(), save("MG01"), auth)));
  answer = proxied.ReadResponse(std::chrono::seconds(10));
  ASSERT_TRUE(answer);
  EXPECT_EQ(StatusOf(*answer), 200) << *answer;
  EXPECT_NE(BodyOf(*answer).find("\"ok\":true"), std::string::npos) << *answer;
  RawConnection forged(process.Port());
  ASSERT_TRUE(forged.Send("PROXY TCP4 192.0.2.99 127.0.0.1 4444 8470\r\n" + RequestBytes("GET", "/health", "")));
  answer = forged.ReadResponse(std::chrono::seconds(10));
  ASSERT_TRUE(answer);
  EXPECT_EQ(StatusOf(*answer), 400) << *answer;

  const CommandResult audit = RunServerCommand({"audit", "--db", db});
  EXPECT_NE(audit.output.find("127.0.0.1:"), std::string::npos) << audit.output;
  EXPECT_NE(audit.output.find("198.51.100.7"), std::string::npos) << audit.output;
  EXPECT_NE(audit.output.find("192.0.2.44:4444"), std::string::npos) << audit.output;
  EXPECT_EQ(audit.output.find("203.0.113.9"), std::string::npos) << audit.output;
  EXPECT_EQ(audit.output.find("10.9.9.9"), std::string::npos) << audit.output;

  // Every line is one JSON object; the first save's says who, when and which request.
  simdjson::dom::parser parser;
  bool found = false;
  std::istringstream lines(WaitFor([&] { return process.Log(); }, id));
  for (std::string line; std::getline(lines, line);) {
    simdjson::dom::object object;
    ASSERT_EQ(parser.parse(line).get(object), simdjson::SUCCESS) << line;
    if (std::string_view(object["event"].get_string()) != "call") continue;
    EXPECT_TRUE(std::regex_match(std::string(std::string_view(object["time"].get_string())),
                                 std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)")))
        << line;
    if (std::string_view(object["requestId"].get_string()) != id) continue;
    found = true;
    EXPECT_EQ(std::string_view(object["method"].get_string()), "SetFilial") << line;
    EXPECT_EQ(int64_t(object["status"].get_int64()), 200) << line;
    EXPECT_EQ(std::string_view(object["user"].get_string()), "alice") << line;
    EXPECT_EQ(std::string(std::string_view(object["client"].get_string())).rfind("127.0.0.1:", 0), 0u) << line;
    EXPECT_GT(int64_t(object["requestBytes"].get_int64()), 0) << line;
  }
  EXPECT_TRUE(found) << process.Log();

  // The store gone: the balancer's check says so, and a failure's reference is the request's id.
  std::filesystem::rename(db, db + ".moved");
  RawConnection late(process.Port());
  ASSERT_TRUE(late.Send(RequestBytes("GET", "/health", "")));
  answer = late.ReadResponse(std::chrono::seconds(10));
  ASSERT_TRUE(answer);
  EXPECT_EQ(StatusOf(*answer), 503) << *answer;
  EXPECT_EQ(BodyOf(*answer), "database file deleted or replaced\n");
  ASSERT_TRUE(late.Send(RequestBytes("POST", ServerProcess::Path(), save("RJ01"), auth)));
  answer = late.ReadResponse(std::chrono::seconds(10));
  ASSERT_TRUE(answer);
  EXPECT_NE(BodyOf(*answer).find("Referência " + HeaderOf(*answer, "X-Request-Id") + "."), std::string::npos)
      << *answer;
  EXPECT_EQ(process.Stop(), 0);
}

// The metrics listener: every line of its answer parses as the text exposition format, every
// sample belongs to a family declared before it, names follow Prometheus' conventions, histograms
// add up, and the counts are those of the calls made.
TEST(Metrics, ExpositionParsesLineByLineAndCountsTheCalls) {
  TempDir dir;
  const std::string db = DemoStore(dir);
  Write(dir.File("tokens"), kAlice + " alice\n");
  ServerProcess process(ServerBinary(), db, {"--tokens", dir.File("tokens"), "--metrics-listen", "127.0.0.1:0"});
  std::smatch found;
  const std::string log = process.Log();
  ASSERT_TRUE(std::regex_search(log, found, std::regex(R"(metrics at http://127\.0\.0\.1:(\d+)/metrics)"))) << log;
  const int metricsPort = std::stoi(found[1]);
  EXPECT_EQ(CallAs(process.Port(), kAlice), 200);
  EXPECT_EQ(CallAs(process.Port(), kAlice), 200);
  EXPECT_EQ(CallAs(process.Port(), "tok-nobody-012345678"), 401);

  httplib::Client scraper("127.0.0.1", metricsPort);
  EXPECT_EQ(scraper.Get("/other")->status, 404);
  // A call is counted once its answer has gone out, which may be just after the client has it.
  auto res = scraper.Get("/metrics");
  for (int i = 0; i < 100 && res && res->body.find(R"(outcome="ok"} 2)") == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    res = scraper.Get("/metrics");
  }
  ASSERT_TRUE(res);
  ASSERT_EQ(res->status, 200);
  EXPECT_EQ(res->get_header_value("Content-Type"), "text/plain; version=0.0.4; charset=utf-8");

  const std::regex help(R"(# HELP (pdi07310_[a-z0-9_]+) \S.*)");
  const std::regex type(R"(# TYPE (pdi07310_[a-z0-9_]+) (counter|gauge|histogram))");
  const std::regex sample(
      R"((pdi07310_[a-z0-9_]+)(\{([a-z_]+="[^"\\\n]*")(,[a-z_]+="[^"\\\n]*")*\})? (-?[0-9.e+]+|\+Inf))");
  std::map<std::string, std::string> types;
  std::map<std::string, double> values;
  std::istringstream lines(res->body);
  int samples = 0;
  for (std::string line; std::getline(lines, line);) {
    std::smatch m;
    if (std::regex_match(line, m, help)) continue;
    if (std::regex_match(line, m, type)) {
      EXPECT_FALSE(types.count(m[1])) << "declared twice: " << line;
      types[m[1]] = m[2];
      EXPECT_EQ(m[2] == "counter", std::string(m[1]).ends_with("_total")) << line;
      continue;
    }
    ASSERT_TRUE(std::regex_match(line, m, sample)) << "not a sample: " << line;
    std::string family = m[1];
    for (const char* suffix : {"_bucket", "_sum", "_count"}) {
      if (!types.count(family) && family.ends_with(suffix)) family.resize(family.size() - std::strlen(suffix));
    }
    EXPECT_TRUE(types.count(family)) << "no TYPE before " << line;
    values[line.substr(0, line.rfind(' '))] = std::stod(m[5]);
    ++samples;
  }
  EXPECT_GT(samples, 20);
  EXPECT_EQ(values[R"(pdi07310_calls_total{method="getVd_Produto",outcome="ok"})"], 2);
  EXPECT_EQ(values[R"(pdi07310_call_duration_seconds_count{method="getVd_Produto"})"], 2);
  EXPECT_EQ(values[R"(pdi07310_call_duration_seconds_bucket{method="getVd_Produto",le="+Inf"})"], 2);
  EXPECT_EQ(values[R"(pdi07310_requests_refused_total{status="401"})"], 1);
  EXPECT_GE(values["pdi07310_connections_accepted_total"], 3);
  EXPECT_GT(values["pdi07310_received_bytes_total"], 0);
  EXPECT_EQ(types["pdi07310_call_duration_seconds"], "histogram");
  EXPECT_EQ(process.Stop(), 0);
}

TEST(RootWarning, OnlyForRootOutsideAContainer) {
  EXPECT_NE(RootWarning(0, false).find("runs as root"), std::string::npos);
  EXPECT_EQ(RootWarning(0, true), "");
  EXPECT_EQ(RootWarning(1000, false), "");
}

}  // namespace
}  // namespace server::test
