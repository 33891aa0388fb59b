// A related list refreshed by its changes after a save must end exactly as a whole reload leaves
// it. The same random steps (the screen storing and deleting rows through its own paths, other
// clients saving and deleting at the same server, products deleted with their rows, the verify
// command) run twice over the same data: refreshing by changes, then reading whole lists as the
// screen does at a server of an earlier release. After every step both runs must show the same
// dialogs, busy frames, calls (a refresh counted as the reload it stands for) and record sets,
// and in the first run every list just refreshed must equal a fresh whole load from the server.
// Both stores: PostgreSQL when PDI_TEST_PG_URI names a database the test may make a schema in.
#include <libpq-fe.h>

#include <algorithm>
#include <optional>
#include <random>
#include <sstream>

#include "host/services/CollectingHost.h"
#include "host/tools/ListPaste.h"
#include "tests/screen/ScreenFixture.h"

namespace pdi07310 {
namespace {

using host::TClientDataSet;
using testsupport::TestServer;

constexpr int kProducts = 8, kParties = 12, kBranches = 8, kSteps = 70;

std::string Product(int i) { return "P" + std::to_string(10 + i); }

testsupport::MasterData Data() {
  testsupport::MasterData d;
  for (int i = 0; i < kProducts; ++i) d.products.push_back({Product(i), std::to_string(2000 + i % 5), "Produto " + std::to_string(i)});
  // Numbers out of key order, two suppliers sharing a number: the list's order within a product is
  // by number, then key.
  for (int i = 0; i < kParties; ++i) {
    const std::string number = std::to_string(90000000000 - 7 * (i % 7) * 1000 + i / 7);
    d.suppliers.push_back({number, "Fornecedor " + std::to_string(i), i % 2 ? "F" : "J", "F" + std::to_string(100 + i)});
    d.clients.push_back({std::to_string(30000000000 + 13 * i), "Cliente " + std::to_string(i), "J", "C" + std::to_string(100 + i)});
  }
  for (int i = 0; i < kBranches; ++i) d.branches.push_back({"B" + std::to_string(300 + i * 7 % 10), "Filial " + std::to_string(i)});
  return d;
}

// A schema of its own in the PDI_TEST_PG_URI database, dropped afterwards.
class PgSchema {
 public:
  explicit PgSchema(std::string base) : base_(std::move(base)) {
    name_ = "pdi_refresh_" + std::to_string(getpid()) + "_" + std::to_string(counter_++);
    Exec("CREATE SCHEMA " + name_);
  }
  ~PgSchema() { Exec("DROP SCHEMA " + name_ + " CASCADE"); }
  std::string Uri() const {
    return base_ + (base_.find('?') == std::string::npos ? "?" : "&") + "options=-csearch_path%3D" + name_;
  }

 private:
  void Exec(const std::string& sql) const {
    PGconn* c = PQconnectdb(base_.c_str());
    PQclear(PQexec(c, "SET client_min_messages TO warning"));
    PGresult* r = PQexec(c, sql.c_str());
    const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
    PQclear(r);
    PQfinish(c);
    if (!ok) ADD_FAILURE() << "PostgreSQL refused: " << sql;
  }
  static inline int counter_ = 0;
  std::string base_, name_;
};

// One related list as the steps see it: its record set, grid, save method and the raw packet of
// another client.
struct ListSide {
  const char* method;
  const char* itemField;
  TClientDataSet* TfrmProdDesoneraImpos::*dataSet;
  host::TDBGrid* TfrmProdDesoneraImpos::*grid;
  host::TTabSheet* TfrmProdDesoneraImpos::*page;
};
const ListSide kLists[] = {
    {"SetFornecedor", "CDFORNECED", &TfrmProdDesoneraImpos::cdsFornecedor, &TfrmProdDesoneraImpos::dbgFornecedor,
     &TfrmProdDesoneraImpos::tshFornecedor},
    {"SetCliente", "CDCLIENTE", &TfrmProdDesoneraImpos::cdsCliente, &TfrmProdDesoneraImpos::dbgCliente,
     &TfrmProdDesoneraImpos::tshCliente},
    {"SetFilial", "CDFILIALDES", &TfrmProdDesoneraImpos::cdsFilial, &TfrmProdDesoneraImpos::dbgFilial,
     &TfrmProdDesoneraImpos::tshFilial},
};

class RefreshByChangesTest : public ScreenTest, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    ScreenTest::SetUp();
    if (GetParam() && !std::getenv("PDI_TEST_PG_URI")) GTEST_SKIP() << "PDI_TEST_PG_URI is not set";
  }
  void Seed(TestServer&) override {}

