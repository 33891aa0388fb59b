// The property-change notifier shared by every control model. A model calls Notify(property) after
// one of its properties changed; each subscribed observer receives the property's name (for
// example "Enabled", "ActivePage", "Data"). The Qt host attaches one observer per model to redraw
// the widget that shows it; tests subscribe to check what a model announced.
//
// Observers may subscribe or unsubscribe (themselves or others) while a notification is being
// delivered: an observer removed during a notification is not called afterwards, and one added
// during it is first called on the next notification.
//
// Used on the user-interface thread only. Not copyable, not movable (observers hold its address).
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace host {

class Observable {
 public:
  using Observer = std::function<void(const std::string& property)>;

  Observable() = default;
  Observable(const Observable&) = delete;
  Observable& operator=(const Observable&) = delete;
  virtual ~Observable() = default;

  // Adds an observer and returns its id (positive, never reused by this model).
  int Subscribe(Observer observer);
  // Removes the observer with this id; unknown ids are ignored.
  void Unsubscribe(int id);

 protected:
  // Calls every current observer with the property name. An exception thrown by an observer
  // propagates to the caller of Notify; observers after it are not called.
  void Notify(const std::string& property);

 private:
  struct Entry {
    int id;
    Observer observer;
  };
  std::vector<Entry> observers_;
  int nextId_ = 1;
};

}  // namespace host
