// The data grid's user actions and their event order: column exit that can refuse, key filters,
// typing through masks and sizes, read-only rules, leaving new rows, cancel and delete.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/controls/DBGrid.h"
#include "host/controls/Form.h"
#include "host/controls/GridUtils.h"
#include "host/controls/Panel.h"
#include "host/data/ClientDataSet.h"
#include "host/data/DataSource.h"
#include "host/services/HostLib.h"
#include "host/services/ScriptedHost.h"

namespace host {
namespace {

class GridTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cds = form.Create<TClientDataSet>("cds");
    code = cds->AddField("CODE", 4);
    code->EditMask = ">aaaa;0; ";
    code->DisplayLabel = "Código";
    name = cds->AddField("NAME", 10);
    city = cds->AddField("CITY", 8);
    key = cds->AddField("KEY", 5);
    key->Visible = false;
    cds->SetData(Variant::MakeDataPacket(
        R"({"fields":[{"name":"CODE","size":4},{"name":"NAME","size":10},{"name":"CITY","size":8},)"
        R"({"name":"KEY","size":5}],"rows":[["A1","Ana","Rio","k1"],["B2","Bia","Natal","k2"],["C3","Caio","Belem","k3"]]})"));
    dts = form.Create<TDataSource>("dts");
    dts->SetDataSet(cds);
    grid = form.Create<TDBGrid>("dbg");
    grid->SetParent(&form);
    grid->SetDataSource(dts);
    SetHostServices(&host);
  }
  void TearDown() override { SetHostServices(nullptr); }

  void Type(const std::string& text) {
    for (char c : text) grid->TypeChar(c);
  }

  ScriptedHost host;
  TForm form;
  TClientDataSet* cds = nullptr;
  TField* code = nullptr;
  TField* name = nullptr;
  TField* city = nullptr;
  TField* key = nullptr;
  TDataSource* dts = nullptr;
  TDBGrid* grid = nullptr;
};

TEST_F(GridTest, HiddenFieldsNeverBecomeColumns) {
  ASSERT_EQ(grid->ColumnCount(), 3);
  EXPECT_EQ(grid->Columns()[0]->FieldName(), "CODE");
  EXPECT_EQ(grid->Columns()[0]->TitleText(), "Código");
  EXPECT_EQ(grid->Columns()[1]->TitleText(), "NAME");

  grid->AddColumn("KEY");
  grid->AddColumn("NAME")->Title.Caption = "Nome";
  ASSERT_EQ(grid->ColumnCount(), 1) << "a declared column on a hidden field is not shown";
  EXPECT_EQ(grid->Columns()[0]->TitleText(), "Nome");
  EXPECT_EQ(IndiceCol(grid, "name"), 0);
  EXPECT_EQ(IndiceCol(grid, "KEY"), -1);
  EXPECT_EQ(GridText(grid, "NAME"), "Ana");
  EXPECT_EQ(GridText(grid, "CITY"), "");
}

TEST_F(GridTest, DefaultColumnsKeepTheirSettingsAcrossReloads) {
  grid->Columns()[0]->SetButtonStyle(TColumnButtonStyle::cbsEllipsis);
  cds->SetData(cds->Data());
  EXPECT_EQ(grid->Columns()[0]->ButtonStyle(), TColumnButtonStyle::cbsEllipsis);
}

TEST_F(GridTest, ColumnExitRunsOnTheOldColumnAndMayRefuse) {
  std::vector<int> seen;
  bool refuse = true;
  grid->OnColExit = [&](TObject*) {
    seen.push_back(grid->SelectedIndex());
    if (refuse) Abort();
  };
  EXPECT_THROW(grid->SetSelectedIndex(1), EAbort);
  EXPECT_EQ(grid->SelectedIndex(), 0);
  refuse = false;
  grid->SetSelectedIndex(1);
  EXPECT_EQ(grid->SelectedIndex(), 1);
  EXPECT_EQ(grid->SelectedField(), name);
  EXPECT_EQ(seen, (std::vector<int>{0, 0}));
  EXPECT_THROW(grid->SetSelectedIndex(3), EPlatformError);
}

TEST_F(GridTest, AColumnChosenInsideColumnExitWinsWithoutASecondExit) {
  grid->SetSelectedIndex(2);
  int exits = 0;
  grid->OnColExit = [&](TObject*) {
    ++exits;
    grid->SetSelectedField(code);  // a validation putting the cursor back on the code column
  };
  grid->SetSelectedIndex(1);
  EXPECT_EQ(exits, 1);
  EXPECT_EQ(grid->SelectedIndex(), 0);
}

