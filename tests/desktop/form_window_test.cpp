// The screen window drawn from headless control models: grids show every row through the
// fields' texts and send keys and clicks to the grid model, refusals (column exit, focus exit)
// are the model's and the widgets follow them, tab presses go to the page control, toolbar
// buttons, menus, splitter and close follow their models.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QMdiArea>
#include <QMenuBar>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <span>
#include <string_view>

#include "desktop/FocusLog.h"
#include "desktop/FormWindow.h"
#include "desktop/GridTableModel.h"
#include "desktop/GridView.h"
#include "desktop/MenuMirror.h"
#include "desktop/PageControlView.h"
#include "desktop/QtHostServices.h"
#include "desktop/SplitterView.h"
#include "desktop/Subscription.h"
#include "desktop/TabStrip.h"
#include "host/controls/ButtonFlat.h"
#include "host/controls/Column.h"
#include "host/controls/DBGrid.h"
#include "host/controls/Form.h"
#include "host/controls/MainMenu.h"
#include "host/controls/MenuItem.h"
#include "host/controls/PageControl.h"
#include "host/controls/Panel.h"
#include "host/controls/Splitter.h"
#include "host/controls/TabSheet.h"
#include "host/data/ClientDataSet.h"
#include "host/data/DataSource.h"
#include "host/services/HostLib.h"
#include "tests/desktop/DialogAnswers.h"

namespace {

using desktoptest::DialogAnswers;

// A small screen: a toolbar button, a grid over products at the top, a splitter, and a page
// control with two pages, each with a grid over its own list.
class FormWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    services_.Install();
    form_.SetName("frmTeste");
    form_.SetCaption("Tela de teste");
    form_.SetFormStyle(host::TFormStyle::fsMDIChild);
    form_.SetWidth(559);
    form_.SetHeight(491);

    button_ = form_.Create<host::TButtonFlat>("sbtIncluir");
    button_->SetParent(&form_);
    button_->SetAlign(host::TAlign::alNone);
    button_->SetLeft(5);
    button_->SetWidth(20);
    button_->SetHeight(20);

    products_ = MakeList("cdsProduto", {"CDARVPROD", "NMPRODUTO"},
                         {{"1001", "Açúcar cristal"}, {"1002", "Café torrado"}, {"1003", "Feijão"}});
    productGrid_ = MakeGrid("dbgPadrao", products_, &form_);
    productGrid_->SetAlign(host::TAlign::alTop);
    productGrid_->SetTop(30);
    productGrid_->SetHeight(120);

    splitter_ = form_.Create<host::TSplitter>("Splitter1");
    splitter_->SetParent(&form_);
    splitter_->SetAlign(host::TAlign::alTop);
    splitter_->SetTop(200);
    splitter_->SetHeight(4);
    splitter_->SetResizeStyle(host::TResizeStyle::rsUpdate);

    pages_ = form_.Create<host::TPageControl>("pgcGrade");
    pages_->SetParent(&form_);
    pages_->SetAlign(host::TAlign::alClient);
    first_ = form_.Create<host::TTabSheet>("tshFornecedor");
    first_->SetCaption("Fornecedor");
    first_->SetParent(pages_);
    second_ = form_.Create<host::TTabSheet>("tshCliente");
    second_->SetCaption("Cliente");
    second_->SetParent(pages_);
    suppliers_ = MakeList("cdsFornecedor", {"NRINSJURFORN", "NMRAZSOCFORN"},
                          {{"11222333000181", "Ávila Comércio"}});
    supplierGrid_ = MakeGrid("dbgFornecedor", suppliers_, first_);
    supplierGrid_->SetAlign(host::TAlign::alClient);
    clients_ = MakeList("cdsCliente", {"NRINSJURCLIE", "NMRAZSOCCLIE"}, {{"12345678909", "Bruno"}});
    clientGrid_ = MakeGrid("dbgCliente", clients_, second_);
    clientGrid_->SetAlign(host::TAlign::alClient);

