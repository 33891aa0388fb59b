// MainWindow is the desktop's main window: a multiple-document area for the screens, its own menus
// and toolbar, and the entry "Produtos para Desoneração de Impostos" that opens the screen by
// loading the screen module and calling its IniProc (a second choice brings the same screen to
// the front and restores it).
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
//   Closing while a remote call or the download waits ends the wait and closes once it has
//   unwound; when a screen has a record being inserted it asks first whether to discard it, and
//   "Não" keeps everything open as it was.
// - The keyboard focus is the models' focus: after every user action, when a screen window
//   becomes active, and whenever Qt moves the focus to no widget or to a widget that is not the
//   active control's, the focus is put back on the widget of the active screen's ActiveControl.
// - Commands that read or change the screen's models from the event loop (paste, export, the
//   history panel following the current record) wait while the models are busy: a user action
//   runs, a remote call waits or a paste runs.
// - The person signed in at the server and the role show in the status bar ("maria — somente
//   consulta", "maria — edição"), and Ajuda > Sobre names them; a new sign-in (the session
//   ended) updates both.
//
// Its other jobs are done by parts it owns, one role each:
// - MainMenus: the menus and the toolbar, among them the "Janela" menu's keyboard routes between
//   lists and pages (Ctrl+Tab, Ctrl+Shift+Tab, Ctrl+PageDown, Ctrl+PageUp).
// - ConnectionStatus: the status bar's server, connection state and last call's time, and the
//   call runner that times the calls.
// - HistoryFollower: the dockable "Histórico" panel follows the current record of the active
//   screen's main list.
// - WindowLayout: the layout (geometry, toolbars and panel, column widths, splitters) is
//   remembered per user (LayoutStore), read back from the INI file of earlier releases when the
//   user has none.
// - LocalDatabaseUpdater: Arquivo > Atualizar cadastros, and the refresh at start, off the
//   user-interface thread.
// - The history panel takes the keyboard focus with F6 (Janela > Ir ao histórico e voltar) and
//   gives it back with F6 or Esc.
// - FocusLog: a test hook, off unless --focus-log is given.
// - Around the screens, Editar > Colar lista (Ctrl+V) pastes the clipboard's codes into the list
//   in focus and Arquivo > Exportar lista… writes a list to CSV or XLSX (ListCommands); Ajuda >
//   Sobre tells the version, the server, the user and the local database's date.
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
#include "desktop/ScreenModule.h"
#include "desktop/Subscription.h"
#include "desktop/WindowLayout.h"
#include "host/tools/ListPaste.h"

class QAction;
class QLabel;
class QTimer;
class QMdiArea;
class QMdiSubWindow;

namespace host {
class TForm;
}

namespace desktop {

class ConnectionStatus;
class FocusLog;
class FormWindow;
class HistoryFollower;
class LocalDatabaseUpdater;
class MainMenus;
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
  QAction* OpenAction() const;
  ScreenModule& Module() { return module_; }
  host::TForm& MainFormModel() { return *mainForm_; }

  // Detaches the windows, destroys the forms and unloads the module (also run on close).
  void Shutdown();
  // The active screen's window; null when none.
  FormWindow* ActiveScreenWindow() const;
  // Puts the Qt focus where the active screen's model has it (see the class comment), now.
  void SyncActiveFocus();
  // Appends the focus changes to `path` (see FocusLog); empty stops.
  void SetFocusLog(const std::string& path);

  // Brings the local database up to date from the server (Arquivo > Atualizar cadastros), waiting
  // as for a remote call (busy panel, Cancelar; see LocalDatabaseUpdater). A failure keeps the
  // old copy and is shown once; success shows in the status bar.
  void RefreshLocalDatabase();
  // What the desktop does once its window is shown: with a local copy, the refresh runs in the
  // background and the screen (when `openScreen`) opens on the copy at once; without one, the
  // refresh is waited for first (the screen then says when there is still none).
  void StartUp(bool openScreen);
  // Janela > Lado a lado (tile) or Cascata; the choice is remembered for the next start.
  void ArrangeScreens(bool tile);
  // F6: the focus to the history panel (shown first when hidden), or back to the screen.
  void ToggleHistoryFocus();
  // True while the focus is in the history panel.
  bool HistoryHasFocus() const;
  // The user the server named for this desktop's access (Ajuda > Sobre shows it); empty: unknown.
  void SetServerUser(const QString& user) { serverUser_ = user; }
  LocalDatabaseUpdater* Updater() const { return updater_; }

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
  QLabel* ConnectionLabel() const;
  QLabel* LastCallLabel() const;
  // The status bar's person and role ("maria — somente consulta"); hidden when nobody signed in.
  QLabel* PersonLabel() const { return person_; }
  // "NAME — somente consulta" or "NAME — edição" for the signed-in session; empty when none.
  static QString PersonText(const std::string& user, const std::string& role);
  // Records a finished call in the status bar (user-interface thread); a negative time keeps the
  // last time shown (only the connection state changes).
  void NoteCall(qint64 milliseconds, bool ok);

  QAction* PasteAction() const;
  QAction* ExportAction() const;
  QAction* AboutAction() const;

 protected:
  // Closing while a wait runs (a remote call, the local database's download, a dialog of the
  // screen) ends the wait and closes once it has unwound; with a record being typed the user is
  // asked first (Não keeps everything open).
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Tracked {
    Subscription subscription;
    FormWindow* window = nullptr;
  };

  // True when nothing is using the screen's models (no user action runs, no remote call waits,
  // no paste runs) and the window is not shut down: the one test of the commands that read or
  // change the models from the event loop (see the class comment).
  bool ModelsIdle() const;
  void Reconcile();
  void OnForm(host::TForm* form, const std::string& property);
  void CreateWindowFor(host::TForm* form);
  void DestroyWindowFor(host::TForm* form, bool modelsAlive);
  void OnActivated(QMdiSubWindow* window);
  void OnCursor();
  void QueueFocusSync();
  void OnFocusChanged(QWidget* now);
  bool CheckPrerequisites();
  // Shows the signed-in person in the status bar (and for Sobre).
  void ShowSession();
  bool AnyPendingInsert() const;
  // Closes the window asked to close during a wait, once the wait has unwound.
  void FinishPendingClose();

  QtHostServices& services_;
  QMdiArea* area_ = nullptr;
  std::unique_ptr<MainMenus> menus_;
  ConnectionStatus* status_ = nullptr;
  HistoryPanel* history_ = nullptr;
  HistoryFollower* historyFollower_ = nullptr;
  FocusLog* focusLog_ = nullptr;
  LocalDatabaseUpdater* updater_ = nullptr;
  QTimer* closeRetry_ = nullptr;
  QLabel* person_ = nullptr;
  QString serverUser_;
  WindowLayout layout_;
  std::unique_ptr<host::TForm> mainForm_;
  std::map<host::TForm*, Tracked> forms_;
  Subscription applicationSub_;
  Subscription screenSub_;
  ScreenModule module_;
  bool waitCursor_ = false;
  bool shutDown_ = false;
  bool focusSyncQueued_ = false;
  bool pendingClose_ = false;
};

}  // namespace desktop
