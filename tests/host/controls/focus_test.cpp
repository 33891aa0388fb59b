// Focus order of forms: old control's exit, the enter of each tab sheet the focus comes into,
// the new control's enter; refusals keep the focus; a handler that moves the focus wins.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/controls/DBGrid.h"
#include "host/controls/Form.h"
#include "host/controls/Label.h"
#include "host/controls/PageControl.h"
#include "host/controls/Panel.h"
#include "host/controls/TabSheet.h"

namespace host {
namespace {

// The shape of a list-and-detail screen: a main grid and a page control on an outer sheet, each
// inner page holding one grid.
class FocusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    form.SetName("frm");
    outerPages = form.Create<TPageControl>("pgcPadrao");
    outerPages->SetParent(&form);
    outerSheet = form.Create<TTabSheet>("tshPadrao");
    outerSheet->SetParent(outerPages);
    mainGrid = form.Create<TDBGrid>("dbgPadrao");
    mainGrid->SetParent(outerSheet);
    pages = form.Create<TPageControl>("pgcGrade");
    pages->SetParent(outerSheet);
    for (const char* name : {"Fornecedor", "Cliente"}) {
      auto* sheet = form.Create<TTabSheet>(std::string("tsh") + name);
      sheet->SetParent(pages);
      auto* panel = form.Create<TPanel>(std::string("pan") + name);
      panel->SetParent(sheet);
      auto* grid = form.Create<TDBGrid>(std::string("dbg") + name);
      grid->SetParent(panel);
      sheets.push_back(sheet);
      grids.push_back(grid);
    }
    for (TControl* c : std::vector<TControl*>{outerSheet, mainGrid, pages, sheets[0], sheets[1], grids[0], grids[1]}) {
      Trace(c);
    }
  }

  void Trace(TControl* c) {
    c->OnEnter = [this, c](TObject*) { log.push_back(c->Name() + ".enter"); };
    c->OnExit = [this, c](TObject*) { log.push_back(c->Name() + ".exit"); };
  }

  std::string Log() const {
    std::string out;
    for (const auto& s : log) out += (out.empty() ? "" : " ") + s;
    return out;
  }

  TForm form;
  TPageControl* outerPages = nullptr;
  TTabSheet* outerSheet = nullptr;
  TDBGrid* mainGrid = nullptr;
  TPageControl* pages = nullptr;
  std::vector<TTabSheet*> sheets;
  std::vector<TDBGrid*> grids;
  std::vector<std::string> log;
};

TEST_F(FocusTest, EnteringAGridOnAnotherPageRunsExitThenPageEnterThenGridEnter) {
  mainGrid->SetFocus();
  EXPECT_EQ(Log(), "tshPadrao.enter dbgPadrao.enter");
  log.clear();

  grids[1]->SetFocus();
  // The outer sheet held the old control too, so only the inner page is entered.
  EXPECT_EQ(Log(), "dbgPadrao.exit tshCliente.enter dbgCliente.enter");
  EXPECT_EQ(form.ActiveControl(), grids[1]);
  EXPECT_EQ(pages->ActivePage(), sheets[1]) << "focusing a control brings its page to the front";
  log.clear();

  grids[0]->SetFocus();
  EXPECT_EQ(Log(), "dbgCliente.exit tshFornecedor.enter dbgFornecedor.enter");
}

TEST_F(FocusTest, MovingWithinOneSheetEntersNoSheet) {
  auto* second = form.Create<TDBGrid>("dbgOutro");
  second->SetParent(sheets[0]);
  Trace(second);
  grids[0]->SetFocus();
  log.clear();
  second->SetFocus();
  EXPECT_EQ(Log(), "dbgFornecedor.exit dbgOutro.enter");
  log.clear();
  second->SetFocus();
  EXPECT_EQ(Log(), "") << "focusing the active control again runs nothing";
}

TEST_F(FocusTest, RefusedExitKeepsTheFocusAndPropagates) {
  grids[0]->SetFocus();
  log.clear();
  grids[0]->OnExit = [this](TObject*) {
    log.push_back("dbgFornecedor.exit");
    Abort();
  };
  EXPECT_THROW(mainGrid->SetFocus(), EAbort);
  EXPECT_EQ(Log(), "dbgFornecedor.exit");
  EXPECT_EQ(form.ActiveControl(), grids[0]);
  EXPECT_TRUE(grids[0]->Focused());
}

TEST_F(FocusTest, RefusedSheetEnterLeavesTheFocusOnTheSheet) {
  mainGrid->SetFocus();
  log.clear();
  sheets[1]->OnEnter = [this](TObject*) {
    log.push_back("tshCliente.enter");
    throw EPlatformError("no");
  };
  EXPECT_THROW(grids[1]->SetFocus(), EPlatformError);
  EXPECT_EQ(Log(), "dbgPadrao.exit tshCliente.enter");
  EXPECT_EQ(form.ActiveControl(), sheets[1]);
}