    menu_ = form_.Create<host::TMainMenu>("mnuMenu");
    operation_ = form_.Create<host::TMenuItem>("mnuOperacao");
    operation_->SetCaption("&Operação");
    menu_->Add(operation_);
    insertEntry_ = form_.Create<host::TMenuItem>("mnuIncluir");
    insertEntry_->SetCaption("&Incluir");
    operation_->Add(insertEntry_);
    hiddenEntry_ = form_.Create<host::TMenuItem>("mnuListagem");
    hiddenEntry_->SetCaption("&Listagem");
    hiddenEntry_->SetVisible(false);
    operation_->Add(hiddenEntry_);
    form_.SetMenu(menu_);

    area_.resize(900, 700);
    area_.show();
    services_.SetMainWindow(&area_);  // dialogs belong to it and give it the keys back
    window_ = new desktop::FormWindow(form_, &bar_, nullptr);
    // The main window holds the form's observer and hands its changes on; so does this fixture.
    formSub_ = desktop::Subscription(form_, [this](const std::string& p) { window_->OnFormModel(p); });
    area_.addSubWindow(window_);
    window_->ShowPlaced();
    area_.setActiveSubWindow(window_);
    QApplication::setActiveWindow(&area_);
    QCoreApplication::processEvents();
  }

  void TearDown() override {
    services_.SetMainWindow(nullptr);
    formSub_.Reset();
    window_->Detach(true);
    delete window_;
  }

  host::TClientDataSet* MakeList(const std::string& name, std::vector<std::string> fields,
                                 std::vector<std::vector<std::string_view>> rows) {
    auto* ds = form_.Create<host::TClientDataSet>(name);
    for (const std::string& f : fields) ds->AddField(f, 40)->DisplayLabel = f.substr(0, 2) == "NM" ? "Nome" : "Código";
    ds->BeginLoad();
    for (const auto& r : rows) ds->LoadRow(std::span<const std::string_view>(r.data(), r.size()));
    ds->EndLoad();
    return ds;
  }

  host::TDBGrid* MakeGrid(const std::string& name, host::TClientDataSet* ds, host::TControl* parent) {
    auto* source = form_.Create<host::TDataSource>("dts" + name.substr(3));
    source->SetDataSet(ds);
    auto* grid = form_.Create<host::TDBGrid>(name);
    grid->SetParent(parent);
    grid->SetDataSource(source);
    return grid;
  }

  desktop::GridView* View(const std::string& name) { return window_->Grid(name); }
  // Keys go to the widget holding the keyboard focus, as the user's do; a lost focus fails.
  static QWidget* Focused() {
    QCoreApplication::processEvents();  // a closed dialog's window activation arrives
    QWidget* w = QApplication::focusWidget();
    EXPECT_NE(w, nullptr) << "no widget has the keyboard focus";
    return w;
  }

  desktop::QtHostServices services_{desktop::DesktopSettings{}};
  host::TForm form_;
  host::TButtonFlat* button_ = nullptr;
  host::TClientDataSet* products_ = nullptr;
  host::TClientDataSet* suppliers_ = nullptr;
  host::TClientDataSet* clients_ = nullptr;
  host::TDBGrid* productGrid_ = nullptr;
  host::TDBGrid* supplierGrid_ = nullptr;
  host::TDBGrid* clientGrid_ = nullptr;
  host::TSplitter* splitter_ = nullptr;
  host::TPageControl* pages_ = nullptr;
  host::TTabSheet* first_ = nullptr;
  host::TTabSheet* second_ = nullptr;
  host::TMainMenu* menu_ = nullptr;
  host::TMenuItem* operation_ = nullptr;
  host::TMenuItem* insertEntry_ = nullptr;
  host::TMenuItem* hiddenEntry_ = nullptr;
  QMdiArea area_;
  QMenuBar bar_;
  desktop::FormWindow* window_ = nullptr;
  desktop::Subscription formSub_;
};

