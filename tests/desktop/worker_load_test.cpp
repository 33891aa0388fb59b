// Record set loads on the desktop's worker thread: the screen opened with every load handed to
// the worker shows the same lists, keeps the keyboard focus and stores and reloads as before; a
// load that fails part way reports the failure and leaves the lists as they were; the busy
// animation turns during a load and is put back as it was after.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QThread>
#include <QToolButton>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "desktop/BusyIndicator.h"
#include "desktop/CallRunner.h"
#include "desktop/FormWindow.h"
#include "desktop/GridTableModel.h"
#include "desktop/GridView.h"
#include "desktop/MainWindow.h"
#include "desktop/QtHostServices.h"
#include "host/controls/Form.h"
#include "host/data/ClientDataSet.h"
#include "host/data/DataErrors.h"
#include "host/net/NetConnection.h"
#include "tests/desktop/DialogAnswers.h"
#include "tests/desktop/ScreenDesktop.h"
#include "tests/support/TestServer.h"

namespace {

using host::TDataSetState;

TEST(WorkerLoadRunnerTest, TheAnimationTurnsDuringALoadAndIsPutBackAsItWas) {
  desktop::QtHostServices services{desktop::DesktopSettings()};
  services.Install();
  QWidget window;
  window.resize(400, 300);
  window.show();
  services.SetMainWindow(&window);
  desktop::BusyIndicator* busy = services.Busy();
  ASSERT_NE(busy, nullptr);

  bool runningDuringLoad = false;
  bool offThread = false;
  const Qt::HANDLE ui = QThread::currentThreadId();
  services.RunLoad([&] {
    runningDuringLoad = busy->Running();
    offThread = QThread::currentThreadId() != ui;
  });
  EXPECT_TRUE(runningDuringLoad);
  EXPECT_TRUE(offThread);
  EXPECT_FALSE(busy->Running());

  // A failing load passes its exception on, unchanged, and hides the animation it showed.
  EXPECT_THROW(services.RunLoad([] { throw host::EPacketError("pacote cortado"); }), host::EPacketError);
  EXPECT_FALSE(busy->Running());
  // An animation already up (a call's) stays up with its caption.
  busy->Start(QStringLiteral("Validando dados..."));
  services.RunLoad([] {});
  EXPECT_TRUE(busy->Running());
  EXPECT_EQ(busy->Caption(), QStringLiteral("Validando dados..."));
  busy->Stop();
  services.SetMainWindow(nullptr);
}

// The desktop with the real screen against a real server, every record set load of getDados
// handed to the worker (the size threshold set to 0), and a switch that makes the next load fail
// after its work has run.
class WorkerLoadScreenTest : public desktoptest::ScreenDesktopTest {
 protected:
  void Seed(testsupport::TestServer& server) override {
    const auto d = testsupport::SampleMasterData();
    server.AddSupplier("100", d.suppliers[0]);
    server.AddSupplier("100", d.suppliers[2]);
    server.AddSupplier("200", d.suppliers[1]);
  }
  void BeforeOpen() override {
    host::TClientDataSet::SetLoadRunner(
        [this](const std::function<void()>& work) {
          ++loads_;
          if (failNext_) {
            failNext_ = false;
            desktop_->services.RunLoad([&] {
              work();
              throw host::EPacketError("resposta cortada no meio dos dados");
            });
            return;
          }
          desktop_->services.RunLoad(work);
        },
        0);
  }
  void TearDown() override {
    host::TClientDataSet::SetLoadRunner({});
    ScreenDesktopTest::TearDown();
  }
  host::TClientDataSet* DataSet(const std::string& name) const { return Model<host::TClientDataSet>(name); }
  desktop::BusyIndicator* Busy() const { return desktop_->services.Busy(); }
  const std::vector<std::string>& Seen() const { return desktop_->answers->Seen(); }

  int loads_ = 0;
  bool failNext_ = false;
};

TEST_F(WorkerLoadScreenTest, TheScreenOpensStoresAndReloadsAsWithLoadsInline) {
  EXPECT_GE(loads_, 4);  // the four lists of the answer
  EXPECT_EQ(ColumnTexts("dbgPadrao"), (std::vector<std::string>{"1001", "1002"}));
  EXPECT_EQ(ColumnTexts("dbgFornecedor"), (std::vector<std::string>{"11.222.333/0001-81", "529.982.247-25"}));
  EXPECT_FALSE(Busy()->Running());
  EXPECT_EQ(QApplication::focusWidget(), Grid("dbgPadrao"));
  // The product grid follows its record set after the loads.
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
  EXPECT_EQ(DataSet("cdsProduto")->RecNo(), 2);
  EXPECT_EQ(ColumnTexts("dbgFornecedor"), std::vector<std::string>{"45.723.174/0001-10"});
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);

  // Store a supplier: the reload of the whole list goes through the worker too.
  ASSERT_TRUE(Grid("dbgFornecedor")->ClickCell(0, 0));
  Button("sbtIncluir")->click();
  host::TClientDataSet* list = DataSet("cdsFornecedor");
  ASSERT_EQ(list->State(), TDataSetState::dsInsert);
  list->FieldByName("NRINSJURFORN")->SetAsString("45723174000110");
  const int before = loads_;
  Button("sbtConfirmar")->click();
  EXPECT_GT(loads_, before);
  EXPECT_EQ(list->State(), TDataSetState::dsBrowse);
  EXPECT_EQ(list->ChangeCount(), 0);
  EXPECT_EQ(ColumnTexts("dbgFornecedor"),
            (std::vector<std::string>{"11.222.333/0001-81", "45.723.174/0001-10", "529.982.247-25"}));
  EXPECT_TRUE(Seen().empty());
  EXPECT_FALSE(Busy()->Running());
}

TEST_F(WorkerLoadScreenTest, ALoadFailingPartWayIsReportedAndLeavesTheListsAsTheyWere) {
  ASSERT_TRUE(Grid("dbgPadrao")->ClickCell(1, 0));
  const auto products = ColumnTexts("dbgPadrao");
  const auto suppliers = ColumnTexts("dbgFornecedor");
  host::TClientDataSet* productSet = DataSet("cdsProduto");
  // Stored meanwhile at the server: a reload that went through would show it.
  server_->AddSupplier("200", testsupport::SampleMasterData().suppliers[0]);
  failNext_ = true;
  Button("sbtVerificar")->click();
  Settle();
  EXPECT_FALSE(failNext_);
  ASSERT_EQ(Seen().size(), 1u);
  EXPECT_NE(Seen()[0].find("resposta cortada no meio dos dados"), std::string::npos)
      << Seen()[0];
  EXPECT_EQ(ColumnTexts("dbgPadrao"), products);
  EXPECT_EQ(ColumnTexts("dbgFornecedor"), suppliers);
  EXPECT_EQ(productSet->RecNo(), 2);
  EXPECT_EQ(productSet->State(), TDataSetState::dsBrowse);
  EXPECT_FALSE(Busy()->Running());
  // The next reload goes through and shows what the server holds.
  Button("sbtVerificar")->click();
  Settle();
  EXPECT_EQ(Seen().size(), 1u);
  ASSERT_TRUE(Grid("dbgPadrao")->ClickCell(1, 0));
  EXPECT_EQ(ColumnTexts("dbgFornecedor").size(), suppliers.size() + 1);
}

}  // namespace
