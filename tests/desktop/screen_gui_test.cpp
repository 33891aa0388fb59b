// The desktop with the real screen module against a real server process: the screen opens in the
// main window, and the user's keys, clicks, dialogs and toolbar presses go through the widgets to
// the screen, which stores rows at the server and reloads its lists.
#include <gtest/gtest.h>

#include <QApplication>
#include <QHeaderView>
#include <QSettings>
#include <QLabel>
#include <QMdiArea>
#include <QTest>
#include <QToolButton>
#include <filesystem>
#include <fstream>
#include <memory>

#include "desktop/BusyIndicator.h"
#include "desktop/CallRunner.h"
#include "desktop/ElidedLabel.h"
#include "desktop/FormWindow.h"
#include "desktop/GridTableModel.h"
#include "desktop/GridView.h"
#include "desktop/LayoutStore.h"
#include "desktop/MainWindow.h"
#include "desktop/PageControlView.h"
#include "desktop/QtHostServices.h"
#include "desktop/TabStrip.h"
#include "host/controls/Application.h"
#include "host/controls/Column.h"
#include "host/controls/DBGrid.h"
#include "host/controls/Form.h"
#include "host/controls/PageControl.h"
#include "host/controls/Screen.h"
#include "host/controls/TabSheet.h"
#include "host/data/ClientDataSet.h"
#include "host/net/NetConnection.h"
#include "tests/desktop/DialogAnswers.h"
#include "tests/desktop/ScreenDesktop.h"
#include "tests/support/Programs.h"
#include "tests/support/TestServer.h"

namespace {

using desktoptest::Desktop;
using desktoptest::DialogAnswers;
using desktoptest::SettingsFor;
using host::TDataSetState;

class ScreenGuiTest : public desktoptest::ScreenDesktopTest {
 protected:
  void Seed(testsupport::TestServer& server) override {
    const auto d = testsupport::SampleMasterData();
    server.AddSupplier("100", d.suppliers[0]);
    server.AddSupplier("100", d.suppliers[2]);
    server.AddClient("100", d.clients[0]);
    server.AddBranch("100", d.branches[0]);
    server.AddSupplier("200", d.suppliers[1]);
  }