  // Another client's save of one change; true when the server took it.
  static bool OtherSave(const TestServer& server, const ListSide& list, const char* op, const std::string& product,
                        const std::string& item) {
    const bool productList = list.method == std::string("SetProduto");
    std::string fields = R"([{"name":")" + std::string(productList ? "CDPRODUTO" : "CDPRODUTODES") + R"(","size":10})";
    if (!productList) fields += R"(,{"name":")" + std::string(list.itemField) + R"(","size":21})";
    std::string row = "\"" + product + "\"" + (productList ? "" : ",\"" + item + "\"");
    const std::string packet = R"({"fields":)" + fields + R"(],"changes":[{"op":")" + op + R"(","row":[)" + row + "]}]}";
    return server.CallRaw(list.method, "[" + packet + "]").find("\"ok\":true") != std::string::npos;
  }

  // A call as the reload it stands for: a refresh by changes is its list's reload, and the list
  // version read before a load is no reload at all ("").
  static std::string AsReload(const std::string& call) {
    if (call == "getVersaoListas") return {};
    const size_t since = call.rfind("Desde");
    return since != std::string::npos && since + 5 == call.size() ? call.substr(0, since) : call;
  }

  // What a step leaves to see: dialogs and busy frames, calls, and every list and toolbar button.
  std::string State(TfrmProdDesoneraImpos& s) {
    std::ostringstream out;
    for (const std::string& line : host_.Log()) out << line << '\n';
    for (const std::string& call : calls_) {
      if (const std::string reload = AsReload(call); !reload.empty()) out << "call " << reload << '\n';
    }
    for (TClientDataSet* cds : {s.cdsProduto, s.cdsFornecedor, s.cdsCliente, s.cdsFilial}) {
      out << cds->Name() << " state " << static_cast<int>(cds->State()) << " rec " << cds->RecNo() << "/"
          << cds->RecordCount() << " changes " << cds->ChangeCount() << " filter " << cds->Filter() << '\n'
          << std::string(cds->Data().PacketJson()) << '\n';
    }
    for (auto* b : {s.sbtIncluir, s.sbtExcluir, s.sbtConfirmar, s.sbtCancelar, s.sbtVerificar, s.sbtProcurar}) {
      out << b->Name() << (b->Enabled() ? " on" : " off") << ' ';
    }
    host_.ClearLog();
    calls_.clear();
    return out.str();
  }

  // The list as a fresh whole load gives it, into a set with the same fields.
  std::string WholeList(const TestServer& server, TClientDataSet& like, const std::string& method) {
    TClientDataSet fresh;
    for (const host::TField* f : like.Fields()) fresh.AddField(f->FieldName(), f->Size());
    host::TNetConnection net;
    net.SetHost("127.0.0.1");
    net.SetPort(server.Port());
    net.SetServerName(frmProdDesoneraImpos->netProdDeso->ServerName());
    const std::vector<std::string> calls = calls_;
    fresh.SetData(host::CheckResultServ(net.Call(method, {}), true, 0));
    calls_ = calls;
    return std::string(fresh.Data().PacketJson());
  }

  int refreshes_ = 0;  // lists refreshed by changes in the first run

