// Subscription is one observer attached to a headless control model (host::Observable): it
// subscribes on construction and unsubscribes on destruction, so a widget that draws a model
// holds one Subscription per model and never outlives its attachment.
//
// A model that is destroyed while still observed (a form torn down by its module) cannot be
// unsubscribed from: the view that learns of it calls Abandon(), after which the destructor
// leaves the model alone.
//
// Used on the user-interface thread only. Movable (the moved-from object holds nothing), not
// copyable.
#pragma once

#include <string>

#include "host/controls/Observable.h"

namespace desktop {

class Subscription {
 public:
  Subscription() = default;
  // Subscribes `observer` to `model`. REQUIRES: model outlives this object or Abandon() is
  // called before the model dies.
  Subscription(host::Observable& model, host::Observable::Observer observer);
  ~Subscription();
  Subscription(Subscription&& other) noexcept;
  Subscription& operator=(Subscription&& other) noexcept;
  Subscription(const Subscription&) = delete;
  Subscription& operator=(const Subscription&) = delete;

  // Unsubscribes now (a no-op when empty).
  void Reset();
  // Forgets the model without unsubscribing (the model is gone).
  void Abandon();
  bool Active() const { return model_ != nullptr; }

 private:
  host::Observable* model_ = nullptr;
  int id_ = 0;
};

}  // namespace desktop