TEST_F(FormWindowTest, WindowFollowsTheFormsCaptionAndBounds) {
  EXPECT_EQ(window_->windowTitle(), QStringLiteral("Tela de teste"));
  EXPECT_EQ(window_->width(), 559);
  EXPECT_EQ(window_->height(), 491);
  form_.SetCaption("Outra");
  EXPECT_EQ(window_->windowTitle(), QStringLiteral("Outra"));
  // The user's resize goes back into the model.
  window_->resize(600, 500);
  EXPECT_EQ(form_.Width(), 600);
}

TEST_F(FormWindowTest, GridShowsEveryRowWithoutMovingTheCursorOrRunningScrollEvents) {
  int scrolls = 0;
  products_->AfterScroll = [&](host::TDataSet*) { ++scrolls; };
  products_->SetRecNo(2);
  scrolls = 0;
  desktop::GridTableModel* model = View("dbgPadrao")->Adapter();
  ASSERT_EQ(model->rowCount(), 3);
  ASSERT_EQ(model->columnCount(), 2);
  EXPECT_EQ(model->data(model->index(0, 1)).toString(), QStringLiteral("Açúcar cristal"));
  EXPECT_EQ(model->data(model->index(2, 0)).toString(), QStringLiteral("1003"));
  EXPECT_EQ(model->headerData(1, Qt::Vertical).toString(), QStringLiteral("▶"));
  EXPECT_EQ(products_->RecNo(), 2);
  EXPECT_EQ(scrolls, 0);
  EXPECT_EQ(View("dbgPadrao")->currentIndex().row(), 1);
}

TEST_F(FormWindowTest, TypedCharactersGoThroughTheGridsKeyPressRule) {
  supplierGrid_->OnKeyPress = [](host::TObject*, char& key) {
    if (key != 8 && (key < '0' || key > '9')) key = 0;
  };
  ASSERT_TRUE(window_->RequestFocus(supplierGrid_));
  suppliers_->Append();
  ASSERT_EQ(Focused(), View("dbgFornecedor"));
  QTest::keyClicks(Focused(), "12.3a4/5");
  EXPECT_EQ(suppliers_->FieldByName("NRINSJURFORN")->AsString(), "12345");
  QTest::keyClick(Focused(), Qt::Key_Backspace);
  EXPECT_EQ(suppliers_->FieldByName("NRINSJURFORN")->AsString(), "1234");
  EXPECT_EQ(View("dbgFornecedor")->Adapter()->headerData(1, Qt::Vertical).toString(), QStringLiteral("*"));
}

TEST_F(FormWindowTest, ARefusedColumnExitKeepsTheColumnOnScreen) {
  DialogAnswers answers(services_);
  ASSERT_TRUE(window_->RequestFocus(productGrid_));
  productGrid_->OnColExit = [](host::TObject*) { host::MensErro("Produto não cadastrado."); };
  ASSERT_EQ(Focused(), View("dbgPadrao"));
  QTest::keyClick(Focused(), Qt::Key_Tab);
  EXPECT_EQ(productGrid_->SelectedIndex(), 0);
  EXPECT_EQ(View("dbgPadrao")->currentIndex().column(), 0);
  ASSERT_EQ(answers.Seen().size(), 1u);
  EXPECT_EQ(answers.Seen()[0], "Produto não cadastrado.");
  // Accepted: Tab moves to the next column.
  productGrid_->OnColExit = nullptr;
  ASSERT_EQ(Focused(), View("dbgPadrao"));  // the message box gave the focus back
  QTest::keyClick(Focused(), Qt::Key_Tab);
  EXPECT_EQ(productGrid_->SelectedIndex(), 1);
  EXPECT_EQ(View("dbgPadrao")->currentIndex().column(), 1);
}

TEST_F(FormWindowTest, ClicksMoveTheGridsCursorThroughTheModel) {
  ASSERT_TRUE(View("dbgPadrao")->ClickCell(2, 1));
  EXPECT_EQ(products_->RecNo(), 3);
  EXPECT_EQ(productGrid_->SelectedIndex(), 1);
  EXPECT_EQ(form_.ActiveControl(), productGrid_);
}

