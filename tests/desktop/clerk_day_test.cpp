// What a clerk's day by keyboard found: the local database's refresh never holds the window, a
// given-up refresh leaves the copy alone; every menu has its own letters and no English word; the
// history panel is reached by a key; the arrangement of the screens is remembered.
#include <gtest/gtest.h>

#include <QAction>
#include <QDialog>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "desktop/CallRunner.h"
#include "desktop/LocalDatabaseUpdater.h"
#include "desktop/QtHostServices.h"
#include "desktop/WindowLayout.h"
#include "tests/desktop/ScreenDesktop.h"

namespace {

namespace fs = std::filesystem;

std::string Read(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class UpdaterTest : public ::testing::Test {
 protected:
  UpdaterTest() {
    dir_ = fs::temp_directory_path() / ("pdi-updater-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    local_ = dir_ / "local.db";
    std::ofstream(local_) << "old";
    desktop::DesktopSettings settings;
    settings.SetLocalDatabase(local_.string());
    services_ = std::make_unique<desktop::QtHostServices>(settings);
    updater_ = std::make_unique<desktop::LocalDatabaseUpdater>(*services_, bar_);
    // The download waits until the test lets it go, then writes a new copy beside the file and
    // renames it over the file, as LocalDatabaseDownload does.
    updater_->SetDownload([release = release_](const std::string& path) {
      while (!*release) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      std::ofstream(path + ".new", std::ios::trunc) << "new";
      fs::rename(path + ".new", path);
      return host::LocalDatabaseRefresh{host::LocalDatabaseRefresh::Outcome::Updated, "cadastros atualizados (3 bytes)"};
    });
  }
  ~UpdaterTest() override {
    *release_ = true;
    updater_.reset();
    fs::remove_all(dir_);
  }
  std::size_t Files() const { return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir_), fs::directory_iterator())); }

  std::shared_ptr<std::atomic<bool>> release_ = std::make_shared<std::atomic<bool>>(false);
  fs::path dir_, local_;
  QStatusBar bar_;
  std::unique_ptr<desktop::QtHostServices> services_;
  std::unique_ptr<desktop::LocalDatabaseUpdater> updater_;
};

TEST_F(UpdaterTest, TheRefreshRunsBesideTheWindowAndPutsTheCopyInPlaceWhole) {
  QElapsedTimer clock;
  clock.start();
  updater_->Start();
  EXPECT_LT(clock.elapsed(), 500);  // the window is not held
  EXPECT_TRUE(updater_->Running());
  QTest::qWait(100);
  EXPECT_EQ(Read(local_), "old");  // the copy in use is untouched while the new one comes
  *release_ = true;
  ASSERT_TRUE(QTest::qWaitFor([&] { return !updater_->Running(); }, 5000));
  EXPECT_EQ(Read(local_), "new");
  EXPECT_EQ(bar_.currentMessage(), QStringLiteral("Cadastros atualizados a partir do servidor."));
  EXPECT_EQ(Files(), 1u);  // no staging copy left behind
}

TEST_F(UpdaterTest, AWaitGivenUpLeavesTheCopyAsItWasAndCleansUpAfterwards) {
  // Esc (CallRunner::Cancel) during the wait of Arquivo > Atualizar cadastros.
  QTimer::singleShot(200, [] { desktop::CallRunner::Cancel(); });
  QElapsedTimer clock;
  clock.start();
  updater_->RefreshAndWait();
  EXPECT_LT(clock.elapsed(), 2000);
  EXPECT_FALSE(updater_->Running());
  EXPECT_TRUE(bar_.currentMessage().contains(QStringLiteral("cancelada"))) << bar_.currentMessage().toStdString();
  *release_ = true;  // the abandoned download ends: its copy goes, the local one stays
  ASSERT_TRUE(QTest::qWaitFor([&] { return Files() == 1u; }, 5000));
  EXPECT_EQ(Read(local_), "old");
}

