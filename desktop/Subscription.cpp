#include "desktop/Subscription.h"

#include <utility>

namespace desktop {

Subscription::Subscription(host::Observable& model, host::Observable::Observer observer)
    : model_(&model), id_(model.Subscribe(std::move(observer))) {}

Subscription::~Subscription() { Reset(); }

Subscription::Subscription(Subscription&& other) noexcept
    : model_(std::exchange(other.model_, nullptr)), id_(std::exchange(other.id_, 0)) {}

Subscription& Subscription::operator=(Subscription&& other) noexcept {
  if (this != &other) {
    Reset();
    model_ = std::exchange(other.model_, nullptr);
    id_ = std::exchange(other.id_, 0);
  }
  return *this;
}

void Subscription::Reset() {
  if (model_) model_->Unsubscribe(id_);
  model_ = nullptr;
  id_ = 0;
}

void Subscription::Abandon() {
  model_ = nullptr;
  id_ = 0;
}

}  // namespace desktop
