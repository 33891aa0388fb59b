// TMenuItem is one entry of a menu: caption (with '&' marking the accelerator), enabling,
// visibility, OnClick and the entries of its submenu. Click() is the user's choice of the entry:
// it does nothing while the entry is disabled or hidden. Entries are owned by their form like
// every component; a menu entry only lists its sub-entries.
//
// Observers receive "Caption", "Enabled", "Visible" and "Items". Used on the user-interface
// thread only. Not copyable.
#pragma once

#include <string>
#include <vector>

#include "host/controls/Observable.h"
#include "host/core/Component.h"
#include "host/core/Events.h"

namespace host {

class TMainMenu;

class TMenuItem : public TComponent, public Observable {
 public:
  explicit TMenuItem(std::string name = {}, TComponent* owner = nullptr);
  ~TMenuItem() override;

  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string caption);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  bool Visible() const { return visible_; }
  void SetVisible(bool visible);

  TNotifyEvent OnClick;

  // The user's choice of this entry. Returns false and does nothing when the entry is disabled
  // or hidden; otherwise runs OnClick (when set; exceptions propagate) and returns true.
  bool Click();

  // Sub-entries, in order.
  const std::vector<TMenuItem*>& Items() const { return items_; }
  // Appends `item` to the submenu (taking it out of any other menu first).
  void Add(TMenuItem* item);
  // Takes `item` out of the submenu; unknown items are ignored.
  void Remove(TMenuItem* item);
  // The entry whose submenu holds this one; null for a top-level entry.
  TMenuItem* ParentItem() const { return parent_; }

 private:
  friend class TMainMenu;

  std::string caption_;
  bool enabled_ = true;
  bool visible_ = true;
  std::vector<TMenuItem*> items_;
  TMenuItem* parent_ = nullptr;
  TMainMenu* menu_ = nullptr;
};

}  // namespace host
