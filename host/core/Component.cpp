#include "host/core/Component.h"

#include <functional>

namespace host {

TComponent::TComponent(std::string name, TComponent* owner) : name_(std::move(name)), owner_(owner) {}

TComponent::~TComponent() {
  // Destroy children in reverse creation order, so later components (which may refer to earlier
  // ones, such as a grid to its data source) go first.
  while (!owned_.empty()) owned_.pop_back();
}

std::vector<TComponent*> TComponent::Components() const {
  std::vector<TComponent*> out;
  out.reserve(owned_.size());
  for (const auto& c : owned_) out.push_back(c.get());
  return out;
}

TComponent* TComponent::FindComponent(const std::string& name) const {
  for (const auto& c : owned_) {
    if (c->Name() == name) return c.get();
    if (TComponent* found = c->FindComponent(name)) return found;
  }
  return nullptr;
}

void Abort() { throw EAbort(); }

}  // namespace host
