// The desktop's work around the screen, on the offscreen platform against a real server: pasting a
// list from the clipboard through the menu, the export dialog, the history panel, the menu keys,
// the status bar, Sobre, accessible names, the per-user layout and the icons at high DPI.
#include <gtest/gtest.h>

// Waits are QTest::qWaitFor under ASSERT_TRUE: Qt's QTRY_ macros would not fail a GoogleTest.

#include <QAccessible>
#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QDockWidget>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressDialog>
#include <QRadioButton>
#include <QTimer>
#include <QSettings>
#include <QTabBar>
#include <QTableWidget>
#include <QTest>
#include <QToolButton>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <mutex>
#include <sstream>

#include "desktop/CallRunner.h"
#include "desktop/FormWindow.h"
#include "desktop/GridView.h"
#include "desktop/HistoryPanel.h"
#include "desktop/IconFactory.h"
#include "desktop/LayoutStore.h"
#include "desktop/ListCommands.h"
#include "desktop/MainWindow.h"
#include "desktop/PageControlView.h"
#include "desktop/QtHostServices.h"
#include "desktop/SplitterView.h"
#include "desktop/TabStrip.h"
#include "host/controls/ButtonFlat.h"
#include "host/controls/Control.h"
#include "host/controls/DBGrid.h"
#include "host/controls/Form.h"
#include "host/data/ClientDataSet.h"
#include "host/net/NetConnection.h"
#include "host/wire/ServiceName.h"
#include "tests/desktop/DialogAnswers.h"
#include "tests/desktop/ScreenDesktop.h"
#include "tests/support/RawHttpStub.h"
#include "tests/support/TestServer.h"

