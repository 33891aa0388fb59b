#include "server/http/ConnectionBudget.h"

#include <utility>

namespace server::edge {

ConnectionBudget::Place ConnectionBudget::Admit(const std::string& ip) {
  Place place;
  std::lock_guard<std::mutex> lock(mutex_);
  if (connections_ >= limits_.maxConnections) return place;
  Address& mine = addresses_[ip];
  if (limits_.maxConnectionsPerClient != 0 && mine.connections >= limits_.maxConnectionsPerClient) {
    if (mine.connections == 0) addresses_.erase(ip);
    return place;
  }
  ++mine.connections;
  ++connections_;
  place.budget_ = this;
  place.ip_ = ip;
  return place;
}

void ConnectionBudget::Place::Leave() {
  if (budget_ == nullptr) return;
  ConnectionBudget& budget = *std::exchange(budget_, nullptr);
  std::lock_guard<std::mutex> lock(budget.mutex_);
  --budget.connections_;
  auto it = budget.addresses_.find(ip_);
  if (it != budget.addresses_.end() && --it->second.connections == 0) budget.addresses_.erase(it);
}

ConnectionBudget::Place& ConnectionBudget::Place::operator=(Place&& other) noexcept {
  if (this != &other) {
    Leave();
    budget_ = std::exchange(other.budget_, nullptr);
    ip_ = std::move(other.ip_);
  }
  return *this;
}

std::optional<ConnectionBudget::Bytes> ConnectionBudget::Reserve(size_t bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (bytesInFlight_ + bytes > limits_.maxBytesInFlight) return std::nullopt;
  bytesInFlight_ += bytes;
  Bytes held;
  held.budget_ = this;
  held.count_ = bytes;
  return held;
}

void ConnectionBudget::Bytes::Release() {
  if (budget_ == nullptr) return;
  ConnectionBudget& budget = *std::exchange(budget_, nullptr);
  std::lock_guard<std::mutex> lock(budget.mutex_);
  budget.bytesInFlight_ -= std::exchange(count_, 0);
}

ConnectionBudget::Bytes& ConnectionBudget::Bytes::operator=(Bytes&& other) noexcept {
  if (this != &other) {
    Release();
    budget_ = std::exchange(other.budget_, nullptr);
    count_ = std::exchange(other.count_, 0);
  }
  return *this;
}

}  // namespace server::edge
