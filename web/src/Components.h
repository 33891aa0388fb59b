// Every component a form owns, at any depth (a description's components may be owned by the
// component that holds them), in creation order, depth first; and those of one type.
//
// Used on the page's one thread.
#pragma once

#include <vector>

#include "host/core/Component.h"

namespace web {

inline void CollectComponents(const host::TComponent& owner, std::vector<host::TComponent*>& out) {
  for (host::TComponent* c : owner.Components()) {
    out.push_back(c);
    CollectComponents(*c, out);
  }
}

inline std::vector<host::TComponent*> AllComponents(const host::TComponent& owner) {
  std::vector<host::TComponent*> out;
  CollectComponents(owner, out);
  return out;
}

template <class T>
std::vector<T*> ComponentsOf(const host::TComponent& owner) {
  std::vector<T*> out;
  for (host::TComponent* c : AllComponents(owner))
    if (auto* t = dynamic_cast<T*>(c)) out.push_back(t);
  return out;
}

}  // namespace web