namespace {

using desktoptest::Desktop;
using desktoptest::DialogAnswers;
using host::TDataSetState;

// Saves a picture of `widget` into PDI_SCREENSHOT_DIR when that is set (for the documentation).
void Picture(QWidget& widget, const char* name) {
  const QString dir = qEnvironmentVariable("PDI_SCREENSHOT_DIR");
  if (dir.isEmpty()) return;
  QApplication::processEvents();
  widget.grab().save(QDir(dir).filePath(QString::fromLatin1(name)), "PNG");
}

// The interactive controls under `root` that a screen reader could not name.
QStringList NamelessControls(QWidget& root) {
  QStringList nameless;
  for (QWidget* w : root.findChildren<QWidget*>()) {
    const bool interactive = qobject_cast<QAbstractButton*>(w) || qobject_cast<QAbstractItemView*>(w) ||
                             qobject_cast<QTabBar*>(w) || qobject_cast<QLineEdit*>(w) || qobject_cast<QComboBox*>(w);
    if (!interactive || !w->isVisible()) continue;
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
    if (!a || a->text(QAccessible::Name).remove(QLatin1Char('&')).trimmed().isEmpty())
      nameless << QString::fromLatin1(w->metaObject()->className()) + QLatin1Char(':') + w->objectName();
  }
  return nameless;
}

// ---- Without a server --------------------------------------------------------------------------

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(HistoryPanelTest, AnAnswerForAnEarlierProductIsDroppedAndTheCurrentOneShown) {
  // Product A's answer is held back until product B is current.
  std::promise<void> releaseA;
  std::shared_future<void> aReleased = releaseA.get_future().share();
  std::atomic<int> asked{0};
  desktop::HistoryPanel panel([&](const std::string& key) {
    ++asked;
    if (key == "A") aReleased.wait_for(std::chrono::seconds(30));
    desktop::HistoryAnswer answer;
    answer.rows.push_back({"08/12/2026 10:00", "ana", "127.0.0.1", "fornecedor", "inclusão", "11.222.333/0001-81", "name of " + key});
    return answer;
  });
  panel.show();
  panel.SetKey("A");
  ASSERT_TRUE(QTest::qWaitFor([&] { return panel.Busy(); }, 10000));
  panel.SetKey("B");
  EXPECT_EQ(panel.Table()->rowCount(), 0);  // never another product's rows meanwhile
  releaseA.set_value();
  ASSERT_TRUE(QTest::qWaitFor([&] { return (panel.Table()->rowCount()) == (1); }, 10000));
  EXPECT_EQ(panel.Table()->item(0, 6)->text(), QStringLiteral("name of B"));
  EXPECT_EQ(panel.Dropped(), 1);
  EXPECT_EQ(panel.Requests(), 2);
  // Scrolling through several products quickly sends one request, for the last one.
  panel.SetKey("C");
  panel.SetKey("D");
  panel.SetKey("E");
  ASSERT_TRUE(QTest::qWaitFor([&] { return (panel.Table()->item(0, 6) ? panel.Table()->item(0, 6)->text() : QString()) == (QStringLiteral("name of E")); }, 10000));
  EXPECT_EQ(panel.Requests(), 3);
  EXPECT_EQ(asked.load(), 3);
  // Paused (a paste runs): nothing goes out; the last request held back goes out after.
  panel.SetPaused(true);
  panel.SetKey("F");
  panel.Refresh();
  EXPECT_EQ(panel.Requests(), 3);
  panel.SetPaused(false);
  ASSERT_TRUE(QTest::qWaitFor([&] { return panel.Table()->item(0, 6) && panel.Table()->item(0, 6)->text() == QStringLiteral("name of F"); }, 10000));
  EXPECT_EQ(panel.Requests(), 4);
}

TEST(HistoryPanelTest, AFailureIsSaidPlainlyAndClearsOnTheNextAnswer) {
  int calls = 0;
  desktop::HistoryPanel panel([&](const std::string&) -> desktop::HistoryAnswer {
    if (calls++ == 0) {
      throw host::ENetError("Falha ao chamar getHistorico em 127.0.0.1:1: tempo esgotado aguardando a resposta");
    }
    return {};
  });
  panel.SetRetryInterval(std::chrono::milliseconds(50));
  panel.show();
  panel.SetKey("100");
  ASSERT_TRUE(QTest::qWaitFor([&] { return panel.Status()->text().contains(QStringLiteral("tempo esgotado")); }, 10000));
  EXPECT_FALSE(panel.Status()->text().contains(QStringLiteral("getHistorico"))) << panel.Status()->text().toStdString();
  EXPECT_EQ(panel.Table()->rowCount(), 0);
  // The same product is asked again; the server's answer clears the failure.
  ASSERT_TRUE(QTest::qWaitFor([&] { return panel.Status()->text().startsWith(QStringLiteral("Nenhuma alteração")); }, 10000));
  // Addresses without the client's throwaway port.
  EXPECT_EQ(desktop::HistoryPanel::AddressShown(QStringLiteral("10.0.0.5:51234")), QStringLiteral("10.0.0.5"));
  EXPECT_EQ(desktop::HistoryPanel::AddressShown(QStringLiteral("[::1]:5000")), QStringLiteral("::1"));
  // A panel without a source says so and asks nobody.
  desktop::HistoryPanel none({});
  none.SetKey("100");
  EXPECT_EQ(none.Requests(), 0);
  EXPECT_TRUE(none.Status()->text().contains(QStringLiteral("não está disponível")));
}

TEST(LayoutStoreTest, TheUsersSettingsComeFirstAndTheOldIniKeysAreTheFallback) {
  const testsupport::TempDir temp("pdi-layout");
  const auto& dir = temp.Path();
  const QString ini = QString::fromStdString((dir / "desktop.ini").string());
  const QString user = QString::fromStdString((dir / "user.ini").string());
  QFile::remove(user);
  std::ofstream(ini.toStdString()) << "[Colunas]\nfrm.dbgA=\"120,300\"\n[Janela]\nGeometria=old\n";
  const QString before = desktop::LayoutStore::UserFile();
  desktop::LayoutStore::SetUserFile(user);
  const QStringList args{QStringLiteral("x"), QStringLiteral("--config"), ini};
  const desktop::LayoutStore store(desktop::DesktopSettings::Load(args));
  ASSERT_TRUE(store.Enabled());
  // Nothing of the user's yet: an earlier release's layout is carried over.
  EXPECT_EQ(store.Read(QStringLiteral("Colunas/frm.dbgA")).toString(), QStringLiteral("120,300"));
  store.Write(QStringLiteral("Colunas/frm.dbgA"), QStringLiteral("150,270"));
  store.Write(QStringLiteral("Divisores/frm.Splitter1"), 210);
  EXPECT_EQ(store.Read(QStringLiteral("Colunas/frm.dbgA")).toString(), QStringLiteral("150,270"));
  EXPECT_EQ(store.Read(QStringLiteral("Divisores/frm.Splitter1")).toInt(), 210);
  EXPECT_EQ(store.Read(QStringLiteral("Janela/Geometria")).toString(), QStringLiteral("old"));
  // The INI file is never written.
  EXPECT_EQ(QSettings(ini, QSettings::IniFormat).value(QStringLiteral("Colunas/frm.dbgA")).toString(), QStringLiteral("120,300"));
  // Settings without a file of their own remember nothing.
  const desktop::LayoutStore none{desktop::DesktopSettings()};
  EXPECT_FALSE(none.Read(QStringLiteral("Colunas/frm.dbgA")).isValid());
  desktop::LayoutStore::SetUserFile(before);
}

TEST(IconFactoryTest, IconsHaveDevicePixelsForHighDpiScreens) {
  const QIcon icon = desktop::IconFactory::For(QStringLiteral("sbtIncluir"));
  for (const qreal ratio : {1.0, 1.5, 2.0}) {
    const QPixmap pm = icon.pixmap(QSize(16, 16), ratio);
    EXPECT_EQ(pm.width(), qRound(16 * ratio)) << "ratio " << ratio;
    EXPECT_DOUBLE_EQ(pm.devicePixelRatio(), ratio);
  }
  EXPECT_EQ(icon.pixmap(QSize(32, 32), 2.0).width(), 64);
}

class AroundScreenTest : public desktoptest::ScreenDesktopTest {
 protected:
  void Seed(testsupport::TestServer& server) override {
    const auto d = testsupport::SampleMasterData();
    server.AddSupplier("100", d.suppliers[0]);
    server.AddClient("100", d.clients[0]);
    server.AddSupplier("200", d.suppliers[1]);
  }
  // Calls may come from the history's worker thread too; the timed runner feeds the status bar.
  desktoptest::Desktop::Runner CallRunner() const override { return desktoptest::Desktop::Runner::Timed; }
};

TEST_F(AroundScreenTest, APastedListGoesThroughTheScreenAndTheSummaryListsEveryCode) {
  desktop::MainWindow& window = *desktop_->window;
  // With the product list focused there is nothing to paste into: said in the status bar only.
  QGuiApplication::clipboard()->setText(QStringLiteral("45.723.174/0001-10\n"));
  window.PasteAction()->trigger();
  EXPECT_TRUE(desktop_->answers->Seen().empty());
  EXPECT_EQ(Model<host::TClientDataSet>("cdsFornecedor")->RecordCount(), 1);

  ASSERT_TRUE(Grid("dbgFornecedor")->ClickCell(0, 0));
  // A spreadsheet column: a new supplier, one already related, one not registered, a blank line.
  QGuiApplication::clipboard()->setText(QStringLiteral("45.723.174/0001-10\r\n11222333000181\r\n\r\n99.999.999/0001-99\r\n"));
  QStringList outcomes;
  QString headline;
  int nestedTotal = -1;
  desktop_->answers->Queue([&](QDialog& d) {
    auto* summary = qobject_cast<desktop::PasteSummaryDialog*>(&d);
    ASSERT_NE(summary, nullptr);
    for (int r = 0; r < summary->Table()->rowCount(); ++r)
      outcomes << summary->Table()->item(r, 1)->text() + QStringLiteral(" -> ") + summary->Table()->item(r, 2)->text();
    headline = summary->findChild<QLabel*>(QStringLiteral("lblColarResumo"))->text();
    // A second paste cannot start while the first one is still on screen.
    nestedTotal = window.PasteList(QStringLiteral("52998224725")).total;
    Picture(*summary, "paste-summary.png");
    EXPECT_TRUE(NamelessControls(*summary).isEmpty()) << NamelessControls(*summary).join(',').toStdString();
    summary->accept();
  });
  ASSERT_NE(window.findChild<QAction*>(QStringLiteral("actColarLista")), nullptr);
  EXPECT_EQ(window.PasteAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_V));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_V, Qt::ControlModifier);
  ASSERT_EQ(outcomes.size(), 3) << outcomes.join(QLatin1Char('|')).toStdString();
  EXPECT_EQ(outcomes[0], QStringLiteral("45.723.174/0001-10 -> gravado"));
  EXPECT_TRUE(outcomes[1].startsWith(QStringLiteral("11222333000181 -> ")));
  EXPECT_FALSE(outcomes[1].endsWith(QStringLiteral("gravado")));
  EXPECT_TRUE(outcomes[2].startsWith(QStringLiteral("99.999.999/0001-99 -> ")));
  EXPECT_FALSE(outcomes[2].endsWith(QStringLiteral("gravado")));
  EXPECT_TRUE(headline.startsWith(QStringLiteral("1 de 3 código(s) gravado(s), 2 recusado(s)."))) << headline.toStdString();
  EXPECT_EQ(nestedTotal, 0);
  EXPECT_FALSE(desktop::ListCommands::Running());
  // Nothing to paste, or far too much: said, nothing entered.
  const std::size_t seen = desktop_->answers->Seen().size();
  EXPECT_EQ(window.PasteList(QStringLiteral(" \n\t\n")).total, 0);
  QString huge;
  for (std::size_t i = 0; i <= desktop::ListCommands::kMaxPasteCodes; ++i) huge += QStringLiteral("52998224725\n");
  EXPECT_EQ(window.PasteList(huge).total, 0);
  ASSERT_EQ(desktop_->answers->Seen().size(), seen + 2);
  EXPECT_TRUE(desktop_->answers->Seen()[seen].starts_with("A área de transferência não tem códigos"));
  EXPECT_TRUE(desktop_->answers->Seen()[seen + 1].starts_with("A área de transferência tem 20001 códigos"));
  // The list ends browsing, with the stored supplier in it.
  auto* suppliers = Model<host::TClientDataSet>("cdsFornecedor");
  EXPECT_EQ(suppliers->State(), TDataSetState::dsBrowse);
  EXPECT_EQ(suppliers->RecordCount(), 2);
  const std::vector<std::string> shown = ColumnTexts("dbgFornecedor", 0);
  EXPECT_NE(std::find(shown.begin(), shown.end(), "45.723.174/0001-10"), shown.end());
}

