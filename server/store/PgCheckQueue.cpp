#include "server/store/PgCheckQueue.h"

#include <algorithm>
#include <exception>

namespace server {

// One check waiting: its call, and the signal its thread waits on (the answer is in, or it is
// this thread's turn to send). Shared by the asking thread and the one sending it, so that the
// sender may signal it after letting the lock go, when the asker may already have returned.
struct PgCheckQueue::Waiter {
  PgConnection::PipelineCall call;
  std::condition_variable turn;
  bool taken = false;  // out of the queue, being sent by some thread
  bool done = false;   // call.result or call.error set
};

PgCheckQueue::PgCheckQueue(std::function<std::unique_ptr<PgConnection>()> connect, int connections)
    : connect_(std::move(connect)), connections_(std::max(1, connections)) {}

PgCheckQueue::~PgCheckQueue() = default;

int PgCheckQueue::OpenConnections() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return open_;
}

std::shared_ptr<PgCheckQueue::Waiter> PgCheckQueue::NextSender() const {
  if (!queue_.empty() && (!idle_.empty() || open_ < connections_)) return queue_.front();
  return nullptr;
}

PgResult PgCheckQueue::Run(const char* name, const char* sql, std::span<const std::string_view> params) {
  const auto me = std::make_shared<Waiter>();
  me->call.name = name;
  me->call.sql = sql;
  me->call.params = params;
  const auto deadline = PgConnection::Clock::now() + PgConnection::kWaitLimit;
  std::unique_lock<std::mutex> lock(mutex_);
  queue_.push_back(me);
  while (!me->done) {
    if (!me->taken && (!idle_.empty() || open_ < connections_)) {
      // This thread sends whatever is queued, its own check among the first kBatch or not.
      std::unique_ptr<PgConnection> connection;
      if (!idle_.empty()) {
        connection = std::move(idle_.back());
        idle_.pop_back();
      } else {
        ++open_;  // made in Send, outside the lock
      }
      std::vector<std::shared_ptr<Waiter>> batch;
      while (!queue_.empty() && batch.size() < kBatch) {
        batch.push_back(std::move(queue_.front()));
        batch.back()->taken = true;
        queue_.pop_front();
      }
      std::shared_ptr<Waiter> next = NextSender();  // what is left may go on another connection
      lock.unlock();
      if (next) next->turn.notify_one();
      Send(connection, batch);
      lock.lock();
      if (connection && connection->Reusable()) {
        idle_.push_back(std::move(connection));
      } else {
        connection.reset();
        --open_;
      }
      for (const auto& w : batch) w->done = true;
      next = NextSender();
      lock.unlock();
      for (const auto& w : batch) {
        if (w != me) w->turn.notify_one();
      }
      if (next) next->turn.notify_one();
      lock.lock();
      continue;
    }
    if (me->taken) {
      // Sent by another thread, whose waits on the database have deadlines of their own.
      me->turn.wait(lock);
    } else if (me->turn.wait_until(lock, deadline) == std::cv_status::timeout && !me->taken && !me->done) {
      queue_.erase(std::find(queue_.begin(), queue_.end(), me));
      throw EStoreError("the database's check connections stayed busy for " +
                            std::to_string(PgConnection::kWaitLimit.count()) + " s",
                        true);
    }
  }
  lock.unlock();
  if (me->call.error) std::rethrow_exception(me->call.error);
  return std::move(me->call.result);
}

void PgCheckQueue::Send(std::unique_ptr<PgConnection>& connection, std::span<const std::shared_ptr<Waiter>> batch) {
  std::vector<PgConnection::PipelineCall*> calls;
  calls.reserve(batch.size());
  for (const auto& w : batch) calls.push_back(&w->call);
  for (int attempt = 1;; ++attempt) {
    try {
      if (!connection) {
        connection = connect_();
        connection->EnterPipeline();
      }
      connection->RunPipeline(calls, PgConnection::Clock::now() + PgConnection::kWaitLimit);
      return;
    } catch (...) {
      // A connection lost while idle (the database restarted, or ended it) is replaced and the
      // checks sent again: nothing they do changes anything.
      const bool lost = connection && !connection->Alive();
      connection.reset();
      if (!lost || attempt > 1) {
        const std::exception_ptr error = std::current_exception();
        for (PgConnection::PipelineCall* call : calls) {
          call->result = PgResult();
          call->error = error;
        }
        return;
      }
    }
    for (PgConnection::PipelineCall* call : calls) {
      call->result = PgResult();
      call->error = nullptr;
    }
  }
}

}  // namespace server
