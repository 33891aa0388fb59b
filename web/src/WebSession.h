// WebSession is the browser host's application: it installs the host services, opens the screen
// through the module's entries (linked in: Initialize, then IniProc), tells the page when anything
// it draws changed, and runs every user action the page passes on (a key, a click on a cell, a
// tab, a button or a menu entry, a paste, an export) against the headless models under the
// host's failure policy, as the desktop does:
//   - the silent abort is swallowed (the screen already said what it had to);
//   - a remote failure that the result check has just shown is not shown again;
//   - anything else raised is shown in the error dialog.
// After each action, forms that closed themselves for good are destroyed.
//
// The keys are the desktop's (README's key table), with browser-safe equivalents for the keys a
// browser keeps for itself: Alt+L / Alt+Shift+L for the next / previous list (Ctrl+Tab),
// Alt+PageDown / Alt+PageUp for the next / previous page (Ctrl+PageDown / PageUp), Alt+W to close
// the screen (Ctrl+F4, Ctrl+W). The desktop's keys still work where the browser lets them through.
//
// Thread rules: the page's one thread. One action at a time: the page queues events that arrive
// while an action waits (a dialog, a remote call). Not copyable; one instance (Instance()).
#pragma once

#include <memory>
#include <string>

#include "web/src/WebHostServices.h"

namespace host {
class TControl;
class TDBGrid;
class TForm;
}  // namespace host

namespace web {

class WebSession {
 public:
  static WebSession& Instance();
  WebSession(const WebSession&) = delete;
  WebSession& operator=(const WebSession&) = delete;

  // Installs the host services with settings and loads the module (its Initialize). Once.
  void Start(WebHostServices::Settings settings);

  // Runs one user action described by json (see InputRouter.cpp for the vocabulary) under the
  // failure policy. Never raises. May wait (dialogs, remote calls).
  void Act(const std::string& json);
  // What the last action left for the page ({} when nothing), e.g. the file an export wrote.
  const std::string& Result() const { return result_; }

  // The screen's form; null before it is opened or after it was destroyed.
  host::TForm* Form() const;
  // The grid named `name` on the form; null when none.
  host::TDBGrid* Grid(const std::string& name) const;

  // Runs action under the failure policy; returns true when it ended normally.
  bool Run(const std::function<void()>& action);
  void SetResult(std::string result) { result_ = std::move(result); }

  // Subscribes to every model of the form (again, after it changed), so the page hears of changes.
  void Watch();

 private:
  WebSession() = default;
  void Forget();

  std::unique_ptr<WebHostServices> services_;
  std::string result_;
  host::TForm* watched_ = nullptr;
  int depth_ = 0;
};

}  // namespace web
