// HandlerTable is a screen's table of published event handlers: each handler under the name the
// screen description uses for it ("cdsProdutoBeforeEdit", "FormCreate"). The description loader
// binds every event named in a description by looking the name up here (the screen's table
// first, then the base screen's). Names match without regard to ASCII letter case, as the
// platform's method names do.
//
// A Handler holds exactly one of the platform's event signatures; the loader refuses to bind a
// handler whose signature differs from the event's.
//
// Used on the user-interface thread only. Intentionally copyable and movable (a table of
// function objects; the objects a handler captures must outlive the bindings made from it).
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <variant>
#include <vector>

#include "host/core/Events.h"

namespace host {

using Handler = std::variant<TNotifyEvent, TDataSetNotifyEvent, TKeyPressEvent, TKeyEvent,
                             TCloseEvent, TMouseEvent, TFieldGetTextEvent>;

// The platform name of the signature a handler holds ("TNotifyEvent", "TKeyEvent", ...).
const char* HandlerKindName(const Handler& handler);
// The platform name of the signature with this variant index.
const char* HandlerKindName(std::size_t index);

class HandlerTable {
 public:
  // Adds `handler` under `name`. Raises EPlatformError when the name is empty, the handler is
  // empty, or a handler of that name (any letter case) is already in the table.
  void Add(std::string name, Handler handler);

  // Member-function forms: binds `method` of `self` (a virtual method dispatches virtually).
  // REQUIRES: self outlives every binding made from this table.
  template <class C, class M>
  void Add(std::string name, C* self, void (M::*method)(TObject*)) {
    Add(std::move(name), Handler(TNotifyEvent([self, method](TObject* s) { (self->*method)(s); })));
  }
  template <class C, class M>
  void Add(std::string name, C* self, void (M::*method)(TDataSet*)) {
    Add(std::move(name), Handler(TDataSetNotifyEvent([self, method](TDataSet* d) { (self->*method)(d); })));
  }
  template <class C, class M>
  void Add(std::string name, C* self, void (M::*method)(TObject*, char&)) {
    Add(std::move(name), Handler(TKeyPressEvent([self, method](TObject* s, char& k) { (self->*method)(s, k); })));
  }
  template <class C, class M>
  void Add(std::string name, C* self, void (M::*method)(TObject*, int&, TShiftState)) {
    Add(std::move(name), Handler(TKeyEvent([self, method](TObject* s, int& k, TShiftState sh) {
          (self->*method)(s, k, sh);
        })));
  }
  template <class C, class M>
  void Add(std::string name, C* self, void (M::*method)(TObject*, TCloseAction&)) {
    Add(std::move(name), Handler(TCloseEvent([self, method](TObject* s, TCloseAction& a) { (self->*method)(s, a); })));
  }
  template <class C, class M>
  void Add(std::string name, C* self, void (M::*method)(TObject*, TMouseButton, TShiftState, int, int)) {
    Add(std::move(name), Handler(TMouseEvent([self, method](TObject* s, TMouseButton b, TShiftState sh, int x, int y) {
          (self->*method)(s, b, sh, x, y);
        })));
  }
  template <class C, class M>
  void Add(std::string name, C* self, void (M::*method)(TField*, std::string&, bool)) {
    Add(std::move(name), Handler(TFieldGetTextEvent([self, method](TField* f, std::string& t, bool d) {
          (self->*method)(f, t, d);
        })));
  }

  // The handler of that name, or null when the table has none.
  const Handler* Find(std::string_view name) const;
  // The names in the order they were added.
  const std::vector<std::string>& Names() const { return names_; }
  std::size_t Size() const { return names_.size(); }

 private:
  std::unordered_map<std::string, Handler> handlers_;  // by lower-case name
  std::vector<std::string> names_;
};

}  // namespace host
