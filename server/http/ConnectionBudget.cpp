#include "server/http/ConnectionBudget.h"

#include <algorithm>
#include <utility>

namespace server::edge {

ConnectionBudget::Place ConnectionBudget::Admit(const std::string& ip, Door* why, size_t beyondTotal) {
  Place place;
  std::lock_guard<std::mutex> lock(mutex_);
  const auto refuse = [&](Door door) {
    if (why) *why = door;
    return std::move(place);
  };
  Address& mine = addresses_[ip];
  if (limits_.maxConnectionsPerClient != 0 && mine.connections >= limits_.maxConnectionsPerClient) {
    return refuse(Door::AddressFull);
  }
  if (connections_ >= limits_.maxConnections + beyondTotal) {
    if (mine.connections == 0 && mine.bytes == 0) addresses_.erase(ip);
    return refuse(Door::TotalFull);
  }
  ++mine.connections;
  ++connections_;
  place.budget_ = this;
  place.ip_ = ip;
  if (why) *why = Door::Open;
  return place;
}

void ConnectionBudget::Forget(std::map<std::string, Address>::iterator it) {
  if (it != addresses_.end() && it->second.connections == 0 && it->second.bytes == 0) addresses_.erase(it);
}

void ConnectionBudget::Place::Leave() {
  if (budget_ == nullptr) return;
  ConnectionBudget& budget = *std::exchange(budget_, nullptr);
  std::lock_guard<std::mutex> lock(budget.mutex_);
  --budget.connections_;
  auto it = budget.addresses_.find(ip_);
  if (it != budget.addresses_.end()) {
    --it->second.connections;
    budget.Forget(it);
  }
}

ConnectionBudget::Place& ConnectionBudget::Place::operator=(Place&& other) noexcept {
  if (this != &other) {
    Leave();
    budget_ = std::exchange(other.budget_, nullptr);
    ip_ = std::move(other.ip_);
  }
  return *this;
}

ConnectionBudget::Bytes ConnectionBudget::Charge(const std::string& ip) {
  Bytes bytes;
  bytes.budget_ = this;
  bytes.ip_ = ip;
  return bytes;
}

bool ConnectionBudget::Bytes::Add(size_t n) {
  if (budget_ == nullptr) return false;
  ConnectionBudget& budget = *budget_;
  std::lock_guard<std::mutex> lock(budget.mutex_);
  if (budget.bytesInFlight_ + n > budget.limits_.maxBytesInFlight) return false;
  Address& mine = budget.addresses_[ip_];
  // An address may always send one request of the largest size.
  const size_t share = budget.limits_.maxBytesInFlightPerClient == 0
                           ? 0
                           : std::max(budget.limits_.maxBytesInFlightPerClient, budget.limits_.maxRequestBytes);
  if (share != 0 && mine.bytes + n > share) {
    budget.Forget(budget.addresses_.find(ip_));
    return false;
  }
  mine.bytes += n;
  budget.bytesInFlight_ += n;
  count_ += n;
  return true;
}

void ConnectionBudget::Bytes::Release() {
  if (budget_ == nullptr || count_ == 0) return;
  ConnectionBudget& budget = *budget_;
  std::lock_guard<std::mutex> lock(budget.mutex_);
  const size_t n = std::exchange(count_, 0);
  budget.bytesInFlight_ -= n;
  auto it = budget.addresses_.find(ip_);
  if (it != budget.addresses_.end()) {
    it->second.bytes -= n;
    budget.Forget(it);
  }
}

ConnectionBudget::Bytes& ConnectionBudget::Bytes::operator=(Bytes&& other) noexcept {
  if (this != &other) {
    Release();
    budget_ = std::exchange(other.budget_, nullptr);
    ip_ = std::move(other.ip_);
    count_ = std::exchange(other.count_, 0);
  }
  return *this;
}

}  // namespace server::edge
