#include "server/http/CallWorkers.h"

#include <exception>
#include <utility>

namespace server::edge {

CallWorkers::CallWorkers(size_t maxWorkers, ThrottledNotes& notes, std::function<void(const std::string& what)> onFailure)
    : maxWorkers_(maxWorkers == 0 ? 1 : maxWorkers), notes_(notes), onFailure_(std::move(onFailure)) {}

CallWorkers::~CallWorkers() { Stop(); }

void CallWorkers::Submit(std::function<void()> work) {
  std::unique_lock<std::mutex> lock(mutex_);
  queue_.push_back(std::move(work));
  // A worker for each call waiting, up to the most: a call never waits behind another while a
  // worker could still be opened.
  if (idle_ < queue_.size() && threads_.size() < maxWorkers_) {
    try {
      threads_.emplace_back([this] { Work(); });
    } catch (const std::exception& e) {
      if (threads_.empty()) {
        queue_.pop_back();
        throw;
      }
      notes_.Note(std::string("could not open another worker (") + e.what() + "); the calls wait for one");
    }
  }
  lock.unlock();
  wake_.notify_one();
}

void CallWorkers::Work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    ++idle_;
    wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    --idle_;
    if (queue_.empty()) return;  // stopping, nothing left
    std::function<void()> work = std::move(queue_.front());
    queue_.pop_front();
    lock.unlock();
    try {
      work();
    } catch (const std::exception& e) {
      onFailure_(e.what());
    } catch (...) {
      onFailure_("an exception of unknown type");
    }
    work = nullptr;  // what it held goes before the next wait
    lock.lock();
  }
}

void CallWorkers::Stop() {
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    threads.swap(threads_);
  }
  wake_.notify_all();
  for (auto& thread : threads) {
    if (thread.joinable()) thread.join();
  }
}

}  // namespace server::edge
