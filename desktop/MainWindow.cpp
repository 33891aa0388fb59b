#include "desktop/MainWindow.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QPointer>
#include <QThread>
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
#include "desktop/ListCommands.h"
#include "desktop/SplitterView.h"
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
#include "host/data/DataSet.h"
#include "host/data/Field.h"
#include "host/services/HostLib.h"
#include "host/tools/ListExport.h"
#include "pdi_version.h"

namespace desktop {

namespace {

const char* const kScreenTitle = "Produtos para Desoneração de Impostos";
// The field of the main list's record set that the server's history is asked by.
const char* const kHistoryKeyField = "CDPRODUTO";

QString Q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

MainWindow::MainWindow(QtHostServices& services, QWidget* parent)
    : QMainWindow(parent), services_(services), layout_(services.Settings()) {
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
  where->setObjectName(QStringLiteral("lblOnde"));
  statusBar()->addWidget(where);
  connectionLabel_ = new QLabel(QStringLiteral("Sem chamadas ao servidor ainda"), this);
  connectionLabel_->setObjectName(QStringLiteral("lblConexao"));
  lastCallLabel_ = new QLabel(this);
  lastCallLabel_->setObjectName(QStringLiteral("lblUltimaChamada"));
  statusBar()->addPermanentWidget(connectionLabel_);
  statusBar()->addPermanentWidget(lastCallLabel_);

  services_.SetUnreachableObserver([this] {
    if (connectionLabel_) NoteCall(-1, false);
  });

  history_ = new HistoryPanel({}, this);
  history_->setAllowedAreas(Qt::AllDockWidgetAreas);
  addDockWidget(Qt::BottomDockWidgetArea, history_);
  historyFollow_ = new QTimer(this);
  historyFollow_->setInterval(250);
  connect(historyFollow_, &QTimer::timeout, this, [this] { FollowHistoryKey(); });
  historyFollow_->start();
  windowMenu_->addSeparator();
  QAction* toggleHistory = history_->toggleViewAction();
  toggleHistory->setObjectName(QStringLiteral("actHistorico"));
  toggleHistory->setText(QStringLiteral("&Histórico do produto"));
  windowMenu_->addAction(toggleHistory);

  resize(s.WindowWidth(), s.WindowHeight());
  if (!s.WindowSizeGiven()) {
    const QByteArray geometry = layout_.Read(QStringLiteral("Janela/Geometria")).toByteArray();
    if (!geometry.isEmpty()) restoreGeometry(geometry);
  }
  const QByteArray state = layout_.Read(QStringLiteral("Janela/Estado")).toByteArray();
  // The panel starts low, leaving the screens most of the height.
  if (state.isEmpty() || !restoreState(state)) resizeDocks({history_}, {170}, Qt::Vertical);

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
  if (!layout_.Enabled() || !window.Form()) return;
  for (GridView* grid : window.Grids()) {
    if (!grid->Grid()) continue;
    const QStringList widths = layout_.Read(ColumnsKey(window, *grid)).toString().split(QLatin1Char(','));
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
  RestoreSplitters(window);
}

void MainWindow::RememberColumns(FormWindow& window) {
  if (!layout_.Enabled() || !window.Form()) return;
  for (GridView* grid : window.Grids()) {
    if (!grid->Grid()) continue;
    QStringList widths;
    for (int c = 0; c < grid->model()->columnCount(); ++c) widths << QString::number(grid->columnWidth(c));
    layout_.Write(ColumnsKey(window, *grid), widths.join(QLatin1Char(',')));
  }
  RememberSplitters(window);
}

namespace {
QString SplitterKey(const FormWindow& window, const SplitterView& splitter) {
  return QStringLiteral("Divisores/") + Q(window.Form()->Name()) + QLatin1Char('.') + splitter.objectName();
}
}  // namespace

void MainWindow::RestoreSplitters(FormWindow& window) {
  for (SplitterView* splitter : window.Splitters()) {
    host::TControl* target = splitter->Target();
    if (!target) continue;
    bool ok = false;
    const int size = layout_.Read(SplitterKey(window, *splitter)).toInt(&ok);
    if (!ok || size < 8 || size > 4000) continue;
    // As a finished drag would: the neighbour's size in its model, the layout follows.
    UserAction::Run([&] {
      if (splitter->Vertical()) {
        if (target->Height() != size) target->SetHeight(size);
      } else if (target->Width() != size) {
        target->SetWidth(size);
      }
    });
  }
}

void MainWindow::RememberSplitters(FormWindow& window) {
  for (SplitterView* splitter : window.Splitters()) {
    const host::TControl* target = splitter->Target();
    if (!target) continue;
    layout_.Write(SplitterKey(window, *splitter), splitter->Vertical() ? target->Height() : target->Width());
  }
}

void MainWindow::RememberLayout() {
  if (!layout_.Enabled()) return;
  for (auto& [form, tracked] : forms_)
    if (tracked.window && !tracked.window->Detached()) RememberColumns(*tracked.window);
  layout_.Write(QStringLiteral("Janela/Geometria"), saveGeometry());
  layout_.Write(QStringLiteral("Janela/Estado"), saveState());
}

void MainWindow::BuildMenus() {
  QMenu* file = menuBar()->addMenu(QStringLiteral("&Arquivo"));
  QAction* refresh = file->addAction(QStringLiteral("&Atualizar cadastros"));
  refresh->setObjectName(QStringLiteral("actAtualizarCadastros"));
  connect(refresh, &QAction::triggered, this, [this] { RefreshLocalDatabase(); });
  exportAction_ = file->addAction(QStringLiteral("&Exportar lista…"));
  exportAction_->setObjectName(QStringLiteral("actExportarLista"));
  exportAction_->setToolTip(QStringLiteral("Gravar uma lista da tela em um arquivo CSV ou XLSX"));
  connect(exportAction_, &QAction::triggered, this, [this] { ExportList(); });
  file->addSeparator();
  QAction* quit = file->addAction(QStringLiteral("&Sair"));
  quit->setObjectName(QStringLiteral("actSair"));
  connect(quit, &QAction::triggered, this, &QWidget::close);

  QMenu* edit = menuBar()->addMenu(QStringLiteral("&Editar"));
  pasteAction_ = edit->addAction(QStringLiteral("&Colar lista"));
  pasteAction_->setObjectName(QStringLiteral("actColarLista"));
  pasteAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_V));
  pasteAction_->setShortcutContext(Qt::WindowShortcut);
  pasteAction_->setToolTip(QStringLiteral("Incluir na lista em foco os códigos copiados, um por linha (Ctrl+V)"));
  connect(pasteAction_, &QAction::triggered, this, [this] {
    const QClipboard* clipboard = QGuiApplication::clipboard();
    PasteList(clipboard ? clipboard->text() : QString());
  });

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

