#include "server/http/CallGate.h"

#include <utility>

namespace server::edge {

CallGate::Entry CallGate::Enter(Slot& slot) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_) return Entry::Stopping;
  if (calls_ >= workers_ * 8) return Entry::Busy;
  ++calls_;
  slot.gate_ = this;
  slot.stream_ = false;
  return Entry::Entered;
}

bool CallGate::Slot::TakeStream() {
  std::lock_guard<std::mutex> lock(gate_->mutex_);
  if (gate_->streams_ >= gate_->workers_) return false;
  ++gate_->streams_;
  stream_ = true;
  return true;
}

void CallGate::Slot::Leave() {
  if (gate_ == nullptr) return;
  CallGate& gate = *std::exchange(gate_, nullptr);
  std::lock_guard<std::mutex> lock(gate.mutex_);
  --gate.calls_;
  if (std::exchange(stream_, false)) --gate.streams_;
  gate.idle_.notify_all();
}

CallGate::Slot& CallGate::Slot::operator=(Slot&& other) noexcept {
  if (this != &other) {
    Leave();
    gate_ = std::exchange(other.gate_, nullptr);
    stream_ = std::exchange(other.stream_, false);
  }
  return *this;
}

bool CallGate::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  return !std::exchange(closed_, true);
}

bool CallGate::Closed() {
  std::lock_guard<std::mutex> lock(mutex_);
  return closed_;
}

void CallGate::WaitIdle() {
  std::unique_lock<std::mutex> lock(mutex_);
  idle_.wait(lock, [this] { return calls_ == 0; });
}

}  // namespace server::edge
