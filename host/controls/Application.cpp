#include "host/controls/Application.h"

#include <algorithm>

namespace host {

TApplication::TApplication() : TComponent("Application") {}

TApplication::~TApplication() = default;

TApplication& Application() {
  // Never destroyed: forms alive at exit may belong to modules already unloaded, and other
  // statics (Screen()) may be gone by then.
  static TApplication* instance = new TApplication();
  return *instance;
}

void TApplication::SetMainForm(TForm* form) {
  if (mainForm_ == form) return;
  mainForm_ = form;
  Notify("MainForm");
}

std::vector<TForm*> TApplication::Forms() const {
  std::vector<TForm*> out;
  out.reserve(forms_.size());
  for (const auto& f : forms_) out.push_back(f.get());
  return out;
}

void TApplication::Adopt(std::unique_ptr<TForm> form) {
  forms_.push_back(std::move(form));
  Notify("Forms");
}

void TApplication::DestroyForm(TForm* form) {
  auto it = std::find_if(forms_.begin(), forms_.end(), [form](const auto& f) { return f.get() == form; });
  if (it == forms_.end()) return;
  // Take it out of the list first: the destructor calls back into FormDestroyed.
  std::unique_ptr<TForm> doomed = std::move(*it);
  forms_.erase(it);
  doomed.reset();
  Notify("Forms");
}

void TApplication::Release(TForm* form) {
  if (std::find(released_.begin(), released_.end(), form) != released_.end()) return;
  released_.push_back(form);
}

void TApplication::ProcessReleased() {
  std::vector<TForm*> doomed;
  doomed.swap(released_);
  for (TForm* form : doomed) DestroyForm(form);
}

void TApplication::DestroyForms() {
  released_.clear();
  while (!forms_.empty()) DestroyForm(forms_.back().get());
}

void TApplication::FormDestroyed(TForm* form) {
  released_.erase(std::remove(released_.begin(), released_.end(), form), released_.end());
  if (mainForm_ == form) {
    mainForm_ = nullptr;
    Notify("MainForm");
  }
  // A form owned by the application is already out of forms_ here (DestroyForm moved it out).
}

}  // namespace host