  QMenu* help = menuBar()->addMenu(QStringLiteral("Aj&uda"));
  aboutAction_ = help->addAction(QStringLiteral("&Sobre…"));
  aboutAction_->setObjectName(QStringLiteral("actSobre"));
  connect(aboutAction_, &QAction::triggered, this, [this] { ShowAbout(); });

  QToolBar* bar = addToolBar(QStringLiteral("Principal"));
  bar->setObjectName(QStringLiteral("mainToolBar"));
  bar->setMovable(false);
  bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  bar->addAction(openAction_);
  bar->addSeparator();
  QAction* quitTool = bar->addAction(IconFactory::For(QStringLiteral("cancelar")), QStringLiteral("Sair"));
  quitTool->setToolTip(QStringLiteral("Fechar o sistema"));
  quitTool->setObjectName(QStringLiteral("actSairBarra"));
  connect(quitTool, &QAction::triggered, this, &QWidget::close);
}

host::PasteSummary MainWindow::PasteList(const QString& text) {
  if (shutDown_ || ListCommands::Running() || CallRunner::Waiting() || UserAction::Running()) return {};
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
  QueueFocusSync();
  return summary;
}

void MainWindow::ExportList() {
  if (shutDown_ || ListCommands::Running() || CallRunner::Waiting() || UserAction::Running()) return;
  FormWindow* window = ActiveScreenWindow();
  host::TDBGrid* main = window ? ListCommands::MainList(*window->Form()) : nullptr;
  if (!main) {
    services_.ShowError("Abra a tela antes de exportar uma lista.");
    return;
  }
  host::TDBGrid* detail = ListCommands::DetailInView(*window->Form());
  static QString lastFolder;
  ExportDialog dialog(Q(window->Form()->Caption()), detail ? ListCommands::ListName(*detail) : QString(), lastFolder, this);
  if (services_.Exec(dialog) != QDialog::Accepted) return;
  // The dialog offers the detail choices only when a detail list is in view.
  const ExportDialog::Choice choice = detail ? dialog.Chosen() : ExportDialog::Choice::MainList;
  const std::string path = dialog.Path().toStdString();
  if (QFileInfo::exists(dialog.Path()) &&
      services_.MessageDlg("O arquivo " + path + " já existe. Deseja substituí-lo?", host::TMsgDlgType::mtConfirmation,
                           {host::mbYes, host::mbNo}, 0) != host::mrYes) {
    return;
  }
  int rows = 0;
  const bool ok = UserAction::Run([&] {
    host::ExportTable table;
    switch (choice) {
      case ExportDialog::Choice::MainList:
        table = host::ListExport::FromGrid(*main);
        break;
      case ExportDialog::Choice::DetailCurrent:
        table = host::ListExport::FromGrid(*detail);
        break;
      case ExportDialog::Choice::DetailAll:
        table = host::ListExport::FromGridAllRows(*detail);
        break;
    }
    rows = static_cast<int>(table.rows.size());
    try {
      host::ListExport::Write(table, path);
    } catch (const std::exception& e) {
      throw host::EPlatformError(std::string("Não foi possível exportar a lista: ") + e.what());
    }
  });
  if (!ok) return;
  lastFolder = QFileInfo(dialog.Path()).absolutePath();
  services_.MessageDlg("Lista exportada: " + std::to_string(rows) + " linha(s) gravada(s) em " + path + ".",
                       host::TMsgDlgType::mtInformation, {host::mbOK}, 0);
}

QString MainWindow::AboutText() const {
  const DesktopSettings& s = services_.Settings();
  QString user = qEnvironmentVariable("USER");
  if (user.isEmpty()) user = qEnvironmentVariable("USERNAME");
  if (user.isEmpty()) user = QStringLiteral("(desconhecido)");
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

std::string MainWindow::CurrentHistoryKey() const {
  FormWindow* window = ActiveScreenWindow();
  if (!window || !window->Form()) return {};
  host::TDBGrid* main = ListCommands::MainList(*window->Form());
  host::TDataSet* ds = main ? main->DataSet() : nullptr;
  if (!ds || ds->State() != host::TDataSetState::dsBrowse || ds->IsEmpty()) return {};
  const host::TField* key = ds->FindField(kHistoryKeyField);
  return key ? key->AsString() : std::string();
}

void MainWindow::FollowHistoryKey() {
  // The models are read only between user actions and calls.
  if (shutDown_ || !history_ || ListCommands::Running() || CallRunner::Waiting() || UserAction::Running()) return;
  if (!history_->isVisible()) return;
  history_->SetKey(CurrentHistoryKey());
}

std::function<void(const std::function<void()>&)> MainWindow::TimedCallRunner() {
  QPointer<MainWindow> self(this);
  return [self](const std::function<void()>& exchange) {
    // Calls off the user-interface thread (the history's) are not the screen's: not shown.
    if (!qApp || QThread::currentThread() != qApp->thread()) {
      CallRunner::Run(exchange);
      return;
    }
    QElapsedTimer clock;
    clock.start();
    try {
      CallRunner::Run(exchange);
    } catch (...) {
      if (self) self->NoteCall(clock.elapsed(), false);
      throw;
    }
    // The exchange has ended; a failure to reach the server is only known from its outcome,
    // which the connection raises after this, and the host services report (SetUnreachable...).
    if (self) self->NoteCall(clock.elapsed(), true);
  };
}

void MainWindow::NoteCall(qint64 milliseconds, bool ok) {
  const DesktopSettings& s = services_.Settings();
  const QString server = QStringLiteral("%1:%2").arg(Q(s.WebURL())).arg(s.WebPort());
  connectionLabel_->setText(ok ? QStringLiteral("Conectado a %1").arg(server)
                               : QStringLiteral("Sem conexão com %1").arg(server));
  connectionLabel_->setStyleSheet(ok ? QString() : QStringLiteral("color: #a01e1e;"));
  if (milliseconds >= 0) lastCallLabel_->setText(QStringLiteral("Última chamada: %1 ms").arg(milliseconds));
  // The screen's call may have stored a change of the product shown.
  if (ok && milliseconds >= 0 && history_ && history_->isVisible()) history_->RefreshSoon();
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
  historyFollow_->stop();
  services_.SetUnreachableObserver({});
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
