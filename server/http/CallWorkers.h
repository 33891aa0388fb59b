// CallWorkers runs the calls that may take long (saves, batches, history, the opening of a
// streamed answer, the local database's copy) on threads apart from the lanes, so that a heavy
// call holds back no other connection of its lane: the lane goes on reading, answering checks
// and sending answers while the call runs, and gets the call's reply back as a handler of its
// own. There are at most `maxWorkers` threads, opened as calls arrive and no worker is idle; the
// calls beyond them wait in order of arrival (the CallGate bounds how many there can be).
//
// Submit may be called from any thread; Stop and the destructor from one thread, after the last
// Submit. Not copyable or movable.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "server/http/ThrottledNotes.h"

namespace server::edge {

class CallWorkers {
 public:
  // onFailure is told what a work item raised (work is expected never to raise).
  CallWorkers(size_t maxWorkers, ThrottledNotes& notes, std::function<void(const std::string& what)> onFailure);
  ~CallWorkers();
  CallWorkers(const CallWorkers&) = delete;
  CallWorkers& operator=(const CallWorkers&) = delete;

  // Runs work on a worker, after the work queued before it. Raises std::exception when no worker
  // is open and none can be opened (no threads).
  void Submit(std::function<void()> work);

  // Runs what is queued, then ends every worker and waits for them. Idempotent.
  void Stop();

 private:
  void Work();

  const size_t maxWorkers_;
  ThrottledNotes& notes_;
  const std::function<void(const std::string&)> onFailure_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> queue_;
  std::vector<std::thread> threads_;
  size_t idle_ = 0;
  bool stopping_ = false;
};

}  // namespace server::edge