TEST_F(GridTest, KeyPressHandlerCanDropACharacter) {
  grid->Append();
  grid->OnKeyPress = [](TObject*, char& k) {
    if (k != static_cast<char>(VK_BACK) && (k < '0' || k > '9')) k = 0;
  };
  grid->SetSelectedIndex(1);
  Type("1a2-3");
  EXPECT_EQ(name->AsString(), "123");
  grid->TypeChar(static_cast<char>(VK_BACK));
  EXPECT_EQ(name->AsString(), "12");
}

TEST_F(GridTest, TypingGoesThroughTheMaskAndTheFieldSize) {
  grid->Append();
  Type("ab1xy");
  EXPECT_EQ(code->AsString(), "AB1X") << "upper case, four positions, a fifth refused";
  Type("-");
  EXPECT_EQ(code->AsString(), "AB1X");
  grid->TypeChar(static_cast<char>(VK_BACK));
  EXPECT_EQ(code->AsString(), "AB1");

  grid->SetSelectedIndex(1);
  Type("abcdefghijkl");
  EXPECT_EQ(name->AsString(), "abcdefghij");
}

TEST_F(GridTest, NonAsciiCharactersArriveWholeOrNotAtAll) {
  grid->Append();
  grid->SetSelectedIndex(1);
  EXPECT_FALSE(grid->TypeChar(static_cast<char>(0xC3))) << "half a character never reaches the field";
  EXPECT_TRUE(grid->TypeText("J"));
  EXPECT_TRUE(grid->TypeText("ã"));
  EXPECT_EQ(name->AsString(), "Jã");
  grid->TypeChar(static_cast<char>(VK_BACK));
  EXPECT_EQ(name->AsString(), "J");
  grid->SetSelectedIndex(0);
  EXPECT_FALSE(grid->TypeText("ç")) << "masks take ASCII only";
  EXPECT_THROW(grid->TypeText("ab"), EPlatformError);
  EXPECT_THROW(grid->TypeText("\xC3"), EPlatformError);
  grid->OnKeyPress = [](TObject*, char& k) { k = 0; };
  grid->SetSelectedIndex(1);
  EXPECT_FALSE(grid->TypeText("é"));
  EXPECT_EQ(name->AsString(), "J");
}

TEST_F(GridTest, ReadOnlySettingsIgnoreTyping) {
  grid->Append();
  grid->SetSelectedIndex(1);
  grid->SetReadOnly(true);
  EXPECT_FALSE(grid->TypeChar('x'));
  grid->SetReadOnly(false);
  grid->Columns()[1]->SetReadOnly(true);
  EXPECT_FALSE(grid->TypeChar('x'));
  grid->Columns()[1]->SetReadOnly(false);
  name->ReadOnly = true;
  EXPECT_FALSE(grid->TypeChar('x'));
  name->ReadOnly = false;
  TDBGridOptions options = grid->Options();
  options.Exclude(dgEditing);
  grid->SetOptions(options);
  EXPECT_FALSE(grid->TypeChar('x'));
  EXPECT_EQ(name->AsString(), "");
  options.Include(dgEditing);
  grid->SetOptions(options);
  EXPECT_TRUE(grid->TypeChar('x'));
}

TEST_F(GridTest, BeforeEditRefusalIsSwallowedAndTheStoredRowStays) {
  cds->BeforeEdit = [](TDataSet*) { Abort(); };
  grid->SetSelectedIndex(1);
  EXPECT_NO_THROW(EXPECT_FALSE(grid->TypeChar('x')));
  EXPECT_EQ(name->AsString(), "Ana");
  EXPECT_EQ(cds->State(), TDataSetState::dsBrowse);

  cds->BeforeEdit = [](TDataSet*) { throw EPlatformError("broken"); };
  EXPECT_THROW(grid->TypeChar('x'), EPlatformError) << "only the silent abort is swallowed";
}

TEST_F(GridTest, LeavingAnUntouchedNewRowCancelsIt) {
  cds->SetRecNo(2);
  grid->KeyDown(VK_INSERT);
  ASSERT_EQ(cds->State(), TDataSetState::dsInsert);
  ASSERT_EQ(cds->RecordCount(), 4);
  EXPECT_TRUE(grid->MoveToRow(4));  // the row showing "C3"
  EXPECT_EQ(cds->State(), TDataSetState::dsBrowse);
  EXPECT_EQ(cds->RecordCount(), 3);
  EXPECT_EQ(code->AsString(), "C3") << "the target row is the one the user chose";
  EXPECT_EQ(cds->ChangeCount(), 0);
}

