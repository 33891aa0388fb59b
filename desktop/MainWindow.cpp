#include "desktop/MainWindow.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDialog>
#include <QFileInfo>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QStatusBar>
#include <QTableWidget>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <utility>

#include "desktop/CallRunner.h"
#include "desktop/ConnectionStatus.h"
#include "desktop/FocusLog.h"
#include "desktop/FormWindow.h"
#include "desktop/HistoryFollower.h"
#include "desktop/ListCommands.h"
#include "desktop/LocalDatabaseUpdater.h"
#include "desktop/MainMenus.h"
#include "desktop/QtHostServices.h"
#include "desktop/ServerProbe.h"
#include "desktop/UserAction.h"
#include "host/controls/Application.h"
#include "host/controls/Form.h"
#include "host/controls/Screen.h"
#include "host/module/ModuleLoader.h"
#include "host/net/NetConnection.h"
#include "pdi_version.h"

namespace desktop {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

MainWindow::MainWindow(QtHostServices& services, QWidget* parent)
    : QMainWindow(parent), services_(services), layout_(services.Settings()) {
  setObjectName(QStringLiteral("mainWindow"));
  setWindowTitle(QStringLiteral("PDI07310 - Desoneração de Impostos"));
  area_ = new QMdiArea(this);
  area_->setObjectName(QStringLiteral("mdiArea"));
  setCentralWidget(area_);
  menus_ = std::make_unique<MainMenus>(*this);
  const DesktopSettings& s = services_.Settings();
  status_ = new ConnectionStatus(s, *statusBar(), this);
  updater_ = new LocalDatabaseUpdater(services_, *statusBar(), this);
  person_ = new QLabel(statusBar());
  person_->setObjectName(QStringLiteral("lblUsuario"));
  statusBar()->addPermanentWidget(person_);
  ShowSession();
  services_.SetSessionObserver([this] { ShowSession(); });
  // Where a screen window would be cut, the area scrolls.
  area_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  area_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);

  services_.SetUnreachableObserver([this] { NoteCall(-1, false); });

  history_ = new HistoryPanel({}, this);
  history_->setAllowedAreas(Qt::AllDockWidgetAreas);
  addDockWidget(Qt::BottomDockWidgetArea, history_);
  historyFollower_ = new HistoryFollower(
      *history_, [this] { return ActiveScreenWindow(); }, [this] { return ModelsIdle(); }, this);
  // The screen's call may have stored a change of the product shown.
  status_->SetReachedObserver([this] {
    if (history_->isVisible()) history_->RefreshSoon();
  });
  QAction* toggleHistory = history_->toggleViewAction();
  toggleHistory->setObjectName(QStringLiteral("actHistorico"));
  toggleHistory->setText(QStringLiteral("&Histórico do produto"));
  menus_->AddPanelToggle(toggleHistory);
  QAction* toHistory = menus_->AddPanelFocus(QStringLiteral("&Ir ao histórico e voltar"), "actIrHistorico",
                                             QKeySequence(Qt::Key_F6));
  connect(toHistory, &QAction::triggered, this, [this] { ToggleHistoryFocus(); });
  // The panel takes the focus only when asked (F6) or clicked, never by Qt's own focus chain.
  history_->Table()->setFocusPolicy(Qt::ClickFocus);
  history_->Table()->installEventFilter(this);

  layout_.RestoreMain(*this, history_);

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
  UserAction::SetAfterAction([this] {
    QueueFocusSync();
    historyFollower_->CatchUp();
  });
  focusLog_ = new FocusLog(this);
  if (!s.FocusLogPath().empty()) SetFocusLog(s.FocusLogPath());
  // Every dialog shown through the host services is named in the focus log.
  services_.SetDialogObserver([this](QDialog& dialog) { focusLog_->NoteDialog(dialog); });
  closeRetry_ = new QTimer(this);
  closeRetry_->setInterval(50);
  connect(closeRetry_, &QTimer::timeout, this, [this] { FinishPendingClose(); });
  // Sobre names the user the server knows: each connection that opens reads it from the service's
  // description. A connection may open off this thread (the history panel's): the name comes here
  // through the event loop, and not at all once the window is gone.
  const QPointer<MainWindow> self(this);
  host::TNetConnection::SetOpenObserver([self](const host::TNetConnection& connection) {
    const QString user = QString::fromStdString(connection.ServerUser());
    QMetaObject::invokeMethod(qApp, [self, user] { if (self) self->SetServerUser(user); }, Qt::QueuedConnection);
  });
  Reconcile();
}

