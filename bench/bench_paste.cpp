// Pasting a list of supplier codes into the supplier grid (each through the screen's own path:
// insert, typing, column exit, post with check, save and refresh of the list by its changes), at
// 1,000 and 1,000,000 related rows; and getHistorico's answer time for a product with 10,000
// audit rows.
//
//   bench_paste [--codes N] [SIZE...]   sizes in related rows (default 1000); pass 1000000 for the
//                                       large case (its demo data take a while to write)
//
// Prints the time per pasted row and the medians of the history calls.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include <sqlite3.h>

#include "host/controls/Application.h"
#include "host/services/HostLib.h"
#include "host/services/ScriptedHost.h"
#include "host/tools/ListPaste.h"
#include "module/ModuleGlobals.h"
#include "screen/ProdDesoneraImpos.h"
#include "tests/support/TestServer.h"

extern "C" {
void Initialize();
void Finalize();
void IniProc();
}

namespace {

using Clock = std::chrono::steady_clock;
using pdi07310::TfrmProdDesoneraImpos;

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Up to n supplier numbers of the local database that the current product does not have.
std::vector<std::string> FreeSuppliers(TfrmProdDesoneraImpos& s, size_t n) {
  std::vector<std::string> taken;
  for (int r = 1; r <= s.cdsFornecedor->RecordCount(); ++r) {
    s.cdsFornecedor->SetDisplayRow(r);
    taken.push_back(s.cdsFornecedor->FieldByName("NRINSJURFORN")->AsString());
  }
  s.cdsFornecedor->SetDisplayRow(0);
  auto* suppliers = s.Find<host::TADOIBQuery>("qryFornecedor");
  suppliers->Close();
  suppliers->Open();
  std::vector<std::string> out;
  for (suppliers->First(); !suppliers->Eof() && out.size() < n; suppliers->Next()) {
    const std::string number = suppliers->FieldByName("NRINSJURFORN")->AsString();
    if (std::find(taken.begin(), taken.end(), number) == taken.end()) out.push_back(number);
  }
  return out;
}

// A valid CNPJ from its first twelve digits.
std::string Cnpj(std::string n) {
  for (int round = 0; round < 2; ++round) {
    const int len = static_cast<int>(n.size());
    int sum = 0;
    for (int i = 0; i < len; ++i) sum += (n[len - 1 - i] - '0') * (2 + i % 8);
    n += static_cast<char>('0' + (sum % 11 < 2 ? 0 : 11 - sum % 11));
  }
  return n;
}

// Adds n suppliers that no product has to the local database, then to the server's masters.
void AddSuppliers(const testsupport::TestServer& server, size_t n) {
  sqlite3* db = nullptr;
  if (sqlite3_open(server.LocalDatabase().c_str(), &db) != SQLITE_OK) throw std::runtime_error("local database");
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO FORNECEDOR (NRINSJURFORN, NMRAZSOCFORN, IDTPIJURFORN, CDFORNECED) VALUES (?1, ?2, 'J', ?3)",
                     -1, &insert, nullptr);
  for (size_t i = 0; i < n; ++i) {
    const std::string number = Cnpj(std::to_string(90000000 + i) + "0001");
    const std::string name = "Fornecedor colado " + std::to_string(i);
    const std::string key = "COL" + std::to_string(1000000 + i);
    sqlite3_bind_text(insert, 1, number.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 2, name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 3, key.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_step(insert);
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  server.ImportMaster();
}

void Paste(int relatedRows, size_t codes) {
  const int rowsPerProduct = relatedRows >= 100000 ? 100 : 10;
  const int products = std::max(1, relatedRows / rowsPerProduct);
  std::printf("\n%d related rows (%d products x %d rows)\n", relatedRows, products, rowsPerProduct);
  std::fflush(stdout);
  testsupport::TestServer server(testsupport::TestServer::Demo{products, rowsPerProduct});
  AddSuppliers(server, codes);
  host::ScriptedHost services;
  services.SetWebPort(server.Port());
  services.SetLocalDatabasePath(server.LocalDatabase().string());
  host::SetHostServices(&services);
  host::TForm mainForm;
  host::Application().SetMainForm(&mainForm);
  Initialize();
  IniProc();
  TfrmProdDesoneraImpos& s = *frmProdDesoneraImpos;
  s.pgcGrade->SetActivePage(s.tshFornecedor);
  s.dbgFornecedor->SetFocus();
  const std::vector<std::string> list = FreeSuppliers(s, codes);
  const auto start = Clock::now();
  const host::PasteSummary summary = host::ListPaste(*s.dbgFornecedor).Run(list);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::printf("  paste %zu supplier codes: %s\n  %.3f s in all, %.3f ms per row\n", list.size(),
              summary.Line().c_str(), seconds, seconds * 1e3 / static_cast<double>(std::max<size_t>(1, list.size())));
  Finalize();
  host::Application().SetMainForm(nullptr);
  host::SetHostServices(nullptr);
}

void History() {
  std::printf("\ngetHistorico of a product with 10,000 audit rows\n");
  testsupport::TestServer server;
  testsupport::SeedSample(server);  // product 100 has the branch SP01
  // 10,000 changes of one product: deletes and inserts of its branch, 500 per packet.
  const std::string fields =
      R"({"fields":[{"name":"CDPRODUTODES","size":10},{"name":"CDFILIALDES","size":4},{"name":"NMFILIAL","size":40}],"changes":[)";
  const std::string product = "100";
  const std::string branch = "SP01";
  for (int packet = 0; packet < 20; ++packet) {
    std::string changes;
    for (int i = 0; i < 250; ++i) {
      changes += std::string(i ? "," : "") + R"({"op":"delete","row":[")" + product + R"(",")" + branch + R"(",""]},)" +
                 R"({"op":"insert","row":[")" + product + R"(",")" + branch + R"(",""]})";
    }
    server.CallRaw("SetFilial", "[" + fields + changes + "]}]");
  }
  std::vector<double> times;
  size_t bytes = 0;
  for (int run = 0; run < 15; ++run) {
    const auto start = Clock::now();
    bytes = server.CallRaw("getHistorico", "[\"" + product + "\"]").size();
    times.push_back(std::chrono::duration<double>(Clock::now() - start).count());
  }
  std::printf("  answer (at most 1,000 newest rows, %zu bytes): median %.2f ms\n", bytes, Median(times) * 1e3);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> sizes;
  size_t codes = 1000;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--codes" && i + 1 < argc) {
      codes = static_cast<size_t>(std::stoul(argv[++i]));
    } else {
      sizes.push_back(std::stoi(argv[i]));
    }
  }
  if (sizes.empty()) sizes = {1000};
  try {
    History();
    for (int size : sizes) Paste(size, codes);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_paste: %s\n", e.what());
    return 1;
  }
  return 0;
}
