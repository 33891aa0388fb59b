// QtHostServices is the desktop's implementation of the host services that screens call through
// the platform's host library (MensErro, MessageDlg, CheckResultServ, Pesquisar_Plus, Procura,
// ActiveShowAvi, DeactiveShowAvi, WebURL, WebPort, DBPict): real modal dialogs, the busy
// animation over the main window, and the settings of DesktopSettings.
//
// Promises:
// - Questions show the buttons asked for, in Portuguese ("&Sim", "&Não", "&OK", "&Cancelar", ...,
//   each answered by its letter alone or with Alt), and return the platform's modal results
//   (mrYes 6, mrNo 7, ...). Closing a question without a button answers Cancel when offered, else
//   No, else OK. The default button (Não when offered) holds the focus.
// - The pick list positions the record set on the chosen row before returning true; the search
//   dialog moves the record set's cursor to the row found.
// - The busy animation shows while any show is outstanding and carries a caption by kind (0
//   connecting, 6 loading or saving, 1 the caller's caption, validating); the wait cursor is shown
//   with it.
// - A result failure reported through ReportResultError is remembered, so that the same failure
//   reaching the host's failure policy right after (UserAction) is not shown twice.
// - Every dialog runs through Exec, where a test hook, when set, receives the live dialog right
//   after it is shown and answers it (clicks a button, types, presses Enter). A hook that leaves
//   the dialog open has it rejected, so no test ever waits on a modal dialog.
// - Every dialog and animation change is also written to Log() in the lines of the platform's
//   scripted host: "message: TEXT", "question: TEXT -> yes|no|ok|cancel", "picklist: TEXT -> N|none",
//   "search: NAME", "busy: on KIND[ CAPTION]", "busy: off", "signin: USER ROLE|cancel".
// - A failure to reach the server is shown in the clerk's words ("Não foi possível falar com o
//   servidor HOST:PORT (conexão recusada).", or that the call was cancelled when the user ended
//   the wait); the connection's own text, with the method called, is behind the dialog's details
//   button, in Log() as "detail: TEXT" and on standard error.
// - Install also hands large record set loads to a worker thread (RunLoad), and wires the call
//   runner: a remote call that receives nothing for the settings' stall timeout fails, and a
//   call still waiting after CallRunner::kOfferCancelAfter gets a "Cancelar" button on the busy
//   animation (shown for it when no animation was up).
//
// - Sign-in: when the server refuses a request for its access (HTTP 401) on the user-interface
//   thread, SignIn asks the person to sign in again (the name filled in) and the connection sends
//   the request once more with the new session (TNetConnection::SetAccessRenewer, wired by
//   Install); Cancelar fails the request with a message saying the session ended, and the screen
//   keeps what was being typed. The session's token is then the access token, and a consulta
//   session has ReadOnlyAccess.
//
// Thread rules: user-interface thread only, except the settings getters (WebURL, WebPort,
// DBPict, LocalDatabasePath, CaFile, Insecure), which read immutable values, and AccessToken,
// ReadOnlyAccess and CurrentSession, which read the session under a lock: these may be called
// from any thread.
// Not copyable or movable.
#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "desktop/DesktopSettings.h"
#include "host/net/SignIn.h"
#include "host/services/HostServices.h"

class QDialog;

namespace desktop {

class BusyIndicator;

class QtHostServices : public host::HostServices {
 public:
  using DialogHook = std::function<void(QDialog& dialog)>;

  explicit QtHostServices(DesktopSettings settings);
  // Uninstalls itself when installed.
  ~QtHostServices() override;

  // Installs this object as the process's host services (host::SetHostServices) and wires the
  // call runner's cancel and the connections' stall timeout (see the class comment).
  void Install();
  // The installed QtHostServices, or null when none (or another kind) is installed.
  static QtHostServices* Installed();

  // The window the dialogs and the busy animation belong to (may be null; not owned).
  void SetMainWindow(QWidget* window);
  QWidget* MainWindow() const { return window_; }
  // The busy animation; null until a main window is set.
  BusyIndicator* Busy() const;
  // Runs the work of a large record set load (what Install hands to TClientDataSet's load
  // runner) on a worker thread through CallRunner::RunToEnd, the busy animation turning meanwhile
  // ("Carregando os dados..." when no animation was up; hidden again after).
  void RunLoad(const std::function<void()>& work);

  const DesktopSettings& Settings() const { return settings_; }

  // Told when a failure to reach the server is about to be shown (the status bar says so).
  void SetUnreachableObserver(std::function<void()> observer) { unreachable_ = std::move(observer); }