MainWindow::~MainWindow() {
  host::TNetConnection::SetOpenObserver({});
  Shutdown();
}

QAction* MainWindow::OpenAction() const { return menus_->OpenAction(); }
QAction* MainWindow::PasteAction() const { return menus_->PasteAction(); }
QAction* MainWindow::ExportAction() const { return menus_->ExportAction(); }
QAction* MainWindow::AboutAction() const { return menus_->AboutAction(); }
QLabel* MainWindow::ConnectionLabel() const { return status_->ConnectionLabel(); }
QLabel* MainWindow::LastCallLabel() const { return status_->LastCallLabel(); }

bool MainWindow::ModelsIdle() const {
  return !shutDown_ && !ListCommands::Running() && !CallRunner::Waiting() && !UserAction::Running();
}

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
  // The history panel keeps the focus the user gave it (F6 or a click) until F6, Esc or a click
  // takes it back.
  if (HistoryHasFocus()) return;
  if (FormWindow* window = ActiveScreenWindow()) window->EnsureFocus();
}

bool MainWindow::HistoryHasFocus() const {
  QWidget* focus = QApplication::focusWidget();
  return focus && history_->isVisible() && history_->isAncestorOf(focus);
}

void MainWindow::ToggleHistoryFocus() {
  if (shutDown_ || CallRunner::Waiting()) return;
  if (HistoryHasFocus()) {
    // Back to the screen, where its model has the focus.
    if (FormWindow* window = ActiveScreenWindow()) window->SyncFocus();
    return;
  }
  if (!history_->isVisible()) history_->show();
  history_->raise();
  QTableWidget* table = history_->Table();
  if (!table->currentIndex().isValid() && table->rowCount() > 0) table->setCurrentCell(0, 0);
  table->setFocus(Qt::ShortcutFocusReason);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  // Esc in the history panel goes back to the screen.
  if (watched == history_->Table() && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
    ToggleHistoryFocus();
    return true;
  }
  return QMainWindow::eventFilter(watched, event);
}

void MainWindow::QueueFocusSync() {
  if (focusSyncQueued_ || shutDown_) return;
  focusSyncQueued_ = true;
  QTimer::singleShot(0, this, [this] { SyncActiveFocus(); });
}

void MainWindow::OnFocusChanged(QWidget* now) {
  if (shutDown_) return;
  FormWindow* window = ActiveScreenWindow();
  if (!window) return;
  // Only the focus inside this window (or lost from it) is put back; other windows keep theirs.
  if (now && now != this && !isAncestorOf(now)) return;
  // The menu bar holds the focus while the user walks the menus with the keyboard; the history
  // panel holds it while the user reads it.
  if (qobject_cast<QMenuBar*>(now)) return;
  if (now && history_->isAncestorOf(now)) return;
  if (now && now == window->FocusTarget()) return;
  QueueFocusSync();
}

void MainWindow::SetFocusLog(const std::string& path) { focusLog_->Open(path); }

host::PasteSummary MainWindow::PasteList(const QString& text) {
  if (!ModelsIdle()) return {};
  FormWindow* window = ActiveScreenWindow();
  QString why = QStringLiteral("Abra a tela antes de colar uma lista.");
  host::TDBGrid* grid = window ? ListCommands::PasteTarget(*window->Form(), &why) : nullptr;
  if (!grid) {
    statusBar()->showMessage(why, 8000);
    return {};
  }
  // The paste puts its own host services in place for its run: no history request may be
  // reading the process's host services on its thread meanwhile.
  history_->SetPaused(true);
  const host::PasteSummary summary = ListCommands::Paste(this, *grid, text, services_);
  history_->SetPaused(false);
  statusBar()->showMessage(PasteSummaryDialog::Headline(summary).section(QLatin1Char('\n'), 0, 0), 8000);
  // A run stopped by a failure to reach the server (collected, not shown as a dialog).
  std::string details;
  if (summary.stopped && (QtHostServices::ClerkText(summary.stopReason, &details), !details.empty())) NoteCall(-1, false);
  history_->Refresh();
  historyFollower_->CatchUp();
  QueueFocusSync();
  return summary;
}

