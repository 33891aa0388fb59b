#include "server/http/LanePool.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>

#include <exception>
#include <utility>

namespace server::edge {

LanePool::LanePool(size_t maxLanes, ThrottledNotes& notes, std::function<void(const std::string& what)> onFailure)
    : maxLanes_(maxLanes), notes_(notes), onFailure_(std::move(onFailure)) {}

LanePool::~LanePool() = default;

LanePool::Seat LanePool::Take() {
  std::lock_guard<std::mutex> lock(mutex_);
  Lane* least = nullptr;
  for (auto& lane : lanes_) {
    if (least == nullptr || lane->seats < least->seats) least = lane.get();
  }
  if ((least == nullptr || least->seats > 0) && lanes_.size() < maxLanes_) {
    try {
      auto lane = std::make_unique<Lane>();
      // The lane's descriptors (its poller, its wake-up and timer descriptors) are made now,
      // where their lack can be handled, not when its first connection arrives.
      boost::asio::ip::tcp::socket warmUp(lane->context);
      boost::asio::steady_timer warmUpTimer(lane->context);
      Lane* opened = lane.get();
      lanes_.push_back(std::move(lane));
      opened->thread = std::thread([this, opened] { RunNetworkLoop(opened->context, onFailure_); });
      least = opened;
    } catch (const std::exception& e) {
      // Out of descriptors or threads: the lanes there are serve it.
      if (least == nullptr) throw;
      notes_.Note(std::string("could not open another lane (") + e.what() + "); sharing one");
    }
  }
  ++least->seats;
  Seat seat;
  seat.pool_ = this;
  seat.lane_ = least;
  return seat;
}

boost::asio::io_context& LanePool::Seat::Context() { return lane_->context; }

void LanePool::Seat::Leave() {
  if (pool_ == nullptr) return;
  LanePool& pool = *std::exchange(pool_, nullptr);
  std::lock_guard<std::mutex> lock(pool.mutex_);
  --std::exchange(lane_, nullptr)->seats;
}

LanePool::Seat& LanePool::Seat::operator=(Seat&& other) noexcept {
  if (this != &other) {
    Leave();
    pool_ = std::exchange(other.pool_, nullptr);
    lane_ = std::exchange(other.lane_, nullptr);
  }
  return *this;
}

void LanePool::Release() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& lane : lanes_) lane->guard.reset();
}

void LanePool::StopNow() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& lane : lanes_) lane->context.stop();
}

void LanePool::Join() {
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& lane : lanes_) threads.push_back(std::move(lane->thread));
  }
  for (auto& thread : threads) {
    if (thread.joinable()) thread.join();
  }
}

}  // namespace server::edge
