#include "desktop/MainWindow.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QSettings>
#include <QStatusBar>
#include <QToolBar>
#include <algorithm>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <functional>
#include <utility>

#include "desktop/CallRunner.h"
#include "desktop/FormWindow.h"
#include "desktop/GridView.h"
#include "desktop/IconFactory.h"
#include "desktop/QtHostServices.h"
#include "desktop/ServerProbe.h"
#include "desktop/UserAction.h"
#include "host/controls/Application.h"
#include "host/controls/Column.h"
#include "host/controls/DBGrid.h"
#include "host/controls/Form.h"
#include "host/controls/Screen.h"
#include "host/net/LocalDatabaseDownload.h"
#include "host/module/ModuleLoader.h"

namespace desktop {

namespace {

const char* const kScreenTitle = "Produtos para Desoneração de Impostos";

QString Q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

MainWindow::MainWindow(QtHostServices& services, QWidget* parent)
    : QMainWindow(parent), services_(services) {
  setObjectName(QStringLiteral("mainWindow"));
  setWindowTitle(QStringLiteral("PDI07310 - Desoneração de Impostos"));
  area_ = new QMdiArea(this);
  area_->setObjectName(QStringLiteral("mdiArea"));
  setCentralWidget(area_);
  BuildMenus();
  const DesktopSettings& s = services_.Settings();
  auto* where = new QLabel(QStringLiteral("Servidor: %1:%2    Banco local: %3")
                               .arg(Q(s.WebURL()))
                               .arg(s.WebPort())
                               .arg(s.LocalDatabase().empty() ? QStringLiteral("(não informado)")
                                                              : Q(s.LocalDatabase())));
  statusBar()->addWidget(where);
  resize(s.WindowWidth(), s.WindowHeight());
  if (s.RemembersLayout() && !s.WindowSizeGiven()) {
    const QSettings ini(Q(s.ConfigPath()), QSettings::IniFormat);
    const QByteArray geometry = ini.value(QStringLiteral("Janela/Geometria")).toByteArray();
    if (!geometry.isEmpty()) restoreGeometry(geometry);
  }

  mainForm_ = std::make_unique<host::TForm>();
  mainForm_->SetName("frmPrincipal");
  mainForm_->SetCaption(windowTitle().toStdString());
  mainForm_->SetFormStyle(host::TFormStyle::fsMDIForm);
  host::Application().SetMainForm(mainForm_.get());
  services_.SetMainWindow(this);

  applicationSub_ = Subscription(host::Application(), [this](const std::string& p) {
    if (p == "Forms") Reconcile();
  });
  screenSub_ = Subscription(host::Screen(), [this](const std::string& p) {
    if (p == "Cursor") OnCursor();
  });
  connect(area_, &QMdiArea::subWindowActivated, this, [this](QMdiSubWindow* w) { OnActivated(w); });
  connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) { OnFocusChanged(now); });
  UserAction::SetAfterAction([this] { QueueFocusSync(); });
  if (!s.FocusLogPath().empty()) SetFocusLog(s.FocusLogPath());
  Reconcile();
}

MainWindow::~MainWindow() { Shutdown(); }

FormWindow* MainWindow::ActiveScreenWindow() const {
  auto* active = qobject_cast<FormWindow*>(area_->currentSubWindow());
  if (!active || active->Detached()) return nullptr;
  for (const auto& [form, tracked] : forms_)
    if (tracked.window == active) return active;
  return nullptr;
}

void MainWindow::SyncActiveFocus() {
  focusSyncQueued_ = false;
  if (shutDown_ || CallRunner::Waiting() || UserAction::Running()) return;
  // A dialog (a question, the pick list) keeps the focus while it is up; closing it gives the
  // focus back, which comes here again.
  if (QApplication::activeModalWidget()) return;
  // A menu still closing (its entry opened the screen) gives the focus back to the menu bar
  // when it is gone: try again then.
  if (QApplication::activePopupWidget()) {
    focusSyncQueued_ = true;
    QTimer::singleShot(50, this, [this] { SyncActiveFocus(); });
    return;
  }
  if (FormWindow* window = ActiveScreenWindow()) window->EnsureFocus();
}

void MainWindow::QueueFocusSync() {
  if (focusSyncQueued_ || shutDown_) return;
  focusSyncQueued_ = true;
  QTimer::singleShot(0, this, [this] { SyncActiveFocus(); });
}