void MainWindow::ExportList() {
  if (!ModelsIdle()) return;
  FormWindow* window = ActiveScreenWindow();
  ListCommands::Export(this, window ? window->Form() : nullptr, services_);
}

QString MainWindow::PersonText(const std::string& user, const std::string& role) {
  if (user.empty()) return {};
  return QStringLiteral("%1 — %2").arg(Q(user), role == "consulta" ? QStringLiteral("somente consulta")
                                                                     : QStringLiteral("edição"));
}

void MainWindow::ShowSession() {
  const QtHostServices::Session session = services_.CurrentSession();
  person_->setText(PersonText(session.user, session.role));
  person_->setVisible(!session.token.empty());
}

QString MainWindow::AboutText() const {
  const DesktopSettings& s = services_.Settings();
  const QtHostServices::Session session = services_.CurrentSession();
  // The user the server knows is the one its history names: the access token's. This computer's
  // login says nothing about it, so it is not shown as the user.
  QString user = serverUser_.isEmpty() ? (s.AccessToken().empty() ? QStringLiteral("não identificado (acesso sem token)")
                                                                   : QStringLiteral("o do token de acesso configurado"))
                                       : serverUser_;
  // The person signed in is the one the server's history names from now on.
  if (!session.token.empty()) user = PersonText(session.user, session.role);
  QString local = QStringLiteral("(não informado)");
  if (!s.LocalDatabase().empty()) {
    const QFileInfo file(Q(s.LocalDatabase()));
    local = file.exists() ? QStringLiteral("%1, atualizado em %2")
                                .arg(file.fileName(), file.lastModified().toString(QStringLiteral("dd/MM/yyyy HH:mm")))
                          : QStringLiteral("%1 (não encontrado)").arg(file.fileName());
  }
  return QStringLiteral("PDI07310 - Produtos para Desoneração de Impostos\n\n"
                        "Versão: %1\nServidor: %2:%3\nUsuário: %4\nBanco local: %5")
      .arg(QStringLiteral(PDI_VERSION), Q(s.WebURL()), QString::number(s.WebPort()), user, local);
}

void MainWindow::ShowAbout() {
  QMessageBox box(QMessageBox::Information, QStringLiteral("Sobre"), AboutText(), QMessageBox::Ok, this);
  box.setObjectName(QStringLiteral("dlgSobre"));
  box.button(QMessageBox::Ok)->setText(QStringLiteral("OK"));
  services_.Exec(box);
}

void MainWindow::SetHistoryFetcher(HistoryPanel::Fetcher fetcher) { history_->SetFetcher(std::move(fetcher)); }

std::string MainWindow::CurrentHistoryKey() const { return historyFollower_->CurrentKey(); }

std::function<void(const std::function<void()>&)> MainWindow::TimedCallRunner() { return status_->TimedCallRunner(); }

void MainWindow::NoteCall(qint64 milliseconds, bool ok) { status_->NoteCall(milliseconds, ok); }

void MainWindow::RefreshLocalDatabase() {
  if (shutDown_ || CallRunner::Waiting() || UserAction::Running()) return;
  updater_->RefreshAndWait();
  FinishPendingClose();
}

void MainWindow::StartUp(bool openScreen) {
  if (shutDown_) return;
  if (updater_->HaveLocalCopy()) {
    // The screen opens on the copy at hand while the new one comes.
    updater_->Start();
  } else {
    updater_->RefreshAndWait();
  }
  if (openScreen && !pendingClose_ && !shutDown_) OpenScreen();
  FinishPendingClose();
}