TEST_F(GridTest, LeavingATypedNewRowPostsIt) {
  grid->Append();
  Type("d4");
  EXPECT_TRUE(grid->MoveToRow(1));
  EXPECT_EQ(cds->RecordCount(), 4);
  EXPECT_EQ(cds->ChangeCount(), 1);
  EXPECT_EQ(code->AsString(), "A1");
  EXPECT_EQ(DescribeChanges(*cds), "insert(D4,,,)");
}

TEST_F(GridTest, RefusedPostKeepsTheGridOnTheNewRow) {
  cds->BeforePost = [](TDataSet*) { Abort(); };
  grid->Append();
  Type("d4");
  EXPECT_THROW(grid->MoveToRow(1), EAbort);
  EXPECT_EQ(cds->State(), TDataSetState::dsInsert);
  EXPECT_EQ(code->AsString(), "D4");
}

TEST_F(GridTest, EscapeCancelsTheInsertion) {
  grid->Append();
  Type("zz");
  grid->KeyDown(VK_ESCAPE);
  EXPECT_EQ(cds->State(), TDataSetState::dsBrowse);
  EXPECT_EQ(cds->RecordCount(), 3);
  EXPECT_FALSE(grid->Escape());
}

TEST_F(GridTest, DownOnTheLastRowAppendsOnce) {
  cds->Last();
  grid->KeyDown(VK_DOWN);
  EXPECT_EQ(cds->State(), TDataSetState::dsInsert);
  EXPECT_EQ(cds->RecordCount(), 4);
  grid->KeyDown(VK_DOWN);
  EXPECT_EQ(cds->RecordCount(), 4) << "an untouched new row does not append another";
  grid->KeyDown(VK_UP);
  EXPECT_EQ(cds->RecordCount(), 3);
  EXPECT_EQ(cds->RecNo(), 3);
}

TEST_F(GridTest, ANewRowFromTheGridsOwnKeysStartsInTheCodeColumn) {
  // The column exit of the column left runs while the list is still browsing.
  std::vector<std::string> exits;
  grid->OnColExit = [&](TObject*) {
    exits.push_back(std::string(DataSetStateName(cds->State())) + "@" + std::to_string(grid->SelectedIndex()));
  };
  grid->SetSelectedIndex(1);
  grid->KeyDown(VK_INSERT);
  EXPECT_EQ(grid->SelectedIndex(), 0);
  Type("ab");
  EXPECT_EQ(code->AsString(), "AB") << "typed digits reach the code, not the read-only name";
  grid->SetSelectedIndex(2);
  grid->Escape();
  cds->Last();
  grid->KeyDown(VK_DOWN);  // past the last row: a new one
  EXPECT_EQ(cds->State(), TDataSetState::dsInsert);
  EXPECT_EQ(grid->SelectedIndex(), 0);
  EXPECT_EQ(exits, (std::vector<std::string>{"dsBrowse@0", "dsBrowse@1", "dsInsert@0", "dsBrowse@2"}));
}

TEST_F(GridTest, DeleteAsksFirstAndDeletesOnYesOnly) {
  host.QueueAnswer(false);
  EXPECT_FALSE(grid->DeleteWithConfirm());
  EXPECT_EQ(cds->RecordCount(), 3);
  host.QueueAnswer(true);
  grid->KeyDown(VK_DELETE, TShiftState{false, false, true});
  EXPECT_EQ(cds->RecordCount(), 2);
  EXPECT_EQ(host.Log(), (std::vector<std::string>{"question: Excluir registro? -> no",
                                                  "question: Excluir registro? -> yes"}));
  grid->SetReadOnly(true);
  EXPECT_FALSE(grid->DeleteWithConfirm());
  EXPECT_EQ(host.Log().size(), 2u);
}

