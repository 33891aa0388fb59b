// Form creation through the application, closing, the screen's cursor and active form, and the
// buttons and menu entries that ignore presses while disabled.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "host/controls/Application.h"
#include "host/controls/ButtonFlat.h"
#include "host/controls/MainMenu.h"
#include "host/controls/MenuItem.h"
#include "host/controls/Screen.h"

namespace host {
namespace {

// A screen whose second phase reads the reference the application stored, and may fail.
struct ProbeForm : TForm {
  explicit ProbeForm(TComponent* owner) : TForm(owner) { ++alive; }
  ~ProbeForm() override { --alive; }
  void Initialize() override {
    seenReference = reference == this;
    if (fail) throw std::runtime_error("creation failed");
    DoCreate();
  }
  static inline ProbeForm* reference = nullptr;
  static inline bool fail = false;
  static inline int alive = 0;
  bool seenReference = false;
};

class ApplicationTest : public ::testing::Test {
 protected:
  void TearDown() override {
    Application().DestroyForms();
    ProbeForm::reference = nullptr;
    ProbeForm::fail = false;
  }
};

TEST_F(ApplicationTest, CreateFormStoresTheReferenceBeforeTheSecondPhase) {
  Application().CreateForm(ProbeForm::reference);
  ASSERT_NE(ProbeForm::reference, nullptr);
  EXPECT_TRUE(ProbeForm::reference->seenReference);
  EXPECT_EQ(ProbeForm::reference->Owner(), &Application());
  EXPECT_EQ(Application().Forms().size(), 1u);
}

TEST_F(ApplicationTest, FailedCreationDestroysTheFormAndResetsTheReference) {
  ProbeForm::fail = true;
  EXPECT_THROW(Application().CreateForm(ProbeForm::reference), std::runtime_error);
  EXPECT_EQ(ProbeForm::reference, nullptr);
  EXPECT_EQ(ProbeForm::alive, 0);
  EXPECT_TRUE(Application().Forms().empty());
}

TEST_F(ApplicationTest, CloseActionsDecideWhatHappensToTheForm) {
  Application().CreateForm(ProbeForm::reference);
  ProbeForm* form = ProbeForm::reference;
  form->Show();
  EXPECT_EQ(Screen().ActiveForm(), form);

  form->Close();  // no handler: hidden
  EXPECT_FALSE(form->Visible());

  form->Show();
  form->OnClose = [](TObject*, TCloseAction& a) { a = TCloseAction::caNone; };
  form->Close();
  EXPECT_TRUE(form->Visible());

  form->OnClose = [](TObject*, TCloseAction& a) { a = TCloseAction::caMinimize; };
  form->Close();
  EXPECT_EQ(form->WindowState(), TWindowState::wsMinimized);

  form->OnClose = [](TObject*, TCloseAction& a) { a = TCloseAction::caFree; };
  form->Close();
  EXPECT_EQ(ProbeForm::alive, 1) << "a form freeing itself is destroyed later, not inside Close";
  Application().ProcessReleased();
  EXPECT_EQ(ProbeForm::alive, 0);
  EXPECT_EQ(Screen().ActiveForm(), nullptr);
}

TEST_F(ApplicationTest, ShowBringsTheFormToTheFrontEveryTime) {
  Application().CreateForm(ProbeForm::reference);
  int fronts = 0;
  ProbeForm::reference->Subscribe([&](const std::string& p) { fronts += p == "BringToFront"; });
  ProbeForm::reference->Show();
  ProbeForm::reference->Show();
  EXPECT_EQ(fronts, 2);
}

TEST(ScreenTest, CursorChangesAreAnnounced) {
  std::vector<int> cursors;
  const int id = Screen().Subscribe([&](const std::string& p) {
    if (p == "Cursor") cursors.push_back(Screen().Cursor());
  });
  Screen().SetCursor(crHourGlass);
  Screen().SetCursor(crHourGlass);
  Screen().SetCursor(crDefault);
  Screen().Unsubscribe(id);
  EXPECT_EQ(cursors, (std::vector<int>{crHourGlass, crDefault}));
}

TEST(ClickTest, DisabledOrHiddenButtonsAndMenuEntriesIgnoreClicks) {
  int clicks = 0;
  TButtonFlat button("sbt");
  button.OnClick = [&](TObject*) { ++clicks; };
  EXPECT_TRUE(button.Click());
  button.SetEnabled(false);
  EXPECT_FALSE(button.Click());
  button.SetEnabled(true);
  button.SetVisible(false);
  EXPECT_FALSE(button.Click());

  TMenuItem item("mnu");
  item.OnClick = [&](TObject*) { ++clicks; };
  EXPECT_TRUE(item.Click());
  item.SetEnabled(false);
  EXPECT_FALSE(item.Click());
  EXPECT_EQ(clicks, 2);
}

TEST(MenuTest, EntriesMoveBetweenMenusAndForgetDestroyedOnes) {
  TMainMenu menu("mnuMenu");
  TMenuItem top("mnuOperacao");
  menu.Add(&top);
  {
    TMenuItem entry("mnuIncluir");
    top.Add(&entry);
    EXPECT_EQ(entry.ParentItem(), &top);
    EXPECT_THROW(entry.Add(&top), EPlatformError);
    EXPECT_EQ(top.Items().size(), 1u);
  }
  EXPECT_TRUE(top.Items().empty());
  EXPECT_EQ(menu.Items().size(), 1u);
}

}  // namespace
}  // namespace host