void MainWindow::OnFocusChanged(QWidget* now) {
  if (!focusLog_.empty()) {
    if (FILE* f = std::fopen(focusLog_.c_str(), "a")) {
      QString name = QStringLiteral("-");
      if (now) name = now->objectName().isEmpty() ? QString::fromLatin1(now->metaObject()->className()) : now->objectName();
      // A message or question box says what it asks, so a log reader knows where the keys went.
      if (auto* box = now ? qobject_cast<QMessageBox*>(now->window()) : nullptr) {
        std::fprintf(f, "dialog: %s\n", box->text().toUtf8().constData());
      }
      std::fprintf(f, "focus: %s\n", name.toUtf8().constData());
      std::fclose(f);
    }
  }
  if (shutDown_) return;
  FormWindow* window = ActiveScreenWindow();
  if (!window) return;
  // Only the focus inside this window (or lost from it) is put back; other windows keep theirs.
  if (now && now != this && !isAncestorOf(now)) return;
  // The menu bar holds the focus while the user walks the menus with the keyboard.
  if (qobject_cast<QMenuBar*>(now)) return;
  if (now && now == window->FocusTarget()) return;
  QueueFocusSync();
}

void MainWindow::SetFocusLog(const std::string& path) { focusLog_ = path; }

namespace {
QString ColumnsKey(const FormWindow& window, const GridView& grid) {
  return QStringLiteral("Colunas/") + Q(window.Form()->Name()) + QLatin1Char('.') + grid.objectName();
}
}  // namespace

void MainWindow::RestoreColumns(FormWindow& window) {
  const DesktopSettings& s = services_.Settings();
  if (!s.RemembersLayout() || !window.Form()) return;
  const QSettings ini(Q(s.ConfigPath()), QSettings::IniFormat);
  for (GridView* grid : window.Grids()) {
    if (!grid->Grid()) continue;
    const QStringList widths = ini.value(ColumnsKey(window, *grid)).toString().split(QLatin1Char(','));
    const std::vector<host::TColumn*> columns = grid->Grid()->Columns();
    // Only a list that matches the grid's columns is taken; the last column takes the rest anyway.
    if (widths.size() != static_cast<int>(columns.size())) continue;
    UserAction::Run([&] {
      for (std::size_t i = 0; i + 1 < columns.size(); ++i) {
        bool ok = false;
        const int w = widths[static_cast<int>(i)].toInt(&ok);
        if (ok && w >= 8 && w <= 4000 && columns[i]->Width() != w) columns[i]->SetWidth(w);
      }
    });
  }
}

void MainWindow::RememberColumns(FormWindow& window) {
  const DesktopSettings& s = services_.Settings();
  if (!s.RemembersLayout() || !window.Form()) return;
  QSettings ini(Q(s.ConfigPath()), QSettings::IniFormat);
  for (GridView* grid : window.Grids()) {
    if (!grid->Grid()) continue;
    QStringList widths;
    for (int c = 0; c < grid->model()->columnCount(); ++c) widths << QString::number(grid->columnWidth(c));
    ini.setValue(ColumnsKey(window, *grid), widths.join(QLatin1Char(',')));
  }
}

void MainWindow::RememberLayout() {
  const DesktopSettings& s = services_.Settings();
  if (!s.RemembersLayout()) return;
  for (auto& [form, tracked] : forms_)
    if (tracked.window && !tracked.window->Detached()) RememberColumns(*tracked.window);
  QSettings ini(Q(s.ConfigPath()), QSettings::IniFormat);
  ini.setValue(QStringLiteral("Janela/Geometria"), saveGeometry());
}

