#include "server/http/CallGate.h"

#include <utility>

namespace server::edge {

CallGate::Entry CallGate::Enter(Slot& slot, const std::string& ip) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_) return Entry::Stopping;
  if (calls_ >= workers_ * 8) return Entry::Busy;
  if (answerBytes_ >= limits_.maxAnswerBytes) return Entry::AnswersPending;
  if (limits_.maxAnswerBytesPerClient != 0) {
    const auto it = addresses_.find(ip);
    if (it != addresses_.end() && it->second.answerBytes >= limits_.maxAnswerBytesPerClient) {
      return Entry::AnswersPending;
    }
  }
  ++calls_;
  ++addresses_[ip].holders;
  slot.gate_ = this;
  slot.ip_ = ip;
  slot.call_ = true;
  slot.stream_ = false;
  return Entry::Entered;
}

void CallGate::Unname(const std::string& ip) {
  const auto it = addresses_.find(ip);
  if (it != addresses_.end() && --it->second.holders == 0) addresses_.erase(it);
}

bool CallGate::Slot::TakeStream() {
  std::lock_guard<std::mutex> lock(gate_->mutex_);
  if (gate_->streams_ >= gate_->workers_) return false;
  Address& mine = gate_->addresses_[ip_];
  const size_t share = gate_->limits_.maxStreamsPerClient;
  if (share != 0 && mine.streams >= share) return false;
  ++mine.streams;
  ++gate_->streams_;
  stream_ = true;
  return true;
}

void CallGate::Slot::Handed() {
  if (gate_ == nullptr || !call_) return;
  std::lock_guard<std::mutex> lock(gate_->mutex_);
  call_ = false;
  --gate_->calls_;
  if (gate_->Idle()) gate_->idle_.notify_all();
}

void CallGate::Slot::Leave() {
  if (gate_ == nullptr) return;
  CallGate& gate = *std::exchange(gate_, nullptr);
  std::lock_guard<std::mutex> lock(gate.mutex_);
  if (std::exchange(call_, false)) --gate.calls_;
  if (std::exchange(stream_, false)) {
    --gate.streams_;
    --gate.addresses_[ip_].streams;
  }
  gate.Unname(ip_);
  if (gate.Idle()) gate.idle_.notify_all();
}

CallGate::Slot& CallGate::Slot::operator=(Slot&& other) noexcept {
  if (this != &other) {
    Leave();
    gate_ = std::exchange(other.gate_, nullptr);
    ip_ = std::move(other.ip_);
    call_ = std::exchange(other.call_, false);
    stream_ = std::exchange(other.stream_, false);
  }
  return *this;
}

CallGate::AnswerBytes CallGate::Hold(const std::string& ip, size_t bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  Address& mine = addresses_[ip];
  ++mine.holders;
  mine.answerBytes += bytes;
  answerBytes_ += bytes;
  ++answers_;
  AnswerBytes held;
  held.gate_ = this;
  held.ip_ = ip;
  held.count_ = bytes;
  return held;
}

void CallGate::AnswerBytes::Release() {
  if (gate_ == nullptr) return;
  CallGate& gate = *std::exchange(gate_, nullptr);
  std::lock_guard<std::mutex> lock(gate.mutex_);
  const size_t n = std::exchange(count_, 0);
  gate.answerBytes_ -= n;
  --gate.answers_;
  gate.addresses_[ip_].answerBytes -= n;
  gate.Unname(ip_);
  if (gate.Idle()) gate.idle_.notify_all();
}

CallGate::AnswerBytes& CallGate::AnswerBytes::operator=(AnswerBytes&& other) noexcept {
  if (this != &other) {
    Release();
    gate_ = std::exchange(other.gate_, nullptr);
    ip_ = std::move(other.ip_);
    count_ = std::exchange(other.count_, 0);
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
  idle_.wait(lock, [this] { return Idle(); });
}

}  // namespace server::edge