TEST_F(AroundScreenTest, PararStopsThePasteBetweenRowsAndTheSummarySaysWhere) {
  ASSERT_TRUE(Grid("dbgFilial") != nullptr);
  ASSERT_TRUE(Grid("dbgFornecedor")->ClickCell(0, 0));
  // "Parar" is pressed once the first row is done.
  QTimer stopper;
  stopper.setInterval(0);
  QObject::connect(&stopper, &QTimer::timeout, [&] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* progress = qobject_cast<QProgressDialog*>(w);
      if (progress && progress->isVisible() && progress->value() >= 1) {
        progress->cancel();
        stopper.stop();
      }
    }
  });
  stopper.start();
  QString headline;
  int lines = -1;
  desktop_->answers->Queue([&](QDialog& d) {
    auto* summary = qobject_cast<desktop::PasteSummaryDialog*>(&d);
    ASSERT_NE(summary, nullptr);
    headline = summary->findChild<QLabel*>(QStringLiteral("lblColarResumo"))->text();
    lines = summary->Table()->rowCount();
    summary->accept();
  });
  const host::PasteSummary result =
      desktop_->window->PasteList(QStringLiteral("45.723.174/0001-10\n52998224725\n60701190000104\n"));
  EXPECT_EQ(result.stored, 1);
  EXPECT_TRUE(result.stopped);
  EXPECT_EQ(lines, 1);
  EXPECT_TRUE(headline.contains(QStringLiteral("A colagem parou antes do código 2 de 3: interrompido pelo usuário"))) << headline.toStdString();
  EXPECT_EQ(Model<host::TClientDataSet>("cdsFornecedor")->RecordCount(), 2);
  EXPECT_EQ(Model<host::TClientDataSet>("cdsFornecedor")->State(), TDataSetState::dsBrowse);
}

