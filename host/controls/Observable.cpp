#include "host/controls/Observable.h"

#include <algorithm>

namespace host {

int Observable::Subscribe(Observer observer) {
  const int id = nextId_++;
  observers_.push_back({id, std::move(observer)});
  return id;
}

void Observable::Unsubscribe(int id) {
  std::erase_if(observers_, [id](const Entry& e) { return e.id == id; });
}

void Observable::Notify(const std::string& property) {
  if (observers_.empty()) return;
  // Walk a snapshot of the ids so observers may subscribe and unsubscribe while we deliver; each
  // id is looked up again so a removed observer is never called.
  std::vector<int> ids;
  ids.reserve(observers_.size());
  for (const Entry& e : observers_) ids.push_back(e.id);
  for (int id : ids) {
    auto it = std::find_if(observers_.begin(), observers_.end(),
                           [id](const Entry& e) { return e.id == id; });
    if (it == observers_.end()) continue;
    Observer copy = it->observer;  // the entry may be erased by the call itself
    copy(property);
  }
}

}  // namespace host
