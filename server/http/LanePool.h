// LanePool holds the lanes that serve connections. A lane is one thread serving its connections
// from start to end: it reads a request, runs its call and writes its answer itself, so a call
// costs no hand-over between threads (each hand-over is a wake-up, which on a busy machine costs
// more than a small call). There are at most `maxLanes` lanes (the workers), so the store sees at
// most that many calls at once. A lane is opened when a connection arrives and every lane already
// serves one, so with fewer connections than workers each has a thread of its own; past that, a
// new connection joins the lane serving the fewest. A slow call holds back only the connections
// of its own lane.
//
// A connection holds its lane through a move-only Seat, given back when destroyed. A lane's
// thread runs until the pool is released (Release) and its connections have ended, or until
// StopNow.
//
// Take, Release and StopNow may be called from any thread; Join from one thread, once no more
// seats are taken. Not copyable or movable. REQUIRES: Join has returned before the pool is
// destroyed (when a lane was ever opened).
#pragma once

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "server/http/NetworkLoop.h"
#include "server/http/ThrottledNotes.h"

namespace server::edge {

class LanePool {
  struct Lane;

 public:
  // onFailure: see RunNetworkLoop (each lane's thread runs one); notes get "could not open another
  // lane".
  LanePool(size_t maxLanes, ThrottledNotes& notes, std::function<void(const std::string& what)> onFailure);
  ~LanePool();
  LanePool(const LanePool&) = delete;
  LanePool& operator=(const LanePool&) = delete;

  // A connection's place on a lane. Move-only.
  class Seat {
   public:
    Seat() = default;  // holds nothing
    Seat(Seat&& other) noexcept { *this = std::move(other); }
    Seat& operator=(Seat&& other) noexcept;
    ~Seat() { Leave(); }
    // The lane's context. REQUIRES: the seat holds a lane.
    boost::asio::io_context& Context();

   private:
    friend class LanePool;
    void Leave();
    LanePool* pool_ = nullptr;
    Lane* lane_ = nullptr;
  };

  // A seat on the lane a new connection goes to, opening a lane when that is due. Raises
  // std::exception when no lane is open and none can be opened (no descriptors or threads).
  Seat Take();

  // Lets every lane end once its connections have.
  void Release();
  // Stops every lane now, whatever its connections are doing.
  void StopNow();
  // Waits for every lane's thread to end.
  void Join();

 private:
  struct Lane {
    size_t seats = 0;  // under mutex_; before the context, whose end ends its connections
    boost::asio::io_context context{1};
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> guard{context.get_executor()};
    std::thread thread;
  };

  const size_t maxLanes_;
  ThrottledNotes& notes_;
  const std::function<void(const std::string&)> onFailure_;
  // Before the lanes: a connection ended as its lane's context is destroyed leaves its seat here.
  std::mutex mutex_;
  std::vector<std::unique_ptr<Lane>> lanes_;
};

}  // namespace server::edge