  // Test hook (see the class comment); an empty hook restores normal modal dialogs.
  void SetDialogHook(DialogHook hook) { hook_ = std::move(hook); }
  // Told of every dialog about to be shown through Exec (the focus log names it); empty: none.
  void SetDialogObserver(DialogHook observer) { dialogObserver_ = std::move(observer); }
  // While quitting (the user closed the desktop during a wait), Exec shows nothing and returns
  // QDialog::Rejected: errors are only logged and questions take their answer for a closed box.
  void SetQuitting(bool quitting) { quitting_ = quitting; }
  bool Quitting() const { return quitting_; }
  // Runs a dialog modally (through the hook when set) and returns its result code.
  int Exec(QDialog& dialog);

  const std::vector<std::string>& Log() const { return log_; }
  void ClearLog() { log_.clear(); }
  int BusyDepth() const { return busyDepth_; }

  // A slow call began waiting (true) or ended (false): offers or withdraws "Cancelar".
  void SetCallSlow(bool slow);
  // The text a clerk reads for a failure: a failure to reach the server becomes "Não foi possível
  // falar com o servidor HOST:PORT (REASON)." and `details` (when not null) receives the original
  // text; a request refused for its access (HTTP 401) says the session ended and that nothing was
  // stored (the details get the original); any other text is returned unchanged and `details` is
  // cleared.
  static std::string ClerkText(const std::string& text, std::string* details);

  // Shows `shown` in the error dialog with `details` (when not empty) behind its details button,
  // in Log() ("message:", "detail:") and on standard error.
  void ShowErrorWithDetails(const std::string& shown, const std::string& details);
  // True (and forgets it) when `text` is the failure ReportResultError showed last.
  bool ConsumeReported(const std::string& text);
  // Forgets the last reported failure (a new user action begins).
  void ForgetReported() { reported_.clear(); }

  // ---- Sign-in --------------------------------------------------------------------------------
  // The person signed in at the server (SignInDialog); token empty when nobody is: the settings'
  // access token is then sent, if any.
  struct Session {
    std::string token;
    std::string user;  // as the server spells it
    std::string role;  // "edicao" or "consulta"
  };
  Session CurrentSession() const;
  // Makes `session` the one the desktop works under and tells the session observer.
  void SetSession(Session session);
  // Told on the user-interface thread after each change of session (the status bar shows it).
  void SetSessionObserver(std::function<void()> observer) { sessionObserver_ = std::move(observer); }
  // Shows the sign-in dialog (through Exec), the last session's name filled in and `notice` (when
  // not empty) saying why; true once signed in (the session is then set), false when the person
  // gave up. Not re-entered: while one dialog is up, another request answers false at once.
  bool SignIn(const QString& notice = {});
  // At start, before the screen: opens a connection to the service as a screen would (off the
  // user-interface thread), so that a server that wants a sign-in (no token configured, or the
  // token refused) gets it now, through RenewAccess. Returns false only when the server refused
  // the access and the person gave up (the desktop then ends); a server that cannot be reached
  // returns true (the screen says so when opened). REQUIRES: installed.
  bool EnsureAccess();
  // The sign-in the server asks for when a request is refused for its access (401): asked on the
  // user-interface thread only (false elsewhere, and while quitting).
  bool RenewAccess();
  // What the sign-in dialog signs in with (tests); empty: host::SignIn.
  void SetSigner(std::function<host::SignInAnswer(const host::SignInServer&, const std::string&, const std::string&)> signer) {
    signer_ = std::move(signer);
  }

  // ---- host::HostServices ---------------------------------------------------------------------
  void ShowError(const std::string& text) override;
  int MessageDlg(const std::string& text, host::TMsgDlgType type, host::TMsgDlgButtons buttons,
                 int helpContext) override;
  void ReportResultError(const std::string& text) override;
  bool PickList(host::TDataSource* source, const std::string& text, bool flag1,
                bool flag2) override;
  void Search(host::TDataSet* dataSet) override;
  void ShowAvi(host::TForm* mainForm, int kind, const std::string& caption) override;
  void HideAvi() override;
  std::string WebURL() override { return settings_.WebURL(); }
  int WebPort() override { return settings_.WebPort(); }
  std::string DBPict(int pictType) override;
  std::string LocalDatabasePath() override { return settings_.LocalDatabase(); }
  std::string AccessToken() override;
  bool ReadOnlyAccess() override;
  std::string CaFile() override { return settings_.CaFile(); }
  bool Insecure() override { return settings_.Insecure(); }

 private:
  void Write(std::string line);

  const DesktopSettings settings_;
  QPointer<QWidget> window_;
  QPointer<BusyIndicator> busy_;
  DialogHook hook_;
  DialogHook dialogObserver_;
  std::function<void()> unreachable_;
  std::vector<std::string> log_;
  std::string reported_;
  int busyDepth_ = 0;
  bool waitCursor_ = false;
  bool busyForSlowCall_ = false;
  bool quitting_ = false;
  mutable std::mutex sessionMutex_;
  Session session_;  // guarded by sessionMutex_
  std::function<void()> sessionObserver_;
  std::function<host::SignInAnswer(const host::SignInServer&, const std::string&, const std::string&)> signer_;
  bool signingIn_ = false;
};

}  // namespace desktop