TEST_F(FormWindowTest, ARefusedFocusChangeKeepsTheFocusWhereTheModelHasIt) {
  DialogAnswers answers(services_);
  ASSERT_TRUE(window_->RequestFocus(productGrid_));
  productGrid_->OnExit = [](host::TObject*) { host::MensErro("Produto deve ser informado."); };
  EXPECT_FALSE(View("dbgFornecedor")->ClickCell(0, 0));
  EXPECT_EQ(form_.ActiveControl(), productGrid_);
  // The window's focus stays on (or is put back on) the model's active control.
  EXPECT_EQ(area_.focusWidget(), View("dbgPadrao"));
  EXPECT_EQ(answers.Seen(), std::vector<std::string>{"Produto deve ser informado."});
  // The click did not reach the other grid.
  EXPECT_EQ(suppliers_->RecNo(), 1);
}

TEST_F(FormWindowTest, FocusFollowsTheModelsActiveControl) {
  std::vector<std::string> order;
  productGrid_->OnExit = [&](host::TObject*) { order.push_back("exit dbgPadrao"); };
  first_->OnEnter = [&](host::TObject*) { order.push_back("enter tshFornecedor"); };
  supplierGrid_->OnEnter = [&](host::TObject*) { order.push_back("enter dbgFornecedor"); };
  ASSERT_TRUE(window_->RequestFocus(productGrid_));
  ASSERT_TRUE(View("dbgFornecedor")->ClickCell(0, 1));
  EXPECT_EQ(order, (std::vector<std::string>{"exit dbgPadrao", "enter tshFornecedor",
                                             "enter dbgFornecedor"}));
  EXPECT_EQ(QApplication::focusWidget(), View("dbgFornecedor"));
  // A handler moving the focus elsewhere is followed by the widgets.
  productGrid_->SetFocus();
  EXPECT_EQ(QApplication::focusWidget(), View("dbgPadrao"));
}

TEST_F(FormWindowTest, TabPressesGoToThePageControlAndDisabledPagesStay) {
  int mouseDowns = 0;
  pages_->OnMouseDown = [&](host::TObject*, host::TMouseButton, host::TShiftState, int, int) { ++mouseDowns; };
  desktop::PageControlView* view = window_->PageControl("pgcGrade");
  ASSERT_NE(view, nullptr);
  second_->SetEnabled(false);
  EXPECT_FALSE(view->Strip()->isTabEnabled(1));
  QTest::mouseClick(view->Strip(), Qt::LeftButton, {}, view->Strip()->tabRect(1).center());
  EXPECT_EQ(mouseDowns, 1);
  EXPECT_EQ(pages_->ActivePage(), first_);
  EXPECT_EQ(view->Strip()->currentIndex(), 0);
  second_->SetEnabled(true);
  QTest::mouseClick(view->Strip(), Qt::LeftButton, {}, view->Strip()->tabRect(1).center());
  EXPECT_EQ(mouseDowns, 2);
  EXPECT_EQ(pages_->ActivePage(), second_);
  EXPECT_EQ(view->Stack()->currentWidget(), window_->WidgetOf(second_));
  // The program's page change is drawn too.
  pages_->SetActivePage(first_);
  EXPECT_EQ(view->Strip()->currentIndex(), 0);
}

TEST_F(FormWindowTest, EllipsisButtonShowsWhileTheColumnAsksForItAndRunsTheRule) {
  int clicks = 0;
  productGrid_->OnEditButtonClick = [&](host::TObject*) { ++clicks; };
  desktop::GridView* view = View("dbgPadrao");
  EXPECT_FALSE(view->EllipsisButton()->isVisible());
  productGrid_->Columns()[0]->SetButtonStyle(host::TColumnButtonStyle::cbsEllipsis);
  EXPECT_TRUE(view->EllipsisButton()->isVisible());
  QTest::mouseClick(view->EllipsisButton(), Qt::LeftButton);
  EXPECT_EQ(clicks, 1);
  productGrid_->Columns()[0]->SetButtonStyle(host::TColumnButtonStyle::cbsNone);
  EXPECT_FALSE(view->EllipsisButton()->isVisible());
}