void MainWindow::BuildMenus() {
  QMenu* file = menuBar()->addMenu(QStringLiteral("&Arquivo"));
  QAction* refresh = file->addAction(QStringLiteral("&Atualizar cadastros"));
  refresh->setObjectName(QStringLiteral("actAtualizarCadastros"));
  connect(refresh, &QAction::triggered, this, [this] { RefreshLocalDatabase(); });
  QAction* quit = file->addAction(QStringLiteral("&Sair"));
  quit->setObjectName(QStringLiteral("actSair"));
  connect(quit, &QAction::triggered, this, &QWidget::close);

  QMenu* screens = menuBar()->addMenu(QStringLiteral("&Cadastros"));
  openAction_ = screens->addAction(IconFactory::For(QStringLiteral("abrir")), QString::fromUtf8(kScreenTitle));
  openAction_->setObjectName(QStringLiteral("actPDI07310"));
  openAction_->setToolTip(QStringLiteral("Abrir a tela Produtos para Desoneração de Impostos (PDI07310)"));
  connect(openAction_, &QAction::triggered, this, [this] { OpenScreen(); });

  windowMenu_ = menuBar()->addMenu(QStringLiteral("&Janela"));
  // The keyboard's routes between the lists and the pages of the active screen.
  const auto route = [this](const QString& text, const char* name, QList<QKeySequence> keys,
                            std::function<void(FormWindow&)> act) {
    QAction* a = windowMenu_->addAction(text);
    a->setObjectName(QString::fromLatin1(name));
    a->setShortcuts(keys);
    a->setShortcutContext(Qt::WindowShortcut);
    a->setToolTip(text + QStringLiteral(" (") + keys.first().toString(QKeySequence::NativeText) +
                  QStringLiteral(")"));
    connect(a, &QAction::triggered, this, [this, act] {
      if (CallRunner::Waiting()) return;
      if (FormWindow* w = ActiveScreenWindow()) act(*w);
    });
    addAction(a);
  };
  route(QStringLiteral("Próxima &lista"), "actProximaLista",
        {QKeySequence(Qt::CTRL | Qt::Key_Tab)}, [](FormWindow& w) { w.FocusNeighbourGrid(1); });
  route(QStringLiteral("Lista &anterior"), "actListaAnterior",
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab)},
        [](FormWindow& w) { w.FocusNeighbourGrid(-1); });
  route(QStringLiteral("Próxima &página"), "actProximaPagina",
        {QKeySequence(Qt::CTRL | Qt::Key_PageDown)}, [](FormWindow& w) { w.PressNeighbourPage(1); });
  route(QStringLiteral("Página a&nterior"), "actPaginaAnterior",
        {QKeySequence(Qt::CTRL | Qt::Key_PageUp)}, [](FormWindow& w) { w.PressNeighbourPage(-1); });
  QAction* closeScreen = windowMenu_->addAction(QStringLiteral("&Fechar a tela"));
  closeScreen->setObjectName(QStringLiteral("actFecharTela"));
  closeScreen->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F4));
  closeScreen->setToolTip(QStringLiteral("Fechar a tela ativa (Ctrl+F4)"));
  connect(closeScreen, &QAction::triggered, this, [this] {
    if (!CallRunner::Waiting()) area_->closeActiveSubWindow();
  });
  addAction(closeScreen);
  windowMenu_->addSeparator();
  windowMenu_->addAction(QStringLiteral("&Cascata"), area_, &QMdiArea::cascadeSubWindows);
  windowMenu_->addAction(QStringLiteral("&Lado a lado"), area_, &QMdiArea::tileSubWindows);

  QToolBar* bar = addToolBar(QStringLiteral("Principal"));
  bar->setObjectName(QStringLiteral("mainToolBar"));
  bar->setMovable(false);
  bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  bar->addAction(openAction_);
  bar->addSeparator();
  QAction* quitTool = bar->addAction(IconFactory::For(QStringLiteral("cancelar")), QStringLiteral("Sair"));
  quitTool->setToolTip(QStringLiteral("Fechar o sistema"));
  connect(quitTool, &QAction::triggered, this, &QWidget::close);
}

void MainWindow::RefreshLocalDatabase() {
  const DesktopSettings& s = services_.Settings();
  if (s.LocalDatabase().empty()) return;
  const host::LocalDatabaseDownload download(s.WebURL(), s.WebPort(), "PDI07310.rdmProdDesoneraImpos",
                                             s.AccessToken());
  const host::LocalDatabaseRefresh refresh = download.Refresh(s.LocalDatabase());
  if (refresh.outcome == host::LocalDatabaseRefresh::Outcome::Failed) {
    services_.ShowError(refresh.message);
  } else {
    statusBar()->showMessage(Q(refresh.message), 5000);
  }
}

bool MainWindow::CheckPrerequisites() {
  const DesktopSettings& s = services_.Settings();
  if (s.LocalDatabase().empty()) {
    services_.ShowError(
        "O banco de dados local não foi informado. Informe o arquivo com --local ou em "
        "[BancoLocal] Arquivo no arquivo de configuração.");
    return false;
  }
  if (!QFileInfo::exists(Q(s.LocalDatabase()))) {
    services_.ShowError("O banco de dados local não foi encontrado: " + s.LocalDatabase());
    return false;
  }
  std::string reason;
  if (!ServerProbe::Reachable(s.ServerHost(), s.WebPort(), std::chrono::milliseconds(3000), &reason)) {
    services_.ShowError("O servidor de aplicação não responde em " + s.WebURL() + ":" +
                        std::to_string(s.WebPort()) + ": " + reason + ".");
    return false;
  }
  return true;
}

bool MainWindow::OpenScreen() {
  if (shutDown_) return false;
  // A screen already created is only brought forward: no checks needed for that.
  const bool created = module_.Loaded() && module_.Flag("boIdCriado");
  if (!created && !CheckPrerequisites()) return false;
  if (!module_.Loaded()) {
    try {
      module_.Load(services_.Settings().ModulePath());
    } catch (const std::exception& e) {
      services_.ShowError(std::string("Não foi possível carregar o módulo da tela: ") + e.what());
      return false;
    }
  }
  UserAction::Run([this] { module_.IniProc(); });
  if (services_.Settings().TileScreens()) area_->tileSubWindows();
  SyncActiveFocus();
  // Again once the event that opened the screen (a menu, a toolbar button) has finished.
  QueueFocusSync();
  return ScreenWindow() != nullptr;
}

