// The runner's list tools end to end: paste (codes entered through the screen's path, refusals
// listed, a save whose answer was cut settled by reading the list again), export (CSV and XLSX as
// shown on screen, opened and read back cell by cell) and history (the server's getHistorico),
// against a real server and the real module.
#include <gtest/gtest.h>
#include <httplib.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "tests/support/RawHttpStub.h"
#include "tests/support/TestServer.h"

namespace {

namespace fs = std::filesystem;
using testsupport::TestServer;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(ListToolsTest, PasteExportAndHistoryThroughTheRunner) {
  TestServer server;
  testsupport::SeedSample(server);
  const fs::path dir = server.Folder();
  std::ofstream(dir / "tools.scn") << "open\n"
                                      "focus dbgFornecedor\n"
                                      "paste dbgFornecedor \"45.723.174/0001-10\\n\\n99999999000199\\r\\n11222333000181\\n\"\n"
                                      "expect cdsFornecedor.State browse\n"
                                      "export dbgFornecedor "
                                   << (dir / "fornecedores.csv").string() << "\nexport dbgFornecedor "
                                   << (dir / "todos.xlsx").string() << " all\nhistory\n";
  const int status = testsupport::RunCommand({testsupport::ScenarioBinary(), "--server", "127.0.0.1:" + std::to_string(server.Port()),
                                              "--local", server.LocalDatabase().string(), (dir / "tools.scn").string()},
                                             dir / "out.txt");
  const std::string out = ReadFile(dir / "out.txt");
  ASSERT_EQ(status, 0) << out;
  EXPECT_NE(out.find("\npaste: 1 stored, 2 refused\n"), std::string::npos) << out;
  EXPECT_NE(out.find("\npaste refused: 99999999000199: Fornecedor não cadastrado.\n"), std::string::npos) << out;
  EXPECT_NE(out.find("\npaste refused: 11222333000181: Fornecedor já cadastrado para o produto.\n"), std::string::npos) << out;
  EXPECT_EQ(Count(out, "message:"), 0) << "dialogs are collected, not shown: " << out;

  // CSV: BOM, header of captions, one line per row of the current product, numbers masked.
  const std::string csv = ReadFile(dir / "fornecedores.csv");
  ASSERT_TRUE(csv.starts_with("\xEF\xBB\xBF")) << csv;
  EXPECT_EQ(Count(csv, "\r\n"), 1 + 3) << csv;
  EXPECT_NE(csv.find("45.723.174/0001-10"), std::string::npos) << csv;
  EXPECT_NE(csv.find("529.982.247-25"), std::string::npos) << csv;  // a CPF gets its own mask
  EXPECT_EQ(csv.find("\r\n45723174000110"), std::string::npos) << csv;
  EXPECT_NE(out.find("export: 3 rows to "), std::string::npos) << out;

  // XLSX of every product's suppliers: open the zip, read cells.
  if (testsupport::RunCommand({"/usr/bin/unzip", "-o", "-q", (dir / "todos.xlsx").string(), "-d", (dir / "x").string()}) != 0) {
    GTEST_SKIP() << "unzip is not installed; the XLSX was written but not read back";
  }
  const std::string strings = ReadFile(dir / "x/xl/sharedStrings.xml");
  const std::string sheet = ReadFile(dir / "x/xl/worksheets/sheet1.xml");
  EXPECT_EQ(Count(sheet, "<row "), 1 + 4) << sheet;  // header, product 100's three, product 200's one
  EXPECT_NE(strings.find("<t>45.723.174/0001-10</t>"), std::string::npos) << strings;
  EXPECT_NE(strings.find("<t>Distribuidora São João Ltda</t>"), std::string::npos) << strings;
  // Rows of every product lead with the product key, the field the list is filtered by.
  EXPECT_NE(strings.find("<t>CDPRODUTODES</t>"), std::string::npos) << strings;
  EXPECT_NE(strings.find("<t>200</t>"), std::string::npos) << "the row of the other product: " << strings;
  EXPECT_EQ(sheet.find("<f>"), std::string::npos) << "no formulas";
  EXPECT_NE(out.find("export: 4 rows to "), std::string::npos) << out;

  // History of the current product: the seeded rows and the pasted one, newest first.
  EXPECT_NE(out.find("\nhistory: 5 changes of product 100\n"), std::string::npos) << out;
  const std::regex newest(R"(\nhistory: \d{4}-\d\d-\d\dT[0-9:.]+Z - 127\.0\.0\.1:\d+ fornecedor insert F002 45723174000110 Comércio)");
  EXPECT_TRUE(std::regex_search(out, newest)) << out;
}

// A connection cut while a save is answered: the runner cannot know whether the save was stored,
// reads the list again, reports what the server holds, and exits 3. The cut goes between the
// runner and the server (a relay that drops the connection at a chosen SetFornecedor), once after
// the server stored the row and once before the request reached it.
TEST(ListToolsTest, ACutConnectionDuringAPasteIsSettledByReadingTheListAgain) {
  TestServer server;
  server.AddBranch("100", testsupport::SampleMasterData().branches[0]);
  std::atomic<int> saves{0};
  std::atomic<int> cutAt{2};
  std::atomic<bool> forwardTheCut{true};
  testsupport::RawHttpStub relay([&](int fd, const std::string&, const std::string& body) {
    const bool save = body.find("\"SetFornecedor\"") != std::string::npos;
    const bool cut = save && ++saves == cutAt;
    if (cut && !forwardTheCut) return false;
    httplib::Client client("127.0.0.1", server.Port());
    const auto answer = client.Post("/PDI07310.rdmProdDesoneraImpos", body, "application/json");
    if (cut || !answer) return false;
    return relay.Send(fd, "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
                              std::to_string(answer->body.size()) + "\r\n\r\n" + answer->body);
  });
  const fs::path dir = server.Folder();
  const auto run = [&](const std::string& codes) {
    std::ofstream(dir / "cut.scn") << "open\ntab tshFornecedor\nfocus dbgFornecedor\npaste dbgFornecedor \"" << codes
                                   << "\"\nexpect cdsProduto.CDPRODUTO 100\nrows cdsFornecedor\n";
    const int status = testsupport::RunCommand({testsupport::ScenarioBinary(), "--server", "127.0.0.1:" + std::to_string(relay.Port()),
                                                "--local", server.LocalDatabase().string(), (dir / "cut.scn").string()},
                                               dir / "cut.txt");
    return std::make_pair(status, ReadFile(dir / "cut.txt"));
  };

  // The second save is stored, its answer lost: the list read again shows it.
  const auto [stored, storedLog] = run("11222333000181\\n45723174000110\\n52998224725");
  EXPECT_EQ(stored, 3) << storedLog;
  EXPECT_NE(storedLog.find("\npaste: 1 stored, 0 refused, 1 unknown, stopped at code 2 of 3 (45723174000110): "),
            std::string::npos) << storedLog;
  EXPECT_NE(storedLog.find("\npaste: 2 stored, 0 refused, stopped before code 3 of 3: "), std::string::npos) << storedLog;
  EXPECT_NE(storedLog.find("\npaste stored: 45723174000110: gravado, como mostrou a lista relida"), std::string::npos)
      << storedLog;
  EXPECT_EQ(storedLog.find("paste refused:"), std::string::npos) << storedLog;
  EXPECT_EQ(Count(storedLog, "\ncdsFornecedor["), 2) << storedLog;

  // The save never reached the server: the list read again says it is not stored.
  saves = 0;
  cutAt = 1;
  forwardTheCut = false;
  const auto [lost, lostLog] = run("52998224725");
  EXPECT_EQ(lost, 3) << lostLog;
  EXPECT_NE(lostLog.find("\npaste: 0 stored, 0 refused, stopped at code 1 of 1 (52998224725): "), std::string::npos)
      << lostLog;
  EXPECT_NE(lostLog.find("a lista relida mostra que não foi gravado"), std::string::npos) << lostLog;
  EXPECT_EQ(Count(lostLog, "\ncdsFornecedor["), 2) << lostLog;
  EXPECT_EQ(lostLog.find("NRINSJURFORN=52998224725"), std::string::npos) << lostLog;
}

}  // namespace