TEST_F(AroundScreenTest, TheServerGoingDownStopsThePasteAndKeepsWhatWasStored) {
  ASSERT_TRUE(Grid("dbgFornecedor")->ClickCell(0, 0));
  QTimer killer;
  killer.setInterval(0);
  QObject::connect(&killer, &QTimer::timeout, [&] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* progress = qobject_cast<QProgressDialog*>(w);
      if (progress && progress->isVisible() && progress->value() >= 1) {
        server_->Stop();
        killer.stop();
      }
    }
  });
  killer.start();
  QString headline;
  desktop_->answers->Queue([&](QDialog& d) {
    auto* summary = qobject_cast<desktop::PasteSummaryDialog*>(&d);
    ASSERT_NE(summary, nullptr);
    headline = summary->findChild<QLabel*>(QStringLiteral("lblColarResumo"))->text();
    summary->accept();
  });
  const host::PasteSummary result =
      desktop_->window->PasteList(QStringLiteral("45.723.174/0001-10\n52998224725\n60701190000104\n"));
  EXPECT_EQ(result.stored, 1);
  EXPECT_TRUE(result.stopped);
  EXPECT_TRUE(headline.contains(QStringLiteral("A colagem parou no código 2 de 3 (52998224725)"))) << headline.toStdString();
  EXPECT_TRUE(headline.contains(QStringLiteral("Não foi possível falar com o servidor 127.0.0.1:"))) << headline.toStdString();
  EXPECT_TRUE(headline.contains(QStringLiteral("O que foi gravado até ali continua gravado.")));
  EXPECT_TRUE(desktop_->window->ConnectionLabel()->text().startsWith(QStringLiteral("Sem conexão com ")));
  // The first row is at the server.
  server_->Restart();
  const std::string answer = server_->CallRaw("getFornecedor", "[]");
  EXPECT_NE(answer.find("45723174000110"), std::string::npos);
}