TEST_F(FormWindowTest, ToolbarButtonFollowsItsModel) {
  int clicks = 0;
  button_->OnClick = [&](host::TObject*) { ++clicks; };
  auto* tool = qobject_cast<QToolButton*>(window_->WidgetNamed("sbtIncluir"));
  ASSERT_NE(tool, nullptr);
  EXPECT_EQ(tool->toolTip(), QStringLiteral("Incluir"));
  EXPECT_FALSE(tool->icon().isNull());
  button_->SetEnabled(false);
  EXPECT_FALSE(tool->isEnabled());
  button_->SetEnabled(true);
  tool->click();
  EXPECT_EQ(clicks, 1);
  button_->SetHint("Incluir registro");
  EXPECT_EQ(tool->toolTip(), QStringLiteral("Incluir registro"));
}

TEST_F(FormWindowTest, MenuMirrorsTheEntries) {
  int clicks = 0;
  insertEntry_->OnClick = [&](host::TObject*) { ++clicks; };
  QAction* insert = window_->Menus()->ActionOf(insertEntry_);
  QAction* hidden = window_->Menus()->ActionOf(hiddenEntry_);
  ASSERT_NE(insert, nullptr);
  ASSERT_NE(hidden, nullptr);
  EXPECT_EQ(insert->text(), QStringLiteral("&Incluir\tInsert"));  // the key as clerks read it
  EXPECT_FALSE(hidden->isVisible());
  insertEntry_->SetEnabled(false);
  EXPECT_FALSE(insert->isEnabled());
  insert->trigger();  // a disabled action does not trigger
  insertEntry_->SetEnabled(true);
  insert->trigger();
  EXPECT_EQ(clicks, 1);
}

TEST_F(FormWindowTest, SplitterWritesTheNewHeightIntoTheGridAbove) {
  auto* splitter = qobject_cast<desktop::SplitterView*>(window_->WidgetNamed("Splitter1"));
  ASSERT_NE(splitter, nullptr);
  splitter->DragBy(40);
  EXPECT_EQ(productGrid_->Height(), 160);
  EXPECT_EQ(View("dbgPadrao")->height(), 160);
  splitter->DragBy(-1000);  // never below the splitter's minimum size
  EXPECT_EQ(productGrid_->Height(), splitter_->MinSize());
}

TEST_F(FormWindowTest, ClosingAsksTheForm) {
  form_.OnClose = [](host::TObject*, host::TCloseAction& action) { action = host::TCloseAction::caNone; };
  form_.SetVisible(true);
  window_->close();
  EXPECT_TRUE(form_.Visible());
  form_.OnClose = nullptr;  // default: hide
  window_->close();
  EXPECT_FALSE(form_.Visible());
}

TEST_F(FormWindowTest, ClosingWithARecordBeingInsertedAsksFirstAndNaoKeepsIt) {
  DialogAnswers answers(services_);
  const std::string question = "Há um registro em inclusão que não foi confirmado. Deseja descartá-lo?";
  form_.SetVisible(true);
  suppliers_->Append();
  ASSERT_TRUE(window_->HasPendingInsert());
  answers.Press(QStringLiteral("Não"));
  window_->close();
  EXPECT_EQ(answers.Seen(), std::vector<std::string>{question});
  EXPECT_TRUE(form_.Visible());
  EXPECT_EQ(suppliers_->State(), host::TDataSetState::dsInsert);
  // Sim: the form's own close rules run as before.
  answers.Press(QStringLiteral("Sim"));
  window_->close();
  EXPECT_FALSE(form_.Visible());
  // Nothing pending: no question.
  suppliers_->Cancel();
  form_.SetVisible(true);
  window_->close();
  EXPECT_EQ(answers.Seen().size(), 2u);
}