TEST_F(GridTest, TabWalksTheColumnsThenTheRows) {
  int exits = 0;
  grid->OnColExit = [&](TObject*) { ++exits; };
  grid->KeyDown(VK_TAB);
  grid->KeyDown(VK_TAB);
  EXPECT_EQ(grid->SelectedIndex(), 2);
  grid->KeyDown(VK_TAB);
  EXPECT_EQ(grid->SelectedIndex(), 0);
  EXPECT_EQ(cds->RecNo(), 2);
  grid->KeyDown(VK_TAB, TShiftState{true, false, false});
  EXPECT_EQ(grid->SelectedIndex(), 2);
  EXPECT_EQ(cds->RecNo(), 1);
  EXPECT_EQ(exits, 4);
}

TEST_F(GridTest, KeyDownHandlerSeesTheKeyFirst) {
  grid->OnKeyDown = [](TObject*, int& k, TShiftState) {
    if (k == VK_RETURN) k = VK_TAB;
    else if (k == VK_ESCAPE) k = 0;
  };
  grid->KeyDown(VK_RETURN);
  EXPECT_EQ(grid->SelectedIndex(), 1);
  grid->Append();
  grid->KeyDown(VK_ESCAPE);
  EXPECT_EQ(cds->State(), TDataSetState::dsInsert) << "a consumed key does nothing";
}

TEST_F(GridTest, EllipsisRunsOnlyOnAnEllipsisColumn) {
  int clicks = 0;
  grid->OnEditButtonClick = [&](TObject*) { ++clicks; };
  EXPECT_FALSE(grid->ClickEllipsis());
  grid->Columns()[0]->SetButtonStyle(TColumnButtonStyle::cbsEllipsis);
  EXPECT_TRUE(grid->ClickEllipsis());
  grid->SetSelectedIndex(1);
  EXPECT_FALSE(grid->ClickEllipsis());
  EXPECT_EQ(clicks, 1);
}

TEST_F(GridTest, FocusingAFieldSelectsItsColumnAndFocusesTheGrid) {
  auto* other = form.Create<TDBGrid>("other");
  other->SetParent(&form);
  other->SetFocus();
  int exits = 0;
  grid->OnColExit = [&](TObject*) { ++exits; };
  city->FocusControl();
  EXPECT_EQ(grid->SelectedField(), city);
  EXPECT_EQ(form.ActiveControl(), grid);
  EXPECT_EQ(exits, 1);
}

TEST_F(GridTest, CancelOnExitDropsAnUntouchedRowBeforeOnExit) {
  auto* other = form.Create<TPanel>("pan");
  other->SetParent(&form);
  grid->SetFocus();
  grid->Append();
  TDataSetState seen = TDataSetState::dsInactive;
  grid->OnExit = [&](TObject*) { seen = cds->State(); };
  other->SetFocus();
  EXPECT_EQ(seen, TDataSetState::dsBrowse);
  EXPECT_EQ(cds->RecordCount(), 3);

  TDBGridOptions options = grid->Options();
  options.Exclude(dgCancelOnExit);
  grid->SetOptions(options);
  grid->SetFocus();
  grid->Append();
  other->SetFocus();
  EXPECT_EQ(seen, TDataSetState::dsInsert) << "without the option the new row waits for the screen";
}

TEST_F(GridTest, CellTextGoesThroughTheFieldTextEvent) {
  name->OnGetText = [](TField* f, std::string& text, bool display) {
    text = display ? "<" + f->AsString() + ">" : f->AsString();
  };
  int scrolls = 0;
  cds->AfterScroll = [&](TDataSet*) { ++scrolls; };
  EXPECT_EQ(grid->CellText(1, 1), "<Ana>");
  EXPECT_EQ(grid->CellText(3, 1), "<Caio>") << "other rows are read without moving";
  EXPECT_EQ(scrolls, 0);
  EXPECT_EQ(cds->RecNo(), 1);
  EXPECT_EQ(name->AsString(), "Ana");
  EXPECT_EQ(grid->CellText(4, 1), "");
  EXPECT_EQ(GridText(grid, "NAME", true), "<Ana>");
  EXPECT_EQ(GridText(grid, "NAME"), "Ana");
  EXPECT_THROW(grid->CellText(1, 7), EPlatformError);
}

TEST_F(GridTest, ObserversFollowTheData) {
  std::vector<std::string> seen;
  grid->Subscribe([&](const std::string& p) { seen.push_back(p); });
  cds->Next();
  EXPECT_NE(std::find(seen.begin(), seen.end(), "Row"), seen.end());
  seen.clear();
  grid->Append();
  EXPECT_NE(std::find(seen.begin(), seen.end(), "State"), seen.end());
}

}  // namespace
}  // namespace host