  // Runs the steps of one seed against a fresh server; returns the state after every step.
  std::vector<std::string> Run(bool byChanges) {
    std::optional<PgSchema> schema;
    if (GetParam()) schema.emplace(std::getenv("PDI_TEST_PG_URI"));
    TestServer server(Data(), schema ? schema->Uri() : std::string());
    std::mt19937 random(7310);
    const auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    const testsupport::MasterData data = Data();
    const auto item = [&](int list) {
      return list == 0 ? data.suppliers[pick(kParties)].key : list == 1 ? data.clients[pick(kParties)].key
                                                                        : data.branches[pick(kBranches)].code;
    };
    for (int i = 0; i < 30; ++i) OtherSave(server, kLists[i % 3], "insert", Product(pick(kProducts)), item(i % 3));

    host_.SetWebPort(server.Port());
    host_.SetLocalDatabasePath(server.LocalDatabase().string());
    TfrmProdDesoneraImpos& s = Open();
    if (!byChanges) s.TEST_ReadListsWhole();
    std::vector<std::string> states{State(s)};
    for (int step = 0; step < kSteps; ++step) {
      // Other clients first: inserts and deletes of pairs, now and then a product's deletion.
      for (int n = pick(4); n > 0; --n) {
        const int list = pick(3);
        OtherSave(server, kLists[list], pick(3) ? "insert" : "delete", Product(pick(kProducts)), item(list));
      }
      if (pick(12) == 0) {
        OtherSave(server, ListSide{"SetProduto", "", nullptr, nullptr, nullptr}, "delete", Product(pick(kProducts)), "");
      }
      const int list = pick(3);
      const ListSide& side = kLists[list];
      const int action = pick(10);
      Act([&] { s.dbgPadrao->SetFocus(); });
      if (s.cdsProduto->RecordCount() > 0) s.cdsProduto->SetRecNo(1 + pick(s.cdsProduto->RecordCount()));
      Act([&] { s.pgcGrade->SetActivePage(s.*side.page); });
      Act([&] { (s.*side.grid)->SetFocus(); });
      const std::string code = list == 0 ? data.suppliers[pick(kParties)].number
                               : list == 1 ? data.clients[pick(kParties)].number
                                           : data.branches[pick(kBranches)].code;
      if (action < 6) {
        const host::PasteSummary pasted = host::ListPaste(*(s.*side.grid)).Run({code});
        calls_.push_back("paste: " + pasted.Line() + (pasted.lines.empty() ? "" : " " + pasted.lines[0].message));
      } else if (action < 9 && !(s.*side.dataSet)->IsEmpty()) {
        (s.*side.dataSet)->SetRecNo(1 + pick((s.*side.dataSet)->RecordCount()));
        host_.QueueAnswer(true);
        Act([&] { s.sbtExcluirClick(nullptr); });
      } else {
        Act([&] { s.sbtVerificarClick(nullptr); });
      }
      const std::vector<std::string> calls = calls_;
      // Each list just read again must be the server's, as a whole load gives it.
      for (const ListSide& l : kLists) {
        TClientDataSet& cds = *(s.*l.dataSet);
        const std::string reload = std::string("get") + (l.method + 3);
        if (byChanges && std::find(calls.begin(), calls.end(), reload + "Desde") != calls.end()) {
          ++refreshes_;
          EXPECT_EQ(std::string(cds.Data().PacketJson()), WholeList(server, cds, reload))
              << cds.Name() << " after step " << step;
        }
      }
      states.push_back("step " + std::to_string(step) + "\n" + State(s));
    }
    Finalize();
    Initialize();
    return states;
  }
};

TEST_P(RefreshByChangesTest, ListsRefreshedByChangesEndAsWholeReloadsLeaveThem) {
  const std::vector<std::string> byChanges = Run(true);
  EXPECT_GT(refreshes_, 20) << "the steps hardly refreshed a list by its changes";
  const std::vector<std::string> whole = Run(false);
  ASSERT_EQ(byChanges.size(), whole.size());
  for (size_t i = 0; i < byChanges.size(); ++i) EXPECT_EQ(byChanges[i], whole[i]);
}

INSTANTIATE_TEST_SUITE_P(Stores, RefreshByChangesTest, ::testing::Values(false, true),
                         [](const auto& test) { return test.param ? "Postgres" : "Sqlite"; });

}  // namespace
}  // namespace pdi07310