TEST(WindowLayoutTest, TheArrangementChosenIsRememberedAndTilingIsTheFirstOne) {
  const auto dir = fs::temp_directory_path() / ("pdi-arrange-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const QString ini = QString::fromStdString((dir / "desktop.ini").string());
  std::ofstream(ini.toStdString()) << "[Servidor]\n";
  const desktop::DesktopSettings settings =
      desktop::DesktopSettings::Load({QStringLiteral("x"), QStringLiteral("--config"), ini});
  QMainWindow window;
  desktop::WindowLayout first(settings);
  EXPECT_EQ(first.Remembered(), desktop::WindowLayout::Arrangement::Tiled);
  first.SetArrangement(desktop::WindowLayout::Arrangement::Cascaded);
  first.RememberMain(window, {});
  EXPECT_EQ(desktop::WindowLayout(settings).Remembered(), desktop::WindowLayout::Arrangement::Cascaded);
  fs::remove_all(dir);
}

class ClerkDayTest : public desktoptest::ScreenDesktopTest {
 protected:
  void Seed(testsupport::TestServer& server) override {
    server.AddSupplier("100", testsupport::SampleMasterData().suppliers[0]);
  }
};

// Qt's English defaults that must never reach the clerk.
const QStringList kEnglish{"Hide",  "Show",   "Details", "Cancel",   "Save",     "Open",   "Look in", "File name",
                           "Close", "Restore", "Move",   "Minimize", "Maximize", "Stay on Top", "Return", "Backtab",
                           "Undo",  "Redo",   "Cut",     "Copy",     "Paste",    "Select All", "Yes",   "No"};

// The English words of `text`, '&' and what follows a tab's key name considered too.
QStringList EnglishIn(QString text) {
  text.remove(QLatin1Char('&'));
  QStringList found;
  for (const QString& word : kEnglish)
    if (text.contains(QRegularExpression(QStringLiteral("\\b%1\\b").arg(word)))) found << word + " in '" + text + "'";
  return found;
}

// Walks `menu` and its submenus: each letter after '&' once per menu, no English word.
void Walk(const QString& where, const QList<QAction*>& actions, QStringList& faults) {
  std::map<QChar, QString> letters;
  for (QAction* a : actions) {
    if (a->isSeparator()) continue;
    const QString text = a->text();
    faults << EnglishIn(text);
    const int amp = text.indexOf(QLatin1Char('&'));
    if (amp >= 0 && amp + 1 < text.size()) {
      const QChar letter = text[amp + 1].toLower();
      if (letters.count(letter)) faults << where + ": '" + letter + "' in '" + letters[letter] + "' and '" + text + "'";
      letters[letter] = text;
    }
    if (a->menu()) Walk(where + " > " + text, a->menu()->actions(), faults);
  }
}

TEST_F(ClerkDayTest, EveryMenuHasItsOwnLettersAndNoEnglishWord) {
  desktop::MainWindow& window = *desktop_->window;
  QStringList faults;
  Walk(QStringLiteral("barra"), window.menuBar()->actions(), faults);
  Walk(QStringLiteral("menu da janela da tela"), screen_->systemMenu()->actions(), faults);
  // Qt's own dialogs: the details button of an error, the file chooser.
  desktop_->answers->Queue([&](QDialog& d) {
    for (QAbstractButton* b : d.findChildren<QAbstractButton*>()) faults << EnglishIn(b->text());
  });
  desktop_->services.ShowErrorWithDetails("Falhou.", "detalhe técnico");
  QFileDialog files(&window);
  files.setOption(QFileDialog::DontUseNativeDialog);
  files.setAcceptMode(QFileDialog::AcceptSave);
  for (QLabel* l : files.findChildren<QLabel*>()) faults << EnglishIn(l->text());
  for (QAbstractButton* b : files.findChildren<QAbstractButton*>()) faults << EnglishIn(b->text());
  EXPECT_TRUE(faults.isEmpty()) << faults.join(QLatin1Char('\n')).toStdString();
}

TEST_F(ClerkDayTest, F6TakesTheFocusToTheHistoryAndF6OrEscBringsItBack) {
  desktop::MainWindow& window = *desktop_->window;
  QAction* toHistory = window.findChild<QAction*>(QStringLiteral("actIrHistorico"));
  ASSERT_NE(toHistory, nullptr);
  EXPECT_TRUE(toHistory->text().endsWith(QStringLiteral("\tF6")));
  ASSERT_EQ(QApplication::focusWidget(), Grid("dbgPadrao"));
  toHistory->trigger();
  Settle();
  EXPECT_EQ(QApplication::focusWidget(), window.History()->Table());
  QTest::keyClick(window.History()->Table(), Qt::Key_Escape);
  Settle();
  EXPECT_EQ(QApplication::focusWidget(), Grid("dbgPadrao"));
}

TEST_F(ClerkDayTest, AKeyTypedWhereItCannotGoIsSaidNotLost) {
  QStatusBar* bar = desktop_->window->statusBar();
  desktop::GridView* suppliers = Grid("dbgFornecedor");
  ASSERT_TRUE(suppliers->ClickCell(0, 1));
  QTest::keyClicks(QApplication::focusWidget(), "4");
  EXPECT_TRUE(bar->currentMessage().startsWith(QStringLiteral("A coluna Nome não pode ser editada"))) << bar->currentMessage().toStdString();
  ASSERT_TRUE(suppliers->ClickCell(0, 0));
  QTest::keyClicks(QApplication::focusWidget(), "4");
  EXPECT_TRUE(bar->currentMessage().startsWith(QStringLiteral("Uma linha gravada não é alterada"))) << bar->currentMessage().toStdString();
}

}  // namespace
