// End-to-end scenarios: the scenario runner loads the real module and drives the screen against
// a real server process and real SQLite files. Each scenarios/NAME.scn has its expected log in
// scenarios/NAME.expected; a difference prints both.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <tuple>

#include "tests/support/TestCertificates.h"
#include "tests/support/TestServer.h"

#ifndef PDI_SCENARIO_DIR
#error "PDI_SCENARIO_DIR must name the folder of the scenarios"
#endif

namespace {

namespace fs = std::filesystem;
using testsupport::TestServer;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

struct RunResult {
  int status;
  std::string output;
};

RunResult RunScenario(const TestServer& server, const fs::path& script) {
  const fs::path output = server.Folder() / "scenario.out";
  const int status = testsupport::RunCommand(
      {testsupport::ScenarioBinary(), "--server", "127.0.0.1:" + std::to_string(server.Port()), "--local",
       server.LocalDatabase().string(), script.string()},
      output);
  return {status, ReadFile(output)};
}

// The log with the list versions the refreshes send masked: a version counts from the time its
// store was made, so it differs from run to run.
std::string WithoutListVersions(const std::string& log) {
  static const std::regex version(R"((call: get(Fornecedor|Cliente|Filial)Desde) "\d+")");
  return std::regex_replace(log, version, "$1 \"V\"");
}

class ScenarioTest : public ::testing::TestWithParam<std::string> {};

TEST_P(ScenarioTest, LogMatchesTheExpectedOne) {
  const fs::path dir = PDI_SCENARIO_DIR;
  TestServer server;
  testsupport::SeedSample(server);
  const RunResult result = RunScenario(server, dir / (GetParam() + ".scn"));
  const std::string log = WithoutListVersions(result.output);
  const fs::path expectedFile = dir / (GetParam() + ".expected");
  if (std::getenv("PDI_UPDATE_SCENARIOS") != nullptr) {
    std::ofstream(expectedFile, std::ios::binary) << log;
  }
  EXPECT_EQ(result.status, 0) << result.output;
  EXPECT_EQ(log, ReadFile(expectedFile));
}

std::vector<std::string> Scenarios() {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(PDI_SCENARIO_DIR)) {
    if (entry.path().extension() == ".scn") names.push_back(entry.path().stem().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

INSTANTIATE_TEST_SUITE_P(Scenarios, ScenarioTest, ::testing::ValuesIn(Scenarios()),
                         [](const auto& test) { return test.param; });

class RunnerInterfaceTest : public ::testing::Test {
 protected:
  RunResult Run(const std::string& script) {
    const fs::path file = server_.Folder() / "inline.scn";
    std::ofstream(file) << script;
    return RunScenario(server_, file);
  }
  TestServer server_;
};

TEST_F(RunnerInterfaceTest, AFailedExpectationStopsWithStatusOne) {
  const RunResult r = Run("open\nexpect cdsProduto.RecordCount 99\nshow cdsProduto.RecordCount\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("expect failed: cdsProduto.RecordCount = 0, wanted 99"), std::string::npos) << r.output;
  EXPECT_EQ(r.output.find("cdsProduto.RecordCount = 0\ncdsProduto.RecordCount"), std::string::npos);
}

TEST_F(RunnerInterfaceTest, ALineThatDoesNotParseStopsWithStatusTwoNamingIt) {
  EXPECT_EQ(Run("open\nfrobnicate dbgPadrao\n").status, 2);
  EXPECT_EQ(Run("type dbgPadrao \"unterminated\n").status, 2);
  EXPECT_EQ(testsupport::RunCommand({testsupport::ScenarioBinary(), "--bogus"}), 2);
}

TEST_F(RunnerInterfaceTest, ADisabledButtonIsLoggedAndQuotedWordsKeepTheirBlanks) {
  const RunResult r = Run("open\nclick sbtConfirmar\nexpect frmProdDesoneraImpos.Caption \"Produtos para Desoneração de Impostos\"\n");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("disabled: sbtConfirmar"), std::string::npos);
}

// The script goes on, but the exit status says a step did not reach the server.
TEST_F(RunnerInterfaceTest, AnUnreachableServerFailsTheOpenWithAClearError) {
  const fs::path file = server_.Folder() / "open.scn";
  std::ofstream(file) << "open\nexpect module.boIdCriado false\n";
  const fs::path out = server_.Folder() / "open.out";
  const int status = testsupport::RunCommand(
      {testsupport::ScenarioBinary(), "--server", "127.0.0.1:1", "--local", server_.LocalDatabase().string(), file.string()}, out);
  const std::string log = ReadFile(out);
  EXPECT_EQ(status, 3) << log;
  EXPECT_NE(log.find("error: "), std::string::npos) << log;
  EXPECT_NE(log.find("127.0.0.1:1"), std::string::npos) << log;
}

// --user signs in at the server and sends the session: a consulta user finds Incluir disabled,
// an edicao user's row is stored; a wrong password stops the run before the script.
TEST(RunnerWithUsers, SignsInAndTheServerEnforcesTheRole) {
  TestServer server;
  testsupport::SeedSample(server);
  for (const auto& [name, role, password] : {std::tuple{"joao", "consulta", "senha-do-joao"},
                                             std::tuple{"maria", "edicao", "senha-da-maria"}}) {
    const std::string add = std::string("printf '%s\\n' ") + password + " | " + testsupport::ServerBinary() + " user add --db '" +
                            server.ServerDatabase().string() + "' " + name + " --role " + role + " --password-stdin";
    ASSERT_EQ(testsupport::RunCommand({"/bin/sh", "-c", add}), 0) << add;
  }
  server.Restart();  // the store's first users: the server asks for sign-ins from now on
  fs::path script = fs::path(PDI_SCENARIO_DIR) / "new_product_with_supplier.scn";
  const fs::path passwordFile = server.Folder() / "senha";
  const fs::path out = server.Folder() / "users.out";
  const auto run = [&](const std::string& user) {
    const int status = testsupport::RunCommand({testsupport::ScenarioBinary(), "--server", "127.0.0.1:" + std::to_string(server.Port()),
                                                "--local", server.LocalDatabase().string(), "--user", user,
                                                "--password-file", passwordFile.string(), script.string()},
                                               out);
    return RunResult{status, ReadFile(out)};
  };

  EXPECT_NE(RunScenario(server, script).output.find("HTTP 401"), std::string::npos) << "no session, no service";
  std::ofstream(passwordFile) << "senha-errada\n";
  const RunResult wrong = run("joao");
  EXPECT_EQ(wrong.status, 4);
  EXPECT_NE(wrong.output.find("entrada recusada: Usuário ou senha inválidos."), std::string::npos) << wrong.output;
  EXPECT_EQ(wrong.output.find("call: "), std::string::npos) << wrong.output;

  std::ofstream(passwordFile) << "senha-do-joao\n";
  const RunResult joao = run("joao");
  std::ofstream(server.Folder() / "looks.scn") << "open\nrow dbgPadrao 1\nappend dbgFornecedor\ndelete dbgFornecedor\n"
                                                 "paste dbgFornecedor 45.723.174/0001-10\n";
  script = server.Folder() / "looks.scn";
  const RunResult looks = run("joao");
  EXPECT_NE(looks.output.find("paste: 0 stored, 0 refused, stopped before code 1 of 1: o seu acesso é somente para "
                              "consulta"),
            std::string::npos)
      << looks.output;
  EXPECT_EQ(looks.output.find("call: Set"), std::string::npos) << looks.output;
  script = fs::path(PDI_SCENARIO_DIR) / "new_product_with_supplier.scn";
  EXPECT_NE(joao.output.find("conectado como joao (consulta)"), std::string::npos) << joao.output;
  // Incluir stays disabled for a consulta user; were it clicked, the server would refuse the save.
  EXPECT_NE(joao.output.find("disabled: sbtIncluir"), std::string::npos) << joao.output;
  EXPECT_EQ(joao.output.find("call: SetFornecedor"), std::string::npos) << joao.output;

  std::ofstream(passwordFile) << "senha-da-maria\n";
  const RunResult maria = run("MARIA");
  EXPECT_EQ(maria.status, 0) << maria.output;
  EXPECT_NE(maria.output.find("conectado como maria (edicao)"), std::string::npos) << maria.output;
  EXPECT_NE(maria.output.find("cdsProduto.ChangeCount = 0"), std::string::npos) << maria.output;
}

TEST(ScenarioAtScaleTest, BrowsingAThousandProductsOfAHundredThousandRowsCallsTheServerOnce) {
  TestServer server(TestServer::Demo{1000, 100});
  const fs::path file = server.Folder() / "browse.scn";
  {
    std::ofstream script(file);
    script << "open\nexpect cdsProduto.RecordCount 1000\n";
    for (int n = 1; n <= 1000; ++n) script << "row dbgPadrao " << n << "\n";
    script << "expect cdsProduto.RecNo 1000\nexpect cdsFornecedor.Filtered true\n";
  }
  const RunResult r = RunScenario(server, file);
  ASSERT_EQ(r.status, 0) << r.output.substr(0, 2000);
  std::size_t calls = 0;
  for (std::size_t at = r.output.find("call: "); at != std::string::npos; at = r.output.find("call: ", at + 1)) {
    // The list version read before the load is no load.
    if (r.output.compare(at, 21, "call: getVersaoListas") != 0) ++calls;
  }
  EXPECT_EQ(calls, 1u);
  EXPECT_NE(r.output.find("call: getDados\n"), std::string::npos);
}

TEST(RunnerOverTls, VerifiesTheServerAndRefusesAnUntrustedOne) {
  testsupport::TestCertificates certs;
  TestServer server;
  server.RestartWith({"--tls-cert", certs.ServerCert(), "--tls-key", certs.ServerKey()});
  const fs::path file = server.Folder() / "tls.scn";
  std::ofstream(file) << "open\nexpect module.boIdCriado true\nexpect cdsProduto.State browse\n";
  const auto run = [&](const std::string& ca) {
    const fs::path out = server.Folder() / "tls.out";
    const int status = testsupport::RunCommand({testsupport::ScenarioBinary(), "--server",
                                                "https://localhost:" + std::to_string(server.Port()), "--ca", ca,
                                                "--local", server.LocalDatabase().string(), file.string()},
                                               out);
    return RunResult{status, ReadFile(out)};
  };
  const RunResult trusted = run(certs.CaCert());
  EXPECT_EQ(trusted.status, 0) << trusted.output;
  EXPECT_EQ(trusted.output.find("error: "), std::string::npos) << trusted.output;
  const RunResult untrusted = run(certs.UntrustedCaCert());
  EXPECT_NE(untrusted.status, 0) << untrusted.output;
  EXPECT_NE(untrusted.output.find("error: "), std::string::npos) << untrusted.output;
}

}  // namespace
