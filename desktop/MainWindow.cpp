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
#include <QStatusBar>
#include <QToolBar>
#include <algorithm>
#include <chrono>
#include <utility>

#include "desktop/FormWindow.h"
#include "desktop/IconFactory.h"
#include "desktop/QtHostServices.h"
#include "desktop/ServerProbe.h"
#include "desktop/UserAction.h"
#include "host/controls/Application.h"
#include "host/controls/Form.h"
#include "host/controls/Screen.h"
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
  resize(1024, 768);

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
  Reconcile();
}

MainWindow::~MainWindow() { Shutdown(); }

void MainWindow::BuildMenus() {
  QMenu* file = menuBar()->addMenu(QStringLiteral("&Arquivo"));
  QAction* quit = file->addAction(QStringLiteral("&Sair"));
  quit->setObjectName(QStringLiteral("actSair"));
  connect(quit, &QAction::triggered, this, &QWidget::close);

  QMenu* screens = menuBar()->addMenu(QStringLiteral("&Cadastros"));
  openAction_ = screens->addAction(IconFactory::For(QStringLiteral("abrir")), QString::fromUtf8(kScreenTitle));
  openAction_->setObjectName(QStringLiteral("actPDI07310"));
  openAction_->setToolTip(QStringLiteral("Abrir a tela Produtos para Desoneração de Impostos (PDI07310)"));
  connect(openAction_, &QAction::triggered, this, [this] { OpenScreen(); });

  windowMenu_ = menuBar()->addMenu(QStringLiteral("&Janela"));
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
  shutDown_ = true;
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
  Shutdown();
  event->accept();
}

}  // namespace desktop
