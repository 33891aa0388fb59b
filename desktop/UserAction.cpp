#include "desktop/UserAction.h"

#include <QMessageBox>
#include <QString>
#include <exception>
#include <string>
#include <utility>

#include "desktop/QtHostServices.h"
#include "host/controls/Application.h"
#include "host/core/Component.h"
#include "host/services/HostLib.h"

namespace desktop {

namespace {

int depth = 0;
std::function<void()> afterAction;

void ShowFailure(const std::string& text) {
  QtHostServices* qtHost = QtHostServices::Installed();
  if (qtHost) {
    if (qtHost->ConsumeReported(text)) return;
    qtHost->ShowError(text);
    return;
  }
  try {
    host::Services().ShowError(text);
  } catch (const std::exception&) {
    QMessageBox::critical(nullptr, QStringLiteral("Erro"), QString::fromStdString(text));
  }
}

struct DepthGuard {
  DepthGuard() { ++depth; }
  ~DepthGuard() { --depth; }
};

}  // namespace

bool UserAction::Run(const std::function<void()>& action) {
  bool ok = false;
  if (depth == 0) {
    if (QtHostServices* qtHost = QtHostServices::Installed()) qtHost->ForgetReported();
  }
  {
    DepthGuard guard;
    try {
      action();
      ok = true;
    } catch (const host::EAbort&) {
      // The silent abort: the operation was cancelled on purpose.
    } catch (const std::exception& e) {
      ShowFailure(e.what());
    } catch (...) {
      ShowFailure("Erro inesperado.");
    }
  }
  if (depth == 0) {
    try {
      host::Application().ProcessReleased();
    } catch (...) {
      // Destructors never throw; nothing to report here.
    }
    if (afterAction) afterAction();
  }
  return ok;
}

void UserAction::SetAfterAction(std::function<void()> after) { afterAction = std::move(after); }

bool UserAction::Running() { return depth > 0; }

}  // namespace desktop
