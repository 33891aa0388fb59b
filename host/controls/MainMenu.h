// TMainMenu is a form's menu bar: the list of its top-level entries (TMenuItem). It owns nothing
// (the form owns every entry). Observers receive "Items". Used on the user-interface thread
// only. Not copyable.
#pragma once

#include <vector>

#include "host/controls/MenuItem.h"

namespace host {

class TMainMenu : public TComponent, public Observable {
 public:
  explicit TMainMenu(std::string name = {}, TComponent* owner = nullptr);
  ~TMainMenu() override;

  const std::vector<TMenuItem*>& Items() const { return items_; }
  // Appends a top-level entry (taking it out of any other menu first).
  void Add(TMenuItem* item);
  // Takes a top-level entry out; unknown items are ignored.
  void Remove(TMenuItem* item);

 private:
  friend class TMenuItem;
  std::vector<TMenuItem*> items_;
};

}  // namespace host