TEST_F(FormWindowTest, KeyboardRoutesBetweenGridsAndPagesRunTheMouseRules) {
  std::vector<std::string> order;
  int mouseDowns = 0;
  productGrid_->OnExit = [&](host::TObject*) { order.push_back("exit dbgPadrao"); };
  first_->OnEnter = [&](host::TObject*) { order.push_back("enter tshFornecedor"); };
  supplierGrid_->OnEnter = [&](host::TObject*) { order.push_back("enter dbgFornecedor"); };
  pages_->OnMouseDown = [&](host::TObject*, host::TMouseButton, host::TShiftState, int, int) { ++mouseDowns; };
  ASSERT_TRUE(window_->RequestFocus(productGrid_));
  order.clear();
  // Ctrl+Tab: the grid shown after the product grid, through its exit and enter rules.
  EXPECT_TRUE(window_->FocusNeighbourGrid(1));
  EXPECT_EQ(order, (std::vector<std::string>{"exit dbgPadrao", "enter tshFornecedor", "enter dbgFornecedor"}));
  EXPECT_EQ(QApplication::focusWidget(), View("dbgFornecedor"));
  // Ctrl+Shift+Tab: back; the client grid on the hidden page is not a stop.
  EXPECT_TRUE(window_->FocusNeighbourGrid(-1));
  EXPECT_EQ(QApplication::focusWidget(), View("dbgPadrao"));
  // A refused exit keeps the focus where the model has it.
  DialogAnswers answers(services_);
  productGrid_->OnExit = [](host::TObject*) { host::MensErro("Produto deve ser informado."); };
  EXPECT_FALSE(window_->FocusNeighbourGrid(1));
  EXPECT_EQ(form_.ActiveControl(), productGrid_);
  EXPECT_EQ(Focused(), View("dbgPadrao"));
  productGrid_->OnExit = nullptr;
  // Ctrl+PageDown / Ctrl+PageUp press the neighbour tab, wrapping; the mouse-down rule runs
  // every time and a disabled page is not chosen.
  EXPECT_TRUE(window_->PressNeighbourPage(1));
  EXPECT_EQ(pages_->ActivePage(), second_);
  EXPECT_TRUE(window_->PressNeighbourPage(1));
  EXPECT_EQ(pages_->ActivePage(), first_);
  second_->SetEnabled(false);
  EXPECT_FALSE(window_->PressNeighbourPage(-1));
  EXPECT_EQ(pages_->ActivePage(), first_);
  EXPECT_EQ(mouseDowns, 3);
}

// The focus log is read by a test driving the desktop from outside while it runs: every line must
// be in the file as soon as the focus has moved, and nothing is written unless it was opened.
TEST(FocusLogTest, EachFocusChangeIsOneLineOnDiskAtOnceAndNothingUnlessOpened) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString path = dir.filePath(QStringLiteral("focus.log"));
  const auto text = [&] {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
  };
  QWidget top;
  auto* named = new QLineEdit(&top);
  named->setObjectName(QStringLiteral("edtNome"));
  auto* unnamed = new QLineEdit(&top);
  top.show();
  QApplication::setActiveWindow(&top);
  desktop::FocusLog log;
  unnamed->setFocus();
  ASSERT_TRUE(log.Open(path.toStdString()));
  named->setFocus();
  unnamed->setFocus();
  EXPECT_EQ(text(), QStringLiteral("focus: edtNome\nfocus: QLineEdit\n"));
  log.Close();
  named->setFocus();
  EXPECT_EQ(text(), QStringLiteral("focus: edtNome\nfocus: QLineEdit\n"));
  EXPECT_FALSE(log.Open((dir.filePath(QStringLiteral("no-such-folder/focus.log"))).toStdString()));
  EXPECT_FALSE(log.IsOpen());
}

}  // namespace
