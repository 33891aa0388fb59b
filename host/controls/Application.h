// TApplication is the process-wide application object: it creates forms (two-phase, see
// TForm::Initialize), owns them until they are destroyed, and knows the host's main form.
// Application() returns the one instance; it is never destroyed, so forms still alive at exit
// are not destroyed either. A host that unloads screen modules must destroy their forms first
// (DestroyForm or DestroyForms), since a form's code lives in its module.
//
// Observers receive "Forms" when the list of forms changes and "MainForm" when it is set.
// Used on the user-interface thread only. Not copyable, not movable.
#pragma once

#include <memory>
#include <type_traits>
#include <vector>

#include "host/controls/Form.h"
#include "host/controls/Observable.h"
#include "host/core/Component.h"

namespace host {

class TApplication : public TComponent, public Observable {
 public:
  TApplication();
  ~TApplication() override;

  // Creates a form of class T owned by the application: constructs it (with the application as
  // owner when T accepts a TComponent* owner), stores it into `reference`, then runs its second
  // phase (TForm::Initialize: description and OnCreate), so OnCreate handlers already see the
  // reference. If the second phase raises, the form is destroyed, `reference` is reset to null
  // and the exception propagates unchanged.
  template <class T>
  void CreateForm(T*& reference);

  // The host's main window; null until the host sets it.
  TForm* MainForm() const { return mainForm_; }
  void SetMainForm(TForm* form);

  // Forms alive and owned by the application, in creation order.
  std::vector<TForm*> Forms() const;

  // Destroys `form` now if the application owns it; unknown forms are ignored.
  void DestroyForm(TForm* form);
  // Marks an owned form to be destroyed by the next ProcessReleased (a form closing itself with
  // caFree must not be destroyed while its own handler runs).
  void Release(TForm* form);
  // Destroys the forms released since the last call. Hosts call it from their event loop.
  void ProcessReleased();
  // Destroys every owned form (last created first).
  void DestroyForms();

  // Called by a form's destructor: forgets every reference to it. Not for general use.
  void FormDestroyed(TForm* form);

 private:
  void Adopt(std::unique_ptr<TForm> form);

  std::vector<std::unique_ptr<TForm>> forms_;
  std::vector<TForm*> released_;
  TForm* mainForm_ = nullptr;
};

// The process-wide application object.
TApplication& Application();

template <class T>
void TApplication::CreateForm(T*& reference) {
  static_assert(std::is_base_of_v<TForm, T>, "CreateForm creates forms only");
  std::unique_ptr<T> form;
  if constexpr (std::is_constructible_v<T, TComponent*>) {
    form = std::make_unique<T>(this);
  } else {
    form = std::make_unique<T>();
  }
  T* raw = form.get();
  Adopt(std::move(form));
  reference = raw;
  try {
    raw->Initialize();
  } catch (...) {
    reference = nullptr;
    DestroyForm(raw);
    throw;
  }
}

}  // namespace host
