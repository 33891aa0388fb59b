// The tab strip: the user's press runs mouse-down first and changes only to enabled pages; the
// program's page change runs no OnChange.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/controls/DBGrid.h"
#include "host/controls/Form.h"
#include "host/controls/PageControl.h"
#include "host/controls/TabSheet.h"

namespace host {
namespace {

class PageControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    grid = form.Create<TDBGrid>("dbg");
    grid->SetParent(&form);
    pages = form.Create<TPageControl>("pgc");
    pages->SetParent(&form);
    for (const char* name : {"tshA", "tshB", "tshC"}) {
      auto* sheet = form.Create<TTabSheet>(name);
      sheet->SetParent(pages);
      sheets.push_back(sheet);
    }
    pages->OnMouseDown = [this](TObject*, TMouseButton, TShiftState, int, int) {
      log.push_back("mousedown active=" + pages->ActivePage()->Name() + " focus=" + form.ActiveControl()->Name());
    };
    pages->OnChange = [this](TObject*) { log.push_back("change " + pages->ActivePage()->Name()); };
  }

  TForm form;
  TDBGrid* grid = nullptr;
  TPageControl* pages = nullptr;
  std::vector<TTabSheet*> sheets;
  std::vector<std::string> log;
};

TEST_F(PageControlTest, FirstPageIsActiveAndPagesKeepTheirOrder) {
  EXPECT_EQ(pages->ActivePage(), sheets[0]);
  EXPECT_EQ(sheets[2]->PageIndex(), 2);
  sheets[2]->SetPageIndex(0);
  EXPECT_EQ(pages->Pages().front(), sheets[2]);
  EXPECT_EQ(sheets[0]->PageIndex(), 1);
}

TEST_F(PageControlTest, PressOnADisabledPageRunsMouseDownButKeepsThePage) {
  grid->SetFocus();
  sheets[1]->SetEnabled(false);
  EXPECT_FALSE(pages->PressTab(sheets[1]));
  EXPECT_EQ(pages->ActivePage(), sheets[0]);
  EXPECT_EQ(log, (std::vector<std::string>{"mousedown active=tshA focus=pgc"}));
}

TEST_F(PageControlTest, PressOnAnEnabledPageChangesItAfterMouseDown) {
  EXPECT_TRUE(pages->PressTab(sheets[2]));
  EXPECT_EQ(pages->ActivePage(), sheets[2]);
  EXPECT_EQ(log, (std::vector<std::string>{"mousedown active=tshA focus=pgc", "change tshC"}));
}

TEST_F(PageControlTest, ARefusedExitStopsThePress) {
  grid->SetFocus();
  grid->OnExit = [](TObject*) { Abort(); };
  EXPECT_THROW(pages->PressTab(sheets[1]), EAbort);
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(pages->ActivePage(), sheets[0]);
  EXPECT_EQ(form.ActiveControl(), grid);
}

TEST_F(PageControlTest, ProgrammaticChangeRunsNoOnChange) {
  pages->SetActivePage(sheets[1]);
  EXPECT_EQ(pages->ActivePage(), sheets[1]);
  EXPECT_TRUE(log.empty());
  TTabSheet stray("stray");
  EXPECT_THROW(pages->SetActivePage(&stray), EPlatformError);
  EXPECT_THROW(pages->PressTab(nullptr), EPlatformError);
}

TEST_F(PageControlTest, RemovingTheActivePageActivatesANeighbour) {
  pages->SetActivePage(sheets[2]);
  sheets[2]->SetParent(nullptr);
  EXPECT_EQ(pages->ActivePage(), sheets[1]);
  EXPECT_EQ(pages->PageCount(), 2);
}

}  // namespace
}  // namespace host