  // Keys go to the widget holding the keyboard focus, as the user's do; a lost focus fails.
  static QWidget* Focused() {
    QWidget* w = QApplication::focusWidget();
    EXPECT_NE(w, nullptr) << "no widget has the keyboard focus";
    return w;
  }
  // Focuses the supplier grid with a click and starts a new row with the toolbar's insert.
  void StartSupplierRow() {
    ASSERT_TRUE(Grid("dbgFornecedor")->ClickCell(0, 0));
    ASSERT_TRUE(Button("sbtIncluir")->isEnabled());
    Button("sbtIncluir")->click();
    ASSERT_EQ(Model<host::TClientDataSet>("cdsFornecedor")->State(), TDataSetState::dsInsert);
    desktop_->ClearCalls();
  }
};

TEST_F(ScreenGuiTest, TheScreenOpensWithItsListsDrawnFromTheModels) {
  EXPECT_EQ(screen_->windowTitle(), QStringLiteral("Produtos para Desoneração de Impostos"));
  // At first start the screen takes the whole document area (the description's 559x491 was
  // too small a window at 1024x768, its lists behind the history panel).
  EXPECT_EQ(screen_->geometry(), desktop_->window->Area()->viewport()->rect());
  auto* code = qobject_cast<QLabel*>(screen_->WidgetNamed("lblCodTela"));
  ASSERT_NE(code, nullptr);
  EXPECT_EQ(code->text(), QStringLiteral("PDI07310"));
  EXPECT_TRUE(code->isVisible());
  // Products 100 and 200 have related rows; the first is current and its suppliers are shown,
  // numbers formatted by person type, names in a read-only column 380 wide.
  EXPECT_EQ(ColumnTexts("dbgPadrao", 0), (std::vector<std::string>{"1001", "1002"}));
  EXPECT_EQ(ColumnTexts("dbgFornecedor", 0),
            (std::vector<std::string>{"11.222.333/0001-81", "529.982.247-25"}));
  desktop::GridTableModel* suppliers = Grid("dbgFornecedor")->Adapter();
  EXPECT_EQ(suppliers->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Código"));
  EXPECT_EQ(suppliers->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Nome"));
  EXPECT_TRUE(suppliers->ColumnAt(1)->ReadOnly());
  // The name column takes the room the code column leaves: both in sight, no sideways scroll.
  desktop::GridView* supplierView = Grid("dbgFornecedor");
  EXPECT_EQ(supplierView->columnWidth(0) + supplierView->columnWidth(1), supplierView->viewport()->width());
  auto* name = qobject_cast<desktop::ElidedLabel*>(screen_->WidgetNamed("dbtNome"));
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(name->text(), QStringLiteral("Arroz Agulhinha Tipo 1"));
  EXPECT_FALSE(name->Elided());
  EXPECT_TRUE(name->toolTip().isEmpty());
  // The tab strip has the three pages; the busy animation is gone once loaded.
  desktop::PageControlView* pages = screen_->PageControl("pgcGrade");
  ASSERT_EQ(pages->Strip()->count(), 3);
  EXPECT_EQ(pages->Strip()->tabText(2), QStringLiteral("Filial"));
  EXPECT_FALSE(desktop_->services.Busy()->Running());
  EXPECT_EQ(desktop_->Calls(), (std::vector<std::string>{"getVersaoListas", "getDados"}));
  // Moving in the product grid follows the product: its suppliers and its name.
  ASSERT_TRUE(Grid("dbgPadrao")->ClickCell(1, 0));
  EXPECT_EQ(ColumnTexts("dbgFornecedor", 0), (std::vector<std::string>{"45.723.174/0001-10"}));
  EXPECT_EQ(name->text(), QStringLiteral("Feijão Carioca"));
}

TEST_F(ScreenGuiTest, ASupplierTypedWithTheKeyboardIsStoredAndTheListReloaded) {
  StartSupplierRow();
  desktop::GridView* grid = Grid("dbgFornecedor");
  EXPECT_TRUE(grid->EllipsisButton()->isVisible());
  Settle();
  ASSERT_EQ(Focused(), grid);  // the toolbar's insert left the keys where they were
  QTest::keyClicks(Focused(), "45.723.174/0001-10");  // the key filter keeps the digits
  auto* list = Model<host::TClientDataSet>("cdsFornecedor");
  EXPECT_EQ(list->FieldByName("NRINSJURFORN")->AsString(), "45723174000110");
  QTest::keyClick(Focused(), Qt::Key_Tab);  // leaving the column validates it
  EXPECT_TRUE(list->FieldByName("NMRAZSOCFORN")->AsString().starts_with("Comércio de Alimentos"));
  EXPECT_EQ(Model<host::TDBGrid>("dbgFornecedor")->SelectedIndex(), 1);
  ASSERT_TRUE(Grid("dbgPadrao")->ClickCell(0, 0));  // leaving the grid stores the row
  EXPECT_EQ(desktop_->Calls(),
            (std::vector<std::string>{"getVd_Fornecedor", "getVd_Fornecedor", "SetFornecedor", "getFornecedorDesde"}));
  EXPECT_EQ(list->State(), TDataSetState::dsBrowse);
  EXPECT_EQ(list->ChangeCount(), 0);
  EXPECT_EQ(ColumnTexts("dbgFornecedor", 0),
            (std::vector<std::string>{"11.222.333/0001-81", "45.723.174/0001-10", "529.982.247-25"}));
  EXPECT_TRUE(desktop_->answers->Seen().empty());
  EXPECT_FALSE(desktop_->services.Busy()->Running());
}

TEST_F(ScreenGuiTest, ASupplierChosenFromThePickListIsStoredOnConfirm) {
  StartSupplierRow();
  desktop_->answers->Pick(QStringLiteral("comercio"));
  ASSERT_TRUE(Grid("dbgFornecedor")->ClickEllipsis());
  auto* list = Model<host::TClientDataSet>("cdsFornecedor");
  EXPECT_EQ(list->FieldByName("NRINSJURFORN")->AsString(), "45723174000110");
  EXPECT_EQ(list->FieldByName("CDFORNECED")->AsString(), "F002");
  Button("sbtConfirmar")->click();
  EXPECT_EQ(list->State(), TDataSetState::dsBrowse);
  EXPECT_EQ(ColumnTexts("dbgFornecedor", 0),
            (std::vector<std::string>{"11.222.333/0001-81", "45.723.174/0001-10", "529.982.247-25"}));
  // The pick list showed the suppliers' numbers formatted.
  const auto& log = desktop_->services.Log();
  EXPECT_NE(std::find(log.begin(), log.end(), "picklist: Não há Fornecedor Cadastrado. -> 1"), log.end());
}

TEST_F(ScreenGuiTest, ARefusedCodeShowsItsMessageAndKeepsTheFocusOnTheCodeColumn) {
  StartSupplierRow();
  desktop::GridView* grid = Grid("dbgFornecedor");
  Settle();
  ASSERT_EQ(Focused(), grid);
  QTest::keyClicks(Focused(), "123");
  QTest::keyClick(Focused(), Qt::Key_Tab);
  EXPECT_EQ(desktop_->answers->Seen(), std::vector<std::string>{"Fornecedor não cadastrado."});
  EXPECT_EQ(Model<host::TDBGrid>("dbgFornecedor")->SelectedIndex(), 0);
  EXPECT_EQ(grid->currentIndex().column(), 0);
  // Leaving the grid is refused too: the focus stays in the supplier grid.
  EXPECT_FALSE(Grid("dbgPadrao")->ClickCell(0, 0));
  EXPECT_EQ(form_->ActiveControl(), Model<host::TDBGrid>("dbgFornecedor"));
  EXPECT_EQ(desktop_->window->focusWidget(), grid);
  EXPECT_EQ(Model<host::TClientDataSet>("cdsFornecedor")->State(), TDataSetState::dsInsert);
  EXPECT_TRUE(desktop_->Calls().empty());
}

TEST_F(ScreenGuiTest, DeletingASupplierAsksFirstAndSendsTheDeletion) {
  ASSERT_TRUE(Grid("dbgFornecedor")->ClickCell(1, 0));
  desktop_->ClearCalls();
  desktop_->answers->Press(QStringLiteral("Não"));
  Button("sbtExcluir")->click();
  EXPECT_EQ(desktop_->answers->Seen(), std::vector<std::string>{"Deseja excluir o Fornecedor selecionado?"});
  EXPECT_EQ(ColumnTexts("dbgFornecedor", 0).size(), 2u);
  EXPECT_TRUE(desktop_->Calls().empty());
  desktop_->answers->Press(QStringLiteral("Sim"));
  Button("sbtExcluir")->click();
  EXPECT_EQ(ColumnTexts("dbgFornecedor", 0), std::vector<std::string>{"11.222.333/0001-81"});
  EXPECT_EQ(desktop_->Calls(), std::vector<std::string>{"SetFornecedor"});
  // Stored at the server: a fresh load no longer has it.
  desktop_->ClearCalls();
  Button("sbtVerificar")->click();
  EXPECT_EQ(ColumnTexts("dbgFornecedor", 0), std::vector<std::string>{"11.222.333/0001-81"});
}

TEST_F(ScreenGuiTest, OtherPagesCannotBeChosenWhileARelatedRowIsEntered) {
  StartSupplierRow();
  desktop::PageControlView* pages = screen_->PageControl("pgcGrade");
  EXPECT_FALSE(pages->Strip()->isTabEnabled(1));
  EXPECT_FALSE(pages->Strip()->isTabEnabled(2));
  QTest::mouseClick(pages->Strip(), Qt::LeftButton, {}, pages->Strip()->tabRect(1).center());
  EXPECT_EQ(Model<host::TPageControl>("pgcGrade")->ActivePage(), Model<host::TTabSheet>("tshFornecedor"));
  EXPECT_EQ(pages->Strip()->currentIndex(), 0);
  // Cancelling the row frees the pages again.
  Settle();
  ASSERT_EQ(Focused(), Grid("dbgFornecedor"));
  QTest::keyClick(Focused(), Qt::Key_Escape);
  EXPECT_EQ(Model<host::TClientDataSet>("cdsFornecedor")->State(), TDataSetState::dsBrowse);
  EXPECT_TRUE(pages->Strip()->isTabEnabled(1));
  QTest::mouseClick(pages->Strip(), Qt::LeftButton, {}, pages->Strip()->tabRect(1).center());
  EXPECT_EQ(Model<host::TPageControl>("pgcGrade")->ActivePage(), Model<host::TTabSheet>("tshCliente"));
}

TEST_F(ScreenGuiTest, ClosingHidesTheScreenAndTheMenuEntryShowsItAgainAsItWas) {
  ASSERT_TRUE(Grid("dbgPadrao")->ClickCell(1, 0));
  screen_->close();  // the screen's close handling hides it; it stays in existence
  QCoreApplication::processEvents();
  EXPECT_EQ(desktop_->window->ScreenWindow(), nullptr);
  ASSERT_EQ(host::Application().Forms().size(), 1u);
  EXPECT_FALSE(host::Application().Forms()[0]->Visible());
  ASSERT_TRUE(desktop_->window->OpenScreen());
  desktop::FormWindow* again = desktop_->window->ScreenWindow();
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->Form(), form_);
  EXPECT_EQ(again->Grid("dbgPadrao")->currentIndex().row(), 1);
  EXPECT_EQ(desktop_->Calls(), (std::vector<std::string>{"getVersaoListas", "getDados"}));
}

TEST_F(ScreenGuiTest, TheScreenCursorModelShowsTheWaitCursor) {
  ASSERT_EQ(QApplication::overrideCursor(), nullptr);
  host::Screen().SetCursor(host::crHourGlass);
  ASSERT_NE(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
  host::Screen().SetCursor(host::crDefault);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(ScreenGuiTest, ASecondChoiceOfTheMenuEntryRestoresTheSameScreen) {
  screen_->showMinimized();
  EXPECT_EQ(form_->WindowState(), host::TWindowState::wsMinimized);
  ASSERT_TRUE(desktop_->window->OpenScreen());
  EXPECT_EQ(desktop_->window->ScreenWindow(), screen_);
  EXPECT_EQ(form_->WindowState(), host::TWindowState::wsNormal);
  EXPECT_FALSE(screen_->isMinimized());
  EXPECT_EQ(host::Application().Forms().size(), 1u);
  EXPECT_EQ(desktop_->Calls(), (std::vector<std::string>{"getVersaoListas", "getDados"}));  // not loaded again
}

TEST_F(ScreenGuiTest, TheKeyboardFocusIsTheScreensFromOpeningOnAndTheKeysReachEveryList) {
  Settle();
  // Opened: the keys go to the product grid at once.
  ASSERT_EQ(form_->ActiveControl(), Model<host::TDBGrid>("dbgPadrao"));
  ASSERT_EQ(Focused(), Grid("dbgPadrao"));
  QTest::keyClick(Focused(), Qt::Key_Down);
  EXPECT_EQ(Model<host::TClientDataSet>("cdsProduto")->RecNo(), 2);
  // A toolbar button never takes the focus; after Verificar the rule's focus is the real one.
  Button("sbtVerificar")->click();
  Settle();
  EXPECT_EQ(Focused(), Grid("dbgPadrao"));
  QTest::keyClick(Focused(), Qt::Key_Up);
  EXPECT_EQ(Model<host::TClientDataSet>("cdsProduto")->RecNo(), 1);
  // Ctrl+Tab reaches the supplier list and back, through the menu's shortcut.
  QTest::keyClick(Focused(), Qt::Key_Tab, Qt::ControlModifier);
  Settle();
  EXPECT_EQ(form_->ActiveControl(), Model<host::TDBGrid>("dbgFornecedor"));
  EXPECT_EQ(Focused(), Grid("dbgFornecedor"));
  QTest::keyClick(Focused(), Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
  Settle();
  EXPECT_EQ(Focused(), Grid("dbgPadrao"));
  // Ctrl+PageDown shows Cliente as a click on its tab does; Ctrl+Tab then reaches its list.
  QTest::keyClick(Focused(), Qt::Key_PageDown, Qt::ControlModifier);
  Settle();
  EXPECT_EQ(Model<host::TPageControl>("pgcGrade")->ActivePage(), Model<host::TTabSheet>("tshCliente"));
  QTest::keyClick(Focused(), Qt::Key_Tab, Qt::ControlModifier);
  Settle();
  EXPECT_EQ(Focused(), Grid("dbgCliente"));
  QTest::keyClick(Focused(), Qt::Key_PageUp, Qt::ControlModifier);
  Settle();
  EXPECT_EQ(Model<host::TPageControl>("pgcGrade")->ActivePage(), Model<host::TTabSheet>("tshFornecedor"));
}

TEST_F(ScreenGuiTest, TheNameLineFollowsTheWindowsWidthAndCutsOnlyWhatDoesNotFit) {
  // At the default size the code column stays in sight when the name column is current.
  ASSERT_TRUE(Grid("dbgPadrao")->ClickCell(0, 1));
  EXPECT_EQ(Grid("dbgPadrao")->columnViewportPosition(0), 0);
  ASSERT_TRUE(Grid("dbgFornecedor")->ClickCell(0, 1));
  EXPECT_EQ(Grid("dbgFornecedor")->columnViewportPosition(0), 0);
  auto* name = qobject_cast<desktop::ElidedLabel*>(screen_->WidgetNamed("dbtNome"));
  ASSERT_NE(name, nullptr);
  // A new, shorter text does not shrink the line: it keeps following the window.
  const int before = name->width();
  ASSERT_TRUE(Grid("dbgPadrao")->ClickCell(1, 0));
  EXPECT_EQ(name->text(), QStringLiteral("Feijão Carioca"));
  EXPECT_EQ(name->width(), before);
  screen_->resize(screen_->width() + 300, screen_->height());
  Settle();
  EXPECT_EQ(name->width(), before + 300);
  // Too narrow for the name: cut with "…", the whole name in the tool tip.
  name->resize(40, name->height());
  EXPECT_TRUE(name->Elided());
  EXPECT_TRUE(name->ShownText().endsWith(QStringLiteral("…")));
  EXPECT_EQ(name->toolTip(), QStringLiteral("Feijão Carioca"));
}

TEST_F(ScreenGuiTest, ColumnWidthsTheUserSetAreRememberedWithTheWindowsGeometry) {
  const QString dir = QString::fromStdString(server_->LocalDatabase().parent_path().string());
  const QString ini = dir + QStringLiteral("/layout.ini");
  std::ofstream(ini.toStdString()) << "[Servidor]\nEsperaSemResposta=30\n";
  const QString module = QString::fromStdString(testsupport::ScreenModule());
  const QStringList args{QStringLiteral("pdi07310-desktop"), QStringLiteral("--config"), ini,
                         QStringLiteral("--server"), QStringLiteral("127.0.0.1:%1").arg(server_->Port()),
                         QStringLiteral("--local"), QString::fromStdString(server_->LocalDatabase().string()),
                         QStringLiteral("--module"), module};
  desktop_.reset();
  {
    Desktop first(desktop::DesktopSettings::Load(args));
    ASSERT_TRUE(first.window->OpenScreen());
    first.window->resize(900, 700);
    desktop::GridView* grid = first.window->ScreenWindow()->Grid("dbgFornecedor");
    grid->horizontalHeader()->resizeSection(0, 170);  // the user's drag
    first.window->Shutdown();
  }
  // The layout goes to the user's settings; the INI file is only read (a fallback).
  EXPECT_TRUE(QSettings(desktop::LayoutStore::UserFile(), QSettings::IniFormat).contains(QStringLiteral("Janela/Geometria")));
  EXPECT_FALSE(QSettings(ini, QSettings::IniFormat).contains(QStringLiteral("Janela/Geometria")));
  Desktop second(desktop::DesktopSettings::Load(args));
  ASSERT_TRUE(second.window->OpenScreen());
  desktop::GridView* grid = second.window->ScreenWindow()->Grid("dbgFornecedor");
  EXPECT_EQ(grid->columnWidth(0), 170);
  EXPECT_EQ(grid->columnWidth(0) + grid->columnWidth(1), grid->viewport()->width());
  // Settings without a file of their own remember nothing.
  EXPECT_FALSE(desktop::DesktopSettings().RemembersLayout());
  EXPECT_FALSE(desktop::DesktopSettings::Load({QStringLiteral("x"), QStringLiteral("--config"),
                                                QStringLiteral("/dev/null")})
                   .RemembersLayout());
}

TEST(ScreenGuiStartTest, AMissingLocalDatabaseOrServerIsSaidClearlyAndNoScreenOpens) {
  PDI_SKIP_WITHOUT_PROGRAMS();
  const testsupport::TempDir temp("pdi-desktop");
  const auto& dir = temp.Path();
  const auto local = dir / "local.db";
  testsupport::WriteLocalDatabase(local, testsupport::SampleMasterData());
  const int port = testsupport::FreePort();
  {
    Desktop desk(SettingsFor(port, (dir / "missing.db").string()));
    EXPECT_FALSE(desk.window->OpenScreen());
    ASSERT_EQ(desk.answers->Seen().size(), 1u);
    EXPECT_EQ(desk.answers->Seen()[0],
              "Ainda não há banco de dados local (" + (dir / "missing.db").string() +
                "): use Arquivo > Atualizar cadastros quando o servidor estiver no ar.");
  }
  {
    Desktop desk(SettingsFor(port, local.string()));
    EXPECT_FALSE(desk.window->OpenScreen());
    ASSERT_EQ(desk.answers->Seen().size(), 1u);
    EXPECT_EQ(desk.answers->Seen()[0], "O servidor de aplicação não responde em 127.0.0.1:" +
                                           std::to_string(port) + ": conexão recusada.");
    EXPECT_EQ(desk.window->ScreenWindow(), nullptr);
    EXPECT_TRUE(host::Application().Forms().empty());
    EXPECT_FALSE(desk.window->Module().Loaded());
  }
}

TEST(ScreenGuiStartTest, AModuleThatCannotBeLoadedIsSaidClearly) {
  PDI_SKIP_WITHOUT_PROGRAMS();
  testsupport::TestServer server;
  desktop::DesktopSettings settings = SettingsFor(server.Port(), server.LocalDatabase().string());
  settings.SetModulePath("/nao/existe/libPKG_PDI07310.so");
  Desktop desk(settings);
  EXPECT_FALSE(desk.window->OpenScreen());
  ASSERT_EQ(desk.answers->Seen().size(), 1u);
  EXPECT_TRUE(desk.answers->Seen()[0].starts_with("Não foi possível carregar o módulo da tela: "));
  EXPECT_NE(desk.answers->Seen()[0].find("/nao/existe/libPKG_PDI07310.so"), std::string::npos);
  EXPECT_EQ(desk.window->ScreenWindow(), nullptr);
}

}  // namespace
