#include "desktop/MainMenus.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QKeySequence>
#include <QList>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>
#include <functional>

#include "desktop/CallRunner.h"
#include "desktop/ClerkWords.h"
#include "desktop/FormWindow.h"
#include "desktop/IconFactory.h"
#include "desktop/MainWindow.h"

namespace desktop {

namespace {

const char* const kScreenTitle = "Produtos para Desoneração de Impostos";

}  // namespace

MainMenus::MainMenus(MainWindow& window) : window_(window) {
  BuildFileMenu();
  BuildEditMenu();
  BuildScreensMenu();
  BuildWindowMenu();
  BuildHelpMenu();
  BuildToolBar();
}

void MainMenus::AddPanelToggle(QAction* toggle) {
  if (!panelsSeparated_) windowMenu_->addSeparator();
  panelsSeparated_ = true;
  windowMenu_->addAction(toggle);
}

QAction* MainMenus::AddPanelFocus(const QString& caption, const char* name, const QKeySequence& key) {
  QAction* a = windowMenu_->addAction(QString());
  a->setObjectName(QString::fromLatin1(name));
  ClerkWords::SetKeys(*a, caption, {key});
  a->setShortcutContext(Qt::WindowShortcut);
  a->setToolTip(QString(caption).remove(QLatin1Char('&')) + QStringLiteral(" (") + ClerkWords::KeyText(key) +
                QStringLiteral(")"));
  window_.addAction(a);
  return a;
}

void MainMenus::BuildFileMenu() {
  QMenu* file = window_.menuBar()->addMenu(QStringLiteral("&Arquivo"));
  QAction* refresh = file->addAction(QStringLiteral("&Atualizar cadastros"));
  refresh->setObjectName(QStringLiteral("actAtualizarCadastros"));
  QObject::connect(refresh, &QAction::triggered, &window_, [w = &window_] { w->RefreshLocalDatabase(); });
  export_ = file->addAction(QStringLiteral("&Exportar lista…"));
  export_->setObjectName(QStringLiteral("actExportarLista"));
  export_->setToolTip(QStringLiteral("Gravar uma lista da tela em um arquivo CSV ou XLSX"));
  QObject::connect(export_, &QAction::triggered, &window_, [w = &window_] { w->ExportList(); });
  file->addSeparator();
  QAction* quit = file->addAction(QStringLiteral("&Sair"));
  quit->setObjectName(QStringLiteral("actSair"));
  QObject::connect(quit, &QAction::triggered, &window_, &QWidget::close);
}

void MainMenus::BuildEditMenu() {
  QMenu* edit = window_.menuBar()->addMenu(QStringLiteral("&Editar"));
  paste_ = edit->addAction(QStringLiteral("&Colar lista"));
  paste_->setObjectName(QStringLiteral("actColarLista"));
  ClerkWords::SetKeys(*paste_, QStringLiteral("&Colar lista"), {QKeySequence(Qt::CTRL | Qt::Key_V)});
  paste_->setShortcutContext(Qt::WindowShortcut);
  paste_->setToolTip(QStringLiteral("Incluir na lista em foco os códigos copiados, um por linha (Ctrl+V)"));
  QObject::connect(paste_, &QAction::triggered, &window_, [w = &window_] {
    const QClipboard* clipboard = QGuiApplication::clipboard();
    w->PasteList(clipboard ? clipboard->text() : QString());
  });
}

void MainMenus::BuildScreensMenu() {
  QMenu* screens = window_.menuBar()->addMenu(QStringLiteral("&Cadastros"));
  open_ = screens->addAction(IconFactory::For(QStringLiteral("abrir")), QString::fromUtf8(kScreenTitle));
  open_->setObjectName(QStringLiteral("actPDI07310"));
  open_->setToolTip(QStringLiteral("Abrir a tela Produtos para Desoneração de Impostos (PDI07310)"));
  QObject::connect(open_, &QAction::triggered, &window_, [w = &window_] { w->OpenScreen(); });
}

void MainMenus::BuildWindowMenu() {
  windowMenu_ = window_.menuBar()->addMenu(QStringLiteral("&Janela"));
  // The keyboard's routes between the lists and the pages of the active screen.
  const auto route = [this](const QString& text, const char* name, QList<QKeySequence> keys,
                            std::function<void(FormWindow&)> act) {
    QAction* a = windowMenu_->addAction(text);
    a->setObjectName(QString::fromLatin1(name));
    ClerkWords::SetKeys(*a, text, keys);
    a->setShortcutContext(Qt::WindowShortcut);
    a->setToolTip(QString(text).remove(QLatin1Char('&')) + QStringLiteral(" (") + ClerkWords::KeyText(keys.first()) +
                  QStringLiteral(")"));
    QObject::connect(a, &QAction::triggered, &window_, [w = &window_, act] {
      if (CallRunner::Waiting()) return;
      if (FormWindow* screen = w->ActiveScreenWindow()) act(*screen);
    });
    window_.addAction(a);
  };
  route(QStringLiteral("Próxima &lista"), "actProximaLista", {QKeySequence(Qt::CTRL | Qt::Key_Tab)},
        [](FormWindow& w) { w.FocusNeighbourGrid(1); });
  route(QStringLiteral("Lista &anterior"), "actListaAnterior",
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab)},
        [](FormWindow& w) { w.FocusNeighbourGrid(-1); });
  route(QStringLiteral("Próxima &página"), "actProximaPagina", {QKeySequence(Qt::CTRL | Qt::Key_PageDown)},
        [](FormWindow& w) { w.PressNeighbourPage(1); });
  route(QStringLiteral("Página a&nterior"), "actPaginaAnterior", {QKeySequence(Qt::CTRL | Qt::Key_PageUp)},
        [](FormWindow& w) { w.PressNeighbourPage(-1); });
  QAction* closeScreen = windowMenu_->addAction(QString());
  closeScreen->setObjectName(QStringLiteral("actFecharTela"));
  ClerkWords::SetKeys(*closeScreen, QStringLiteral("&Fechar a tela"), {QKeySequence(Qt::CTRL | Qt::Key_F4)});
  closeScreen->setToolTip(QStringLiteral("Fechar a tela ativa (Ctrl+F4)"));
  QObject::connect(closeScreen, &QAction::triggered, &window_, [w = &window_] {
    if (!CallRunner::Waiting()) w->Area()->closeActiveSubWindow();
  });
  window_.addAction(closeScreen);
  windowMenu_->addSeparator();
  QAction* cascade = windowMenu_->addAction(QStringLiteral("&Cascata"), &window_, [w = &window_] { w->ArrangeScreens(false); });
  cascade->setObjectName(QStringLiteral("actCascata"));
  QAction* tile = windowMenu_->addAction(QStringLiteral("Lado a la&do"), &window_, [w = &window_] { w->ArrangeScreens(true); });
  tile->setObjectName(QStringLiteral("actLadoALado"));
}

void MainMenus::BuildHelpMenu() {
  QMenu* help = window_.menuBar()->addMenu(QStringLiteral("Aj&uda"));
  about_ = help->addAction(QStringLiteral("&Sobre…"));
  about_->setObjectName(QStringLiteral("actSobre"));
  QObject::connect(about_, &QAction::triggered, &window_, [w = &window_] { w->ShowAbout(); });
}

void MainMenus::BuildToolBar() {
  QToolBar* bar = window_.addToolBar(QStringLiteral("Principal"));
  bar->setObjectName(QStringLiteral("mainToolBar"));
  bar->setMovable(false);
  bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  bar->addAction(open_);
  bar->addSeparator();
  QAction* quit = bar->addAction(IconFactory::For(QStringLiteral("cancelar")), QStringLiteral("Sair"));
  quit->setToolTip(QStringLiteral("Fechar o sistema"));
  quit->setObjectName(QStringLiteral("actSairBarra"));
  QObject::connect(quit, &QAction::triggered, &window_, &QWidget::close);
}

}  // namespace desktop