TEST_F(AroundScreenTest, TheExportDialogWritesTheChosenListAndSaysSo) {
  desktop::MainWindow& window = *desktop_->window;
  const auto dir = server_->Folder();
  const auto one = dir / "fornecedores.csv";
  const auto all = dir / "todos";
  ASSERT_TRUE(Grid("dbgFornecedor")->ClickCell(0, 0));
  desktop_->answers->Queue([&](QDialog& d) {
    auto* dialog = qobject_cast<desktop::ExportDialog*>(&d);
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->Option(desktop::ExportDialog::Choice::DetailCurrent)->isChecked());
    // The focus is on the option chosen, not on another one.
    EXPECT_EQ(dialog->focusWidget(), dialog->Option(desktop::ExportDialog::Choice::DetailCurrent));
    EXPECT_TRUE(dialog->Option(desktop::ExportDialog::Choice::DetailCurrent)->text().startsWith(QStringLiteral("Fornecedor")));
    dialog->SetPath(QString::fromStdString(one.string()));
    Picture(*dialog, "export-dialog.png");
    EXPECT_TRUE(NamelessControls(*dialog).isEmpty()) << NamelessControls(*dialog).join(',').toStdString();
    dialog->accept();
  });
  desktop_->answers->Press(QStringLiteral("OK"));
  window.ExportAction()->trigger();
  const std::string csv = ReadFile(one);
  EXPECT_EQ(csv.rfind("\xEF\xBB\xBF", 0), 0u);
  EXPECT_NE(csv.find("Código;Nome\r\n"), std::string::npos) << csv;
  EXPECT_NE(csv.find("11.222.333/0001-81;Distribuidora São João Ltda"), std::string::npos) << csv;
  EXPECT_EQ(csv.find("45.723.174/0001-10"), std::string::npos);  // product 200's supplier
  ASSERT_FALSE(desktop_->answers->Seen().empty());
  EXPECT_TRUE(desktop_->answers->Seen().back().starts_with("Lista exportada: 1 linha(s)")) << desktop_->answers->Seen().back();

  // The same list for every product; a path without an extension takes the format's.
  desktop_->answers->Queue([&](QDialog& d) {
    auto* dialog = qobject_cast<desktop::ExportDialog*>(&d);
    ASSERT_NE(dialog, nullptr);
    dialog->Choose(desktop::ExportDialog::Choice::DetailAll);
    dialog->SetPath(QString::fromStdString(all.string()));
    dialog->accept();
  });
  window.ExportAction()->trigger();
  const std::string every = ReadFile(all.string() + ".csv");
  // Each row names its product by the code and name the clerk knows, not by the inner key.
  EXPECT_EQ(every.find("Produto - Código;Produto - Nome;Código;Nome\r\n"), 3u) << every;
  EXPECT_NE(every.find("1001;Arroz Agulhinha Tipo 1;11.222.333/0001-81"), std::string::npos) << every;
  EXPECT_NE(every.find("1002;Feijão Carioca;45.723.174/0001-10"), std::string::npos) << every;

  // An existing file is replaced only when the user says so.
  const auto exportTo = [&](const std::filesystem::path& path) {
    desktop_->answers->Queue([path](QDialog& d) {
      auto* dialog = qobject_cast<desktop::ExportDialog*>(&d);
      ASSERT_NE(dialog, nullptr);
      dialog->SetPath(QString::fromStdString(path.string()));
      dialog->accept();
    });
  };
  exportTo(one);
  desktop_->answers->Press(QStringLiteral("Não"));
  std::filesystem::resize_file(one, 3);
  window.ExportAction()->trigger();
  EXPECT_EQ(std::filesystem::file_size(one), 3u);
  EXPECT_TRUE(desktop_->answers->Seen().back().ends_with("já existe. Deseja substituí-lo?")) << desktop_->answers->Seen().back();
  exportTo(one);
  desktop_->answers->Press(QStringLiteral("Sim"));
  window.ExportAction()->trigger();
  EXPECT_EQ(ReadFile(one), csv);

  // A file that cannot be written: said plainly, not reported as written.
  desktop_->answers->Queue([&](QDialog& d) {
    auto* dialog = qobject_cast<desktop::ExportDialog*>(&d);
    ASSERT_NE(dialog, nullptr);
    dialog->SetPath(QString::fromStdString((dir / "no-such-folder" / "x.csv").string()));
    dialog->accept();
  });
  window.ExportAction()->trigger();
  ASSERT_FALSE(desktop_->answers->Seen().empty());
  EXPECT_TRUE(desktop_->answers->Seen().back().starts_with("Não foi possível exportar a lista")) << desktop_->answers->Seen().back();
  EXPECT_FALSE(std::filesystem::exists(dir / "no-such-folder"));
}

