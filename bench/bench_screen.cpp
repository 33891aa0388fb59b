// What a user waits for, measured on demo data of 1,000, 100,000 and 1,000,000 related rows: the
// screen opening (connect, full load, filter), moving to another product, storing one supplier
// row (local lookup, server check, save, refresh of the list by its changes) and deleting one.
// The screen runs in process with the scripted host services against a real server process on
// loopback.
//
//   bench_screen [--sync normal] [--rows-per-product N] [SIZE...]
//       sizes in related rows (default 1000 100000 1000000); --sync normal runs the server with
//       synchronous=NORMAL; N related rows per product (default 10, as bench_server's bare read:
//       1,000,000 rows are 100,000 products x 10)
//
// Prints the median of several runs of each step, and the process's peak memory after the opens.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "SizeArgs.h"
#include "host/controls/Application.h"
#include "host/services/HostLib.h"
#include "host/services/ScriptedHost.h"
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

double Seconds(const std::function<void()>& step) {
  const auto start = Clock::now();
  step();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// A supplier of the local database that the current product does not have yet; empty if none.
std::string FreeSupplier(TfrmProdDesoneraImpos& s) {
  auto* suppliers = s.Find<host::TADOIBQuery>("qryFornecedor");
  suppliers->Close();
  suppliers->Open();
  std::vector<std::string> taken;
  for (int n = 1; n <= s.cdsFornecedor->RecordCount(); ++n) {
    s.cdsFornecedor->SetDisplayRow(n);
    taken.push_back(s.cdsFornecedor->FieldByName("NRINSJURFORN")->AsString());
  }
  s.cdsFornecedor->SetDisplayRow(0);
  for (suppliers->First(); !suppliers->Eof(); suppliers->Next()) {
    const std::string number = suppliers->FieldByName("NRINSJURFORN")->AsString();
    if (std::find(taken.begin(), taken.end(), number) == taken.end()) return number;
  }
  return {};
}

long PeakRssKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

void Measure(int relatedRows, int rowsPerProduct, const std::string& sync) {
  const int products = std::max(1, relatedRows / rowsPerProduct);
  std::printf("\n%d related rows (%d products x %d rows), synchronous=%s\n", relatedRows, products, rowsPerProduct,
              sync.c_str());
  std::fflush(stdout);
  testsupport::TestServer server(testsupport::TestServer::Demo{products, rowsPerProduct, sync});

  host::ScriptedHost services;
  services.SetWebPort(server.Port());
  services.SetLocalDatabasePath(server.LocalDatabase().string());
  host::SetHostServices(&services);
  host::TForm mainForm;
  host::Application().SetMainForm(&mainForm);

  std::vector<double> open;
  for (int run = 0; run < 3; ++run) {
    Initialize();
    open.push_back(Seconds([] { IniProc(); }));
    if (run < 2) Finalize();
  }
  TfrmProdDesoneraImpos& s = *frmProdDesoneraImpos;
  const int loaded = s.cdsFornecedor->RecordCount();
  std::printf("  open (connect, getDados, filter)   %9.3f ms   [%d products listed]\n", Median(open) * 1e3,
              s.cdsProduto->RecordCount());
  std::printf("  peak RSS of the process so far     %9.1f MB\n", PeakRssKb() / 1024.0);

  std::vector<double> moves;
  for (int i = 0; i < 2000; ++i) {
    moves.push_back(Seconds([&] { (i % 2 == 0) ? s.cdsProduto->Next() : s.cdsProduto->Prior(); }));
  }
  std::printf("  move to another product            %9.4f ms   [%d supplier rows in view]\n",
              Median(moves) * 1e3, loaded);

  std::vector<double> stores;
  std::vector<double> deletes;
  for (int run = 0; run < 3; ++run) {
    s.cdsProduto->MoveBy(7);
    const std::string number = FreeSupplier(s);
    if (number.empty()) break;
    s.dbgFornecedor->SetFocus();
    s.sbtIncluir->Click();
    s.cdsFornecedor->FieldByName("NRINSJURFORN")->SetAsString(number);
    stores.push_back(Seconds([&] { s.sbtConfirmar->Click(); }));
    // Put the cursor on the row just stored and delete it again.
    for (s.cdsFornecedor->First(); !s.cdsFornecedor->Eof(); s.cdsFornecedor->Next()) {
      if (s.cdsFornecedor->FieldByName("NRINSJURFORN")->AsString() == number) break;
    }
    services.QueueAnswer(true);
    deletes.push_back(Seconds([&] { s.sbtExcluir->Click(); }));
  }
  if (!stores.empty()) {
    std::printf("  store one supplier (check, save, reload) %9.3f ms\n", Median(stores) * 1e3);
    std::printf("  delete one supplier                %9.3f ms\n", Median(deletes) * 1e3);
  }
  Finalize();
  host::Application().SetMainForm(nullptr);
  host::SetHostServices(nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  std::string sync = "full";
  const auto args = bench::ParseSizeArgs(argc, argv, "[SIZE...] [--rows-per-product M] [--sync full|normal]",
                                         [&sync](std::string_view arg, const char* next) {
                                           if (arg != "--sync" || !next) return 0;
                                           sync = next;
                                           return 2;
                                         });
  if (!args) return 2;
  try {
    for (int size : args->sizes) Measure(size, args->rowsPerProduct, sync);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_screen: %s\n", e.what());
    return 1;
  }
  return 0;
}