FormWindow* MainWindow::WindowOf(const host::TForm* form) const {
  const auto it = forms_.find(const_cast<host::TForm*>(form));
  return it == forms_.end() ? nullptr : it->second.window;
}

FormWindow* MainWindow::ScreenWindow() const {
  for (const auto& [form, tracked] : forms_)
    if (tracked.window) return tracked.window;
  return nullptr;
}

void MainWindow::Reconcile() {
  if (shutDown_) return;
  const std::vector<host::TForm*> alive = host::Application().Forms();
  // Forms that died: their windows forget them without touching them.
  for (auto it = forms_.begin(); it != forms_.end();) {
    if (std::find(alive.begin(), alive.end(), it->first) == alive.end()) {
      it->second.subscription.Abandon();
      if (it->second.window) DestroyWindowFor(it->first, false);
      it = forms_.erase(it);
    } else {
      ++it;
    }
  }
  for (host::TForm* form : alive) {
    if (forms_.count(form)) continue;
    Tracked& t = forms_[form];
    t.subscription = Subscription(*form, [this, form](const std::string& p) { OnForm(form, p); });
    if (form->Visible()) CreateWindowFor(form);
  }
}

void MainWindow::OnForm(host::TForm* form, const std::string& property) {
  FormWindow* window = WindowOf(form);
  if (property == "Visible") {
    if (form->Visible() && !window) {
      CreateWindowFor(form);
    } else if (!form->Visible() && window) {
      DestroyWindowFor(form, true);
    }
    return;
  }
  if (!window) return;
  if (property == "BringToFront") {
    area_->setActiveSubWindow(window);
    window->raise();
    window->SyncFocus();
    return;
  }
  window->OnFormModel(property);
}

void MainWindow::CreateWindowFor(host::TForm* form) {
  auto it = forms_.find(form);
  if (it == forms_.end() || it->second.window) return;
  auto* window = new FormWindow(*form, menuBar(), windowMenu_->menuAction());
  it->second.window = window;
  RestoreColumns(*window);
  area_->addSubWindow(window);
  window->ShowPlaced();
  area_->setActiveSubWindow(window);
  window->SyncFocus();
}

void MainWindow::DestroyWindowFor(host::TForm* form, bool modelsAlive) {
  auto it = forms_.find(form);
  if (it == forms_.end() || !it->second.window) return;
  FormWindow* window = it->second.window;
  it->second.window = nullptr;
  if (modelsAlive) RememberColumns(*window);
  window->Detach(modelsAlive);
  area_->removeSubWindow(window);
  window->hide();
  // Deferred: this may run inside one of the window's own event handlers.
  window->deleteLater();
}

void MainWindow::OnActivated(QMdiSubWindow* active) {
  for (auto& [form, tracked] : forms_) {
    if (!tracked.window) continue;
    const bool isActive = tracked.window == active;
    tracked.window->SetMenusShown(isActive);
    if (isActive) host::Screen().SetActiveForm(form);
  }
  QueueFocusSync();
}

void MainWindow::OnCursor() {
  const bool wait = host::Screen().Cursor() == host::crHourGlass;
  if (wait && !waitCursor_) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    waitCursor_ = true;
  } else if (!wait && waitCursor_) {
    QApplication::restoreOverrideCursor();
    waitCursor_ = false;
  }
}

void MainWindow::Shutdown() {
  if (shutDown_) return;
  RememberLayout();
  shutDown_ = true;
  UserAction::SetAfterAction({});
  disconnect(qApp, nullptr, this, nullptr);
  // Disconnected first: deleting a window makes the area announce another active window.
  disconnect(area_, nullptr, this, nullptr);
  for (auto& [form, tracked] : forms_) {
    if (FormWindow* window = std::exchange(tracked.window, nullptr)) {
      window->Detach(true);
      delete window;
    }
    tracked.subscription.Reset();
  }
  forms_.clear();
  applicationSub_.Reset();
  module_.Unload();
  screenSub_.Reset();
  if (waitCursor_) {
    QApplication::restoreOverrideCursor();
    waitCursor_ = false;
  }
  if (host::Application().MainForm() == mainForm_.get()) host::Application().SetMainForm(nullptr);
  services_.SetMainWindow(nullptr);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (!shutDown_) {
    // A call under way still needs the screens; a record being typed is not lost without asking.
    if (CallRunner::Waiting()) {
      event->ignore();
      return;
    }
    for (const auto& [form, tracked] : forms_) {
      if (tracked.window && tracked.window->HasPendingInsert()) {
        if (!FormWindow::ConfirmDiscardPending()) {
          event->ignore();
          return;
        }
        break;
      }
    }
  }
  Shutdown();
  event->accept();
}

}  // namespace desktop
