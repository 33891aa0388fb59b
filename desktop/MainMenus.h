// MainMenus builds the main window's own menus and toolbar and sends each entry to the main
// window's command:
//   Arquivo:  Atualizar cadastros, Exportar lista…, Sair
//   Editar:   Colar lista (Ctrl+V)
//   Cadastros: Produtos para Desoneração de Impostos (also on the toolbar, with Sair)
//   Janela:   the keyboard's routes between the lists and pages of the active screen (Ctrl+Tab,
//             Ctrl+Shift+Tab, Ctrl+PageDown, Ctrl+PageUp), Fechar a tela (Ctrl+F4), Cascata,
//             Lado a lado, and the panels' entries added with AddPanelToggle and AddPanelFocus
// Each menu's entries have accelerators of their own letter, and keys are shown as clerks read
// them (ClerkWords).
//   Ajuda:    Sobre…
// The routes and Fechar a tela do nothing while a remote call waits; they act on the active
// screen window as the mouse would (see FormWindow::FocusNeighbourGrid and PressNeighbourPage).
// Every entry has an object name ("actPDI07310", "actColarLista", …) for tests.
//
// The screens' own menus are not here: each screen window mirrors its form's menu into the bar
// before the "Janela" menu (MenuMirror).
//
// Used on the user-interface thread only. Not copyable (holds the window's actions).
#pragma once

#include <QString>

class QAction;
class QKeySequence;
class QMenu;

namespace desktop {

class MainWindow;

class MainMenus {
 public:
  // Builds the menus into `window`'s menu bar and its toolbar. REQUIRES: window's document area
  // exists; window outlives this object.
  explicit MainMenus(MainWindow& window);
  MainMenus(const MainMenus&) = delete;
  MainMenus& operator=(const MainMenus&) = delete;

  // Adds a panel's show/hide entry at the end of "Janela" (after a separator before the first).
  void AddPanelToggle(QAction* toggle);
  // Adds an entry at the end of "Janela" that moves the keyboard focus to a panel and back, with
  // its key shown in the menu (the caller connects its triggered signal). Returns it.
  QAction* AddPanelFocus(const QString& caption, const char* name, const QKeySequence& key);

  QMenu* WindowMenu() const { return windowMenu_; }
  QAction* OpenAction() const { return open_; }
  QAction* PasteAction() const { return paste_; }
  QAction* ExportAction() const { return export_; }
  QAction* AboutAction() const { return about_; }

 private:
  void BuildFileMenu();
  void BuildEditMenu();
  void BuildScreensMenu();
  void BuildWindowMenu();
  void BuildHelpMenu();
  void BuildToolBar();

  MainWindow& window_;
  QMenu* windowMenu_ = nullptr;
  QAction* open_ = nullptr;
  QAction* paste_ = nullptr;
  QAction* export_ = nullptr;
  QAction* about_ = nullptr;
  bool panelsSeparated_ = false;
};

}  // namespace desktop
