#include "web/src/Components.h"
#include "web/src/WebSession.h"

#include <algorithm>
#include <exception>
#include <functional>

#include "host/controls/Application.h"
#include "host/controls/DBGrid.h"
#include "host/controls/Form.h"
#include "host/controls/MenuItem.h"
#include "host/core/Component.h"
#include "host/services/HostLib.h"
#include "web/src/JsImports.h"

// The module's entries, linked in (module/Module.cpp).
extern "C" {
void Initialize();
void IniProc();
}

namespace web {

WebSession& WebSession::Instance() {
  static WebSession* const session = new WebSession;
  return *session;
}

void WebSession::Start(WebHostServices::Settings settings) {
  if (services_) return;
  services_ = std::make_unique<WebHostServices>(std::move(settings));
  services_->Install();
  Initialize();
  host::Application().Subscribe([this](const std::string& property) {
    if (property == "Forms") {
      // A destroyed form takes its models, and with them these subscriptions.
      const auto forms = host::Application().Forms();
      if (watched_ && std::find(forms.begin(), forms.end(), watched_) == forms.end()) watched_ = nullptr;
    }
    pdi_js_changed();
  });
}

host::TForm* WebSession::Form() const {
  const auto forms = host::Application().Forms();
  return forms.empty() ? nullptr : forms.back();
}

host::TDBGrid* WebSession::Grid(const std::string& name) const {
  host::TForm* form = Form();
  return form ? dynamic_cast<host::TDBGrid*>(form->FindComponent(name)) : nullptr;
}

void WebSession::Watch() {
  host::TForm* form = Form();
  if (!form || form == watched_) return;
  watched_ = form;
  const auto changed = [](const std::string&) { pdi_js_changed(); };
  form->Subscribe(changed);
  for (host::TComponent* c : AllComponents(*form)) {
    if (auto* control = dynamic_cast<host::TControl*>(c)) control->Subscribe(changed);
    if (auto* item = dynamic_cast<host::TMenuItem*>(c)) item->Subscribe(changed);
  }
  pdi_js_changed();
}

bool WebSession::Run(const std::function<void()>& action) {
  if (depth_ == 0 && services_) services_->ForgetReported();
  std::string failure;
  bool ok = false;
  ++depth_;
  try {
    action();
    ok = true;
  } catch (const host::EAbort&) {
    // The silent abort: the operation was cancelled on purpose.
  } catch (const std::exception& e) {
    failure = e.what();
    if (failure.empty()) failure = "Erro inesperado.";
  } catch (...) {
    failure = "Erro inesperado.";
  }
  // The dialog waits for the clerk: shown outside the handler that caught the failure.
  if (!failure.empty() && services_ && !services_->ConsumeReported(failure)) {
    try {
      services_->ShowError(failure);
    } catch (...) {
      // The page could not show it; nothing else can.
    }
  }
  --depth_;
  if (depth_ == 0) {
    try {
      host::Application().ProcessReleased();
    } catch (...) {
      // Destructors never throw; nothing to report here.
    }
    Watch();
    pdi_js_changed();
  }
  return ok;
}

}  // namespace web
