// MainWindow is the desktop's main window: a multiple-document area for the screens, its own menu
// ("Arquivo", "Cadastros", "Janela") and toolbar, and the entry "Produtos para Desoneração de
// Impostos" that opens the screen by loading the screen module and calling its IniProc (a second
// choice brings the same screen to the front and restores it).
//
// Promises:
// - It is the host's main form: a headless form model stands for it (TApplication::MainForm), and
//   the busy animation is drawn over it.
// - It follows the application's forms: a form that becomes visible gets a FormWindow in the
//   document area; a hidden or destroyed form loses it. The screen's menus are shown while its
//   window is the active one. The screen cursor model (crHourGlass) shows the wait cursor.
// - Before opening the screen it checks that the local database file exists and that the
//   application server accepts connections, and says clearly which is missing; a screen whose
//   creation fails is destroyed by the platform and never shown half-made.
// - On close it detaches the windows, destroys the forms and unloads the module, in that order.
//   While a remote call waits it does not close; when a screen has a record being inserted it
//   asks first whether to discard it, and "Não" keeps everything open as it was.
// - The keyboard focus is the models' focus: after every user action, when a screen window
//   becomes active, and whenever Qt moves the focus to no widget or to a widget that is not the
//   active control's, the focus is put back on the widget of the active screen's ActiveControl.
// - The "Janela" menu carries the keyboard routes between lists and pages (Ctrl+Tab,
//   Ctrl+Shift+Tab, Ctrl+PageDown, Ctrl+PageUp), which act on the active screen window as the
//   mouse would (see FormWindow::FocusNeighbourGrid and PressNeighbourPage).
// - With a focus log set, every change of the widget holding the focus appends one line
//   "focus: NAME" (the widget's object name; "-" for none) to that file (for tests).
//
// - Around the screens: Editar > Colar lista (Ctrl+V) pastes the clipboard's codes into the list
//   in focus, Arquivo > Exportar lista… writes a list to CSV or XLSX (see ListCommands), the
//   dockable "Histórico" panel follows the current record of the active screen's main list, and
//   Ajuda > Sobre tells the version, the server, the user and the local database's date.
// - The status bar shows whether the last remote call reached the server and how long it took.
// - The layout (geometry, toolbars and panel, column widths, splitters) is remembered per user
//   (LayoutStore), read back from the INI file of earlier releases when the user has none.
//
// Used on the user-interface thread only (except the call runner of TimedCallRunner). Not copyable
// (a QWidget).
#pragma once

#include <QMainWindow>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "desktop/HistoryPanel.h"
#include "desktop/LayoutStore.h"
#include "desktop/ScreenModule.h"
#include "desktop/Subscription.h"
#include "host/tools/ListPaste.h"

class QAction;
class QLabel;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QTimer;

namespace host {
class TForm;
}

namespace desktop {

class FormWindow;
class QtHostServices;

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  // REQUIRES: services is installed and outlives the window.
  explicit MainWindow(QtHostServices& services, QWidget* parent = nullptr);
  ~MainWindow() override;

  // Opens the screen (see the class comment). Returns true when the screen is shown afterwards.
  // Every failure is shown to the user and returns false.
  bool OpenScreen();
  // The window drawing `form`; null when none.
  FormWindow* WindowOf(const host::TForm* form) const;
  // The window of the first visible screen; null when none.
  FormWindow* ScreenWindow() const;
  QMdiArea* Area() const { return area_; }
  QAction* OpenAction() const { return openAction_; }
  ScreenModule& Module() { return module_; }
  host::TForm& MainFormModel() { return *mainForm_; }

  // Detaches the windows, destroys the forms and unloads the module (also run on close).
  void Shutdown();
  // The active screen's window; null when none.
  FormWindow* ActiveScreenWindow() const;
  // Puts the Qt focus where the active screen's model has it (see the class comment), now.
  void SyncActiveFocus();
  // Appends the focus changes to `path` (see the class comment); empty stops.
  void SetFocusLog(const std::string& path);

  // Brings the local database up to date from the server (Arquivo > Atualizar cadastros; also run
  // at start). A failure keeps the old copy and is shown once; success shows in the status bar.
  void RefreshLocalDatabase();

  // Editar > Colar lista with `text` as the clipboard's (see ListCommands::Paste). Returns the
  // summary; nothing happens (and the status bar says why) when no list may take it.
  host::PasteSummary PasteList(const QString& text);
  // Arquivo > Exportar lista…: the dialog, then the file, then a message saying what happened.
  void ExportList();
  // Ajuda > Sobre.
  void ShowAbout();
  // The text of Ajuda > Sobre.
  QString AboutText() const;

  // The history panel asks `fetcher` (HistoryPanel::ServerFetcher in the desktop; none by
  // default: the panel says the history is not available).
  void SetHistoryFetcher(HistoryPanel::Fetcher fetcher);
  HistoryPanel* History() const { return history_; }
  // The key the history panel should show now: the history key field of the active screen's
  // main list at its current record, browsing; empty when none.
  std::string CurrentHistoryKey() const;

  // A call runner for TNetConnection::SetCallRunner that runs `exchange` through CallRunner and
  // tells the status bar how long it took; a failure to reach the server shown to the user turns
  // the connection state to "Sem conexão". Calls off the user-interface thread run unshown.
  std::function<void(const std::function<void()>&)> TimedCallRunner();
  // The status bar's labels (for tests).
  QLabel* ConnectionLabel() const { return connectionLabel_; }
  QLabel* LastCallLabel() const { return lastCallLabel_; }
  // Records a finished call in the status bar (user-interface thread); a negative time keeps the
  // last time shown (only the connection state changes).
  void NoteCall(qint64 milliseconds, bool ok);

  QAction* PasteAction() const { return pasteAction_; }
  QAction* ExportAction() const { return exportAction_; }
  QAction* AboutAction() const { return aboutAction_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  struct Tracked {
    Subscription subscription;
    FormWindow* window = nullptr;
  };

  void BuildMenus();
  void Reconcile();
  void OnForm(host::TForm* form, const std::string& property);
  void CreateWindowFor(host::TForm* form);
  void DestroyWindowFor(host::TForm* form, bool modelsAlive);
  void OnActivated(QMdiSubWindow* window);
  void OnCursor();
  void QueueFocusSync();
  // The remembered layout (see DesktopSettings): read into a new screen window's grid columns,
  // written from every screen window and the main window.
  void RestoreColumns(FormWindow& window);
  void RememberColumns(FormWindow& window);
  void RememberLayout();
  void RestoreSplitters(FormWindow& window);
  void RememberSplitters(FormWindow& window);
  void FollowHistoryKey();
  void OnFocusChanged(QWidget* now);
  bool CheckPrerequisites();

  QtHostServices& services_;
  QMdiArea* area_ = nullptr;
  QMenu* windowMenu_ = nullptr;
  QAction* openAction_ = nullptr;
  QAction* pasteAction_ = nullptr;
  QAction* exportAction_ = nullptr;
  QAction* aboutAction_ = nullptr;
  QLabel* connectionLabel_ = nullptr;
  QLabel* lastCallLabel_ = nullptr;
  HistoryPanel* history_ = nullptr;
  QTimer* historyFollow_ = nullptr;
  LayoutStore layout_;
  std::unique_ptr<host::TForm> mainForm_;
  std::map<host::TForm*, Tracked> forms_;
  Subscription applicationSub_;
  Subscription screenSub_;
  ScreenModule module_;
  bool waitCursor_ = false;
  bool shutDown_ = false;
  bool focusSyncQueued_ = false;
  std::string focusLog_;
};

}  // namespace desktop