TEST_F(FocusTest, AHandlerThatMovesTheFocusWins) {
  mainGrid->SetFocus();
  log.clear();
  sheets[1]->OnEnter = [this](TObject*) {
    log.push_back("tshCliente.enter");
    grids[0]->SetFocus();
  };
  grids[1]->SetFocus();
  EXPECT_EQ(Log(), "dbgPadrao.exit tshCliente.enter tshCliente.exit tshFornecedor.enter dbgFornecedor.enter");
  EXPECT_EQ(form.ActiveControl(), grids[0]);
}

TEST_F(FocusTest, ExitHandlerRedirectingTheFocusCancelsTheOriginalMove) {
  grids[0]->SetFocus();
  log.clear();
  grids[0]->OnExit = [this](TObject*) {
    log.push_back("dbgFornecedor.exit");
    grids[0]->OnExit = nullptr;  // the redirect itself leaves the grid once
    mainGrid->SetFocus();
  };
  grids[1]->SetFocus();
  EXPECT_EQ(Log(), "dbgFornecedor.exit dbgPadrao.enter");
  EXPECT_EQ(form.ActiveControl(), mainGrid);
}

TEST_F(FocusTest, SheetsAndPageControlsCanHoldTheFocus) {
  mainGrid->SetFocus();
  log.clear();
  pages->SetFocus();
  EXPECT_EQ(Log(), "dbgPadrao.exit pgcGrade.enter");
  log.clear();
  sheets[1]->SetFocus();
  EXPECT_EQ(Log(), "pgcGrade.exit tshCliente.enter");
  EXPECT_EQ(form.ActiveControl(), sheets[1]);
}

TEST_F(FocusTest, UnfocusableTargetsRaiseAndKeepTheFocus) {
  mainGrid->SetFocus();
  log.clear();
  sheets[1]->SetEnabled(false);
  EXPECT_THROW(grids[1]->SetFocus(), EPlatformError);
  grids[0]->SetVisible(false);
  EXPECT_THROW(grids[0]->SetFocus(), EPlatformError);
  auto* label = form.Create<TLabel>("lbl");
  label->SetParent(&form);
  EXPECT_THROW(label->SetFocus(), EPlatformError);
  TForm other;
  auto* stranger = other.Create<TDBGrid>("dbgStranger");
  stranger->SetParent(&other);
  EXPECT_THROW(form.FocusControl(stranger), EPlatformError);
  EXPECT_EQ(Log(), "");
  EXPECT_EQ(form.ActiveControl(), mainGrid);
}

TEST_F(FocusTest, ObserversHearEveryChangeOfTheActiveControl) {
  std::vector<TControl*> seen;
  form.Subscribe([&](const std::string& property) {
    if (property == "ActiveControl") seen.push_back(form.ActiveControl());
  });
  mainGrid->SetFocus();
  grids[0]->SetFocus();
  EXPECT_EQ(seen, (std::vector<TControl*>{outerSheet, mainGrid, sheets[0], grids[0]}));
}

TEST(ControlTreeTest, ParentsAreSeparateFromOwnersAndCyclesAreRefused) {
  TForm form;
  auto* outer = form.Create<TPanel>("outer");
  auto* inner = form.Create<TPanel>("inner");
  outer->SetParent(&form);
  inner->SetParent(outer);
  EXPECT_EQ(inner->Owner(), &form);
  EXPECT_EQ(inner->Form(), &form);
  EXPECT_TRUE(outer->ContainsControl(inner));
  EXPECT_TRUE(outer->ContainsControl(outer));
  EXPECT_FALSE(inner->ContainsControl(outer));
  EXPECT_THROW(outer->SetParent(inner), EPlatformError);
  EXPECT_THROW(outer->SetParent(outer), EPlatformError);
  inner->SetParent(&form);
  EXPECT_TRUE(outer->Controls().empty());
  EXPECT_EQ(form.Controls().size(), 2u);
}

TEST(ObservableTest, ObserversMayUnsubscribeWhileBeingNotified) {
  TPanel panel;
  int first = 0;
  int second = 0;
  int secondId = 0;
  panel.Subscribe([&](const std::string&) {
    ++first;
    panel.Unsubscribe(secondId);
  });
  secondId = panel.Subscribe([&](const std::string&) { ++second; });
  panel.SetCaption("x");
  panel.SetCaption("y");
  EXPECT_EQ(first, 2);
  EXPECT_EQ(second, 0);
}

}  // namespace
}  // namespace host