TEST_F(AroundScreenTest, TheHistoryPanelFollowsTheCurrentProductOffTheScreensCalls) {
  desktop::MainWindow& window = *desktop_->window;
  window.SetHistoryFetcher(desktop::HistoryPanel::ServerFetcher(settings_, std::string(host::wire::kServiceName)));
  desktop::HistoryPanel* panel = window.History();
  ASSERT_TRUE(panel->isVisible());
  const auto cells = [panel](int column) {
    QStringList out;
    for (int r = 0; r < panel->Table()->rowCount(); ++r)
      out << (panel->Table()->item(r, column) ? panel->Table()->item(r, column)->text() : QString());
    return out;
  };
  // Product 100: a supplier and a client stored.
  ASSERT_TRUE(QTest::qWaitFor([&] { return (panel->Table()->rowCount()) == (2); }, 15000));
  EXPECT_TRUE(cells(3).contains(QStringLiteral("fornecedor"))) << cells(3).join(',').toStdString();
  EXPECT_TRUE(cells(3).contains(QStringLiteral("cliente")));
  EXPECT_EQ(cells(4), (QStringList{QStringLiteral("inclusão"), QStringLiteral("inclusão")}));
  EXPECT_TRUE(cells(0).first().contains(QLatin1Char('/'))) << cells(0).first().toStdString();  // local dd/MM/yyyy
  EXPECT_TRUE(cells(5).join(',').contains(QStringLiteral("11.222.333/0001-81"))) << cells(5).join(',').toStdString();
  // The busy animation never showed for it, and the screen's calls were the screen's own.
  EXPECT_EQ(desktop_->services.BusyDepth(), 0);
  Picture(*panel, "history-panel.png");
  // Product 200: its one supplier.
  ASSERT_TRUE(Grid("dbgPadrao")->ClickCell(1, 0));
  ASSERT_TRUE(QTest::qWaitFor([&] { return panel->Table()->rowCount() == 1 && cells(5).join(',').contains(QStringLiteral("45.723.174/0001-10")); }, 15000));
  EXPECT_EQ(panel->Key(), "200");
  // A supplier stored through the screen shows up without leaving the product.
  QGuiApplication::clipboard()->setText(QStringLiteral("11.222.333/0001-81\n"));
  ASSERT_TRUE(Grid("dbgFornecedor")->ClickCell(0, 0));
  desktop_->answers->Queue([](QDialog& d) { d.accept(); });  // the paste's summary
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_V, Qt::ControlModifier);
  ASSERT_TRUE(QTest::qWaitFor([&] { return panel->Table()->rowCount() == 2; }, 15000));
  EXPECT_TRUE(cells(5).join(',').contains(QStringLiteral("11.222.333/0001-81")));
  EXPECT_EQ(panel->Key(), "200");
  EXPECT_GE(desktop_->Count("getHistorico"), 2);
  // While a row is being typed there is no current product to show.
  ASSERT_TRUE(Grid("dbgPadrao")->ClickCell(0, 0));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Insert);
  ASSERT_EQ(Model<host::TClientDataSet>("cdsProduto")->State(), TDataSetState::dsInsert);
  ASSERT_TRUE(QTest::qWaitFor([&] { return (panel->Key()) == (std::string()); }, 10000));
  EXPECT_EQ(panel->Table()->rowCount(), 0);
}