void MainWindow::ArrangeScreens(bool tile) {
  if (shutDown_ || CallRunner::Waiting()) return;
  if (tile) {
    area_->tileSubWindows();
  } else {
    area_->cascadeSubWindows();
  }
  layout_.SetArrangement(tile ? WindowLayout::Arrangement::Tiled : WindowLayout::Arrangement::Cascaded);
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
    services_.ShowError("Ainda não há banco de dados local (" + s.LocalDatabase() +
                        "): use Arquivo > Atualizar cadastros quando o servidor estiver no ar.");
    return false;
  }
  std::string reason;
  bool reachable = false;
  // Off the user-interface thread, as a call: the window keeps painting while it waits.
  CallRunner::Run([&] { reachable = ServerProbe::Reachable(s.ServerHost(), s.WebPort(), std::chrono::milliseconds(3000), &reason); });
  if (pendingClose_) return false;
  if (!reachable) {
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
  if (services_.Settings().TileScreens() || layout_.Remembered() == WindowLayout::Arrangement::Tiled) {
    area_->tileSubWindows();
    layout_.SetArrangement(WindowLayout::Arrangement::Tiled);
  }
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
  auto* window = new FormWindow(*form, menuBar(), menus_->WindowMenu()->menuAction());
  it->second.window = window;
  layout_.RestoreScreen(*window);
  area_->addSubWindow(window);
  layout_.RestoreWindowState(*window);
  window->ShowPlaced();
  area_->setActiveSubWindow(window);
  window->SyncFocus();
  historyFollower_->Changed();
}

void MainWindow::DestroyWindowFor(host::TForm* form, bool modelsAlive) {
  auto it = forms_.find(form);
  if (it == forms_.end() || !it->second.window) return;
  FormWindow* window = it->second.window;
  it->second.window = nullptr;
  if (modelsAlive) layout_.RememberScreen(*window);
  window->Detach(modelsAlive);
  area_->removeSubWindow(window);
  window->hide();
  // Deferred: this may run inside one of the window's own event handlers.
  window->deleteLater();
  historyFollower_->Changed();
}

void MainWindow::OnActivated(QMdiSubWindow* active) {
  for (auto& [form, tracked] : forms_) {
    if (!tracked.window) continue;
    const bool isActive = tracked.window == active;
    tracked.window->SetMenusShown(isActive);
    if (isActive) host::Screen().SetActiveForm(form);
  }
  QueueFocusSync();
  historyFollower_->Changed();
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
  std::vector<FormWindow*> screens;
  for (const auto& [form, tracked] : forms_) screens.push_back(tracked.window);
  layout_.RememberMain(*this, screens);
  shutDown_ = true;
  historyFollower_->Stop();
  updater_->Cancel();
  closeRetry_->stop();
  services_.SetDialogObserver({});
  focusLog_->Close();
  services_.SetUnreachableObserver({});
  services_.SetSessionObserver({});
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
    // A wait under way still needs the screens: it is ended now and the window closes once it
    // has unwound (FinishPendingClose). Nothing that follows is shown any more.
    if (CallRunner::Waiting() || UserAction::Running() || QApplication::activeModalWidget()) {
      event->ignore();
      if (!pendingClose_) {
        pendingClose_ = true;
        if (!AnyPendingInsert()) services_.SetQuitting(true);
        updater_->Cancel();
        CallRunner::Cancel();
        closeRetry_->start();
      }
      return;
    }
    // A record being typed is not lost without asking.
    if (AnyPendingInsert() && !FormWindow::ConfirmDiscardPending()) {
      pendingClose_ = false;
      closeRetry_->stop();
      event->ignore();
      return;
    }
  }
  closeRetry_->stop();
  updater_->Cancel();
  Shutdown();
  event->accept();
}

bool MainWindow::AnyPendingInsert() const {
  for (const auto& [form, tracked] : forms_)
    if (tracked.window && tracked.window->HasPendingInsert()) return true;
  return false;
}

void MainWindow::FinishPendingClose() {
  if (!pendingClose_ || shutDown_) return;
  // A modal dialog still up (a question of the screen) is closed as unanswered.
  if (QWidget* modal = QApplication::activeModalWidget()) {
    if (auto* dialog = qobject_cast<QDialog*>(modal); dialog && services_.Quitting()) dialog->reject();
    return;
  }
  if (CallRunner::Waiting() || UserAction::Running()) return;
  closeRetry_->stop();
  pendingClose_ = false;
  services_.SetQuitting(false);
  close();
}

}  // namespace desktop
