// The fixture of the screen's headless tests: a real server process over a temporary SQLite
// file with known data, a real local database, the scripted host services, and the screen
// created through the module's own factory, in process.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "host/controls/Application.h"
#include "host/controls/Form.h"
#include "host/net/NetConnection.h"
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

namespace pdi07310 {

class ScreenTest : public ::testing::Test {
 protected:
  // Seeds the server before the screen opens; the default gives product 100 two suppliers, a
  // client and a branch, product 200 one supplier, and the quoted key O'1 one branch.
  virtual void Seed(testsupport::TestServer& server) { testsupport::SeedSample(server); }

  void SetUp() override {
    server_ = std::make_unique<testsupport::TestServer>();
    Seed(*server_);
    host_.SetWebPort(server_->Port());
    host_.SetLocalDatabasePath(server_->LocalDatabase().string());
    host::SetHostServices(&host_);
    mainForm_.SetName("frmPrincipal");
    host::Application().SetMainForm(&mainForm_);
    host::TNetConnection::SetCallObserver(
        [this](const std::string& method, const std::vector<host::Variant>&) { calls_.push_back(method); });
    Initialize();
  }

  void TearDown() override {
    Finalize();
    host::TNetConnection::SetCallObserver(nullptr);
    host::Application().SetMainForm(nullptr);
    host::SetHostServices(nullptr);
  }

  // Opens the screen; returns it.
  TfrmProdDesoneraImpos& Open() {
    IniProc();
    return *frmProdDesoneraImpos;
  }

  // Runs an action the way a host does: the silent abort ends it quietly.
  template <class F>
  static bool Act(F&& action) {
    try {
      action();
      return true;
    } catch (const host::EAbort&) {
      return false;
    }
  }

  // The values of one field over the visible rows of a record set.
  static std::vector<std::string> Column(host::TClientDataSet& dataSet, const std::string& field) {
    std::vector<std::string> out;
    const int index = dataSet.FieldByName(field)->Index();
    for (int n = 1; n <= dataSet.RecordCount(); ++n) {
      dataSet.SetDisplayRow(n);
      out.push_back(dataSet.RowValues()[index]);
    }
    dataSet.SetDisplayRow(0);
    return out;
  }

  // Log lines of the scripted host that start with a prefix.
  std::vector<std::string> LogLines(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const auto& line : host_.Log()) {
      if (line.rfind(prefix, 0) == 0) out.push_back(line);
    }
    return out;
  }

  std::unique_ptr<testsupport::TestServer> server_;
  host::ScriptedHost host_;
  host::TForm mainForm_;
  std::vector<std::string> calls_;
};

}  // namespace pdi07310