TEST_F(AroundScreenTest, MenuKeysRunTheButtonsHandlersOnlyWhileTheButtonIsEnabled) {
  QMenu* operations = nullptr;
  for (QAction* top : desktop_->window->menuBar()->actions())
    if (top->menu() && top->menu()->objectName() == QLatin1String("mnuOperacao")) operations = top->menu();
  ASSERT_NE(operations, nullptr);
  const auto shortcutOf = [&](const char* name) {
    for (QAction* a : operations->actions())
      if (a->objectName() == QLatin1String(name)) return a->shortcut().toString();
    return QStringLiteral("?");
  };
  EXPECT_EQ(shortcutOf("mnuVerificar"), QStringLiteral("F5"));
  EXPECT_EQ(shortcutOf("mnuProcurar"), QStringLiteral("Ctrl+F"));
  EXPECT_EQ(shortcutOf("mnuIncluir"), QStringLiteral("Ins"));
  EXPECT_EQ(shortcutOf("mnuExcluir"), QStringLiteral("Ctrl+Del"));
  EXPECT_EQ(shortcutOf("mnuConfirmar"), QStringLiteral("Ctrl+Return"));
  EXPECT_EQ(shortcutOf("mnuCancelar"), QStringLiteral("Esc"));
  // The menu shows the keys as clerks read them, not Qt's names.
  for (QAction* a : operations->actions())
    if (a->objectName() == QLatin1String("mnuConfirmar")) {
      EXPECT_TRUE(a->text().endsWith(QStringLiteral("\tCtrl+Enter")));
    }

  QWidget* focused = QApplication::focusWidget();
  ASSERT_EQ(focused, Grid("dbgPadrao"));
  auto* verify = Model<host::TButtonFlat>("sbtVerificar");
  ASSERT_TRUE(verify->Enabled());
  const int before = desktop_->Count("getDados");
  QTest::keyClick(focused, Qt::Key_F5);  // Verificar: the lists are loaded again
  Settle();
  EXPECT_EQ(desktop_->Count("getDados"), before + 1);
  // Procurar opens the search dialog.
  const std::size_t dialogs = desktop_->answers->Pending();
  int searches = 0;
  desktop_->answers->Queue([&](QDialog& d) {
    ++searches;
    d.reject();
  });
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_F, Qt::ControlModifier);
  Settle();
  EXPECT_EQ(searches, 1);
  EXPECT_EQ(desktop_->answers->Pending(), dialogs);

  // A product row being typed: Verificar is disabled, F5 does nothing.
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Insert);
  ASSERT_EQ(Model<host::TClientDataSet>("cdsProduto")->State(), TDataSetState::dsInsert);
  ASSERT_FALSE(verify->Enabled());
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_F5);
  Settle();
  EXPECT_EQ(desktop_->Count("getDados"), before + 1);
  EXPECT_EQ(Model<host::TClientDataSet>("cdsProduto")->State(), TDataSetState::dsInsert);
  // The entry itself refuses too, even when triggered directly.
  QAction* verifyEntry = nullptr;
  for (QAction* a : operations->actions())
    if (a->objectName() == QLatin1String("mnuVerificar")) verifyEntry = a;
  ASSERT_NE(verifyEntry, nullptr);
  EXPECT_FALSE(verifyEntry->isEnabled());
  verifyEntry->trigger();
  EXPECT_EQ(desktop_->Count("getDados"), before + 1);
  // Esc in the grid stays the grid's: the row is given up as before.
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
  Settle();
  EXPECT_EQ(Model<host::TClientDataSet>("cdsProduto")->State(), TDataSetState::dsBrowse);
}

TEST_F(AroundScreenTest, StatusBarSobreAndAccessibleNames) {
  desktop::MainWindow& window = *desktop_->window;
  // The screen's load went through the timed runner.
  ASSERT_TRUE(QTest::qWaitFor([&] { return window.LastCallLabel()->text().startsWith(QStringLiteral("Última chamada: ")); }, 10000));
  EXPECT_TRUE(window.LastCallLabel()->text().endsWith(QStringLiteral(" ms")));
  EXPECT_EQ(window.ConnectionLabel()->text(), QStringLiteral("Conectado a 127.0.0.1:%1").arg(server_->Port()));
  // The server goes away: the next call says so.
  server_->Stop();
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_F5);
  ASSERT_TRUE(QTest::qWaitFor([&] { return window.ConnectionLabel()->text().startsWith(QStringLiteral("Sem conexão com 127.0.0.1:")); }, 30000));

  // The user is the one the server knows (its description names the token's), never this
  // computer's login: a connection that opens tells the window.
  testsupport::RawHttpStub described(
      [&](int fd, const std::string&, const std::string&) {
        const std::string body = R"({"service":"PDI07310.rdmProdDesoneraImpos","methods":[],"user":"maria"})";
        return described.Send(fd, "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
                                      std::to_string(body.size()) + "\r\n\r\n" + body);
      },
      true);
  host::TNetConnection connection;
  connection.SetHost("127.0.0.1");
  connection.SetPort(described.Port());
  connection.SetServerName(std::string(host::wire::kServiceName));
  connection.Open();
  ASSERT_TRUE(QTest::qWaitFor([&] { return window.AboutText().contains(QStringLiteral("Usuário: maria\n")); }, 5000))
      << window.AboutText().toStdString();
  const QString about = window.AboutText();
  EXPECT_TRUE(about.contains(QStringLiteral("Usuário: maria\n"))) << about.toStdString();
  const QString login = qEnvironmentVariable("USER");
  EXPECT_TRUE(login.isEmpty() || !about.contains(login)) << about.toStdString();
  EXPECT_TRUE(about.contains(QStringLiteral("Versão: ")));
  EXPECT_TRUE(about.contains(QStringLiteral("Servidor: 127.0.0.1:%1").arg(server_->Port())));
  EXPECT_TRUE(about.contains(QStringLiteral("Usuário: ")));
  EXPECT_TRUE(about.contains(QStringLiteral("Banco local: local.db, atualizado em "))) << about.toStdString();
  desktop_->answers->Queue([](QDialog& d) {
    auto* box = qobject_cast<QMessageBox*>(&d);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowTitle(), QStringLiteral("Sobre"));
    d.accept();
  });
  window.AboutAction()->trigger();
  EXPECT_EQ(desktop_->answers->Pending(), 0u);

  // Every control a user can act on says what it is to a screen reader.
  EXPECT_GE(window.findChildren<QAbstractButton*>().size(), 10);
  EXPECT_TRUE(NamelessControls(window).isEmpty()) << NamelessControls(window).join(", ").toStdString();
  EXPECT_EQ(screen_->PageControl("pgcGrade")->Strip()->accessibleName(), QStringLiteral("Páginas"));
  EXPECT_EQ(screen_->WidgetNamed("sbtVerificar")->accessibleName(), QStringLiteral("Verificar"));
  EXPECT_EQ(Grid("dbgFornecedor")->accessibleName(), QStringLiteral("Lista Fornecedor"));
}

TEST_F(AroundScreenTest, TheSplitterPositionIsRememberedPerUser) {
  const auto dir = server_->Folder();
  const QString ini = QString::fromStdString((dir / "layout.ini").string());
  const QString user = QString::fromStdString((dir / "user-layout.ini").string());
  std::ofstream(ini.toStdString()) << "[Servidor]\nEsperaSemResposta=30\n";
  const QString before = desktop::LayoutStore::UserFile();
  desktop::LayoutStore::SetUserFile(user);
  const QStringList args{QStringLiteral("pdi07310-desktop"), QStringLiteral("--config"), ini,
                         QStringLiteral("--server"), QStringLiteral("127.0.0.1:%1").arg(server_->Port()),
                         QStringLiteral("--local"), QString::fromStdString(server_->LocalDatabase().string()),
                         QStringLiteral("--module"), QString::fromStdString(testsupport::ScreenModule())};
  desktop_.reset();
  int height = 0;
  {
    Desktop first(desktop::DesktopSettings::Load(args));
    ASSERT_TRUE(first.window->OpenScreen());
    ASSERT_FALSE(first.window->ScreenWindow()->Splitters().empty());
    desktop::SplitterView* splitter = first.window->ScreenWindow()->Splitters().front();
    ASSERT_NE(splitter->Target(), nullptr);
    const int start = splitter->Vertical() ? splitter->Target()->Height() : splitter->Target()->Width();
    splitter->DragBy(-25);
    height = splitter->Vertical() ? splitter->Target()->Height() : splitter->Target()->Width();
    ASSERT_NE(height, start);
    first.window->Shutdown();
  }
  EXPECT_TRUE(QSettings(user, QSettings::IniFormat).contains(QStringLiteral("Janela/Estado")));
  {
    Desktop second(desktop::DesktopSettings::Load(args));
    ASSERT_TRUE(second.window->OpenScreen());
    desktop::SplitterView* splitter = second.window->ScreenWindow()->Splitters().front();
    EXPECT_EQ(splitter->Vertical() ? splitter->Target()->Height() : splitter->Target()->Width(), height);
  }
  desktop::LayoutStore::SetUserFile(before);
}

}  // namespace
