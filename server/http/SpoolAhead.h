// SpoolAhead puts a streamed answer behind a ReplySpool and reads it ahead on the connection's
// lane, one piece per handler (so the lane's other connections keep their turns), until the whole
// answer is spooled or the spool is full. The StreamPump owns the handle returned; once it lets
// the handle go (the answer sent, or abandoned) the reading ahead stops and the store session
// behind the answer is given back at once.
//
// Used on the connection's lane only.
#pragma once

#include <boost/asio/post.hpp>

#include <memory>
#include <string>
#include <utility>

#include "server/service/ReplySpool.h"

namespace server::edge {

// The pump's side of a spool shared with the handlers reading ahead.
class SpoolHandle final : public ReplyStream {
 public:
  explicit SpoolHandle(std::shared_ptr<ReplySpool> spool) : spool_(std::move(spool)) {}
  bool Fill(std::string& out) override { return spool_->Fill(out); }

 private:
  std::shared_ptr<ReplySpool> spool_;
};

template <class Executor>
std::unique_ptr<ReplyStream> SpoolAhead(std::unique_ptr<ReplyStream> body, SpoolBudget& budget,
                                        const Executor& lane) {
  auto spool = std::make_shared<ReplySpool>(std::move(body), budget);
  struct Step {
    std::weak_ptr<ReplySpool> spool;
    Executor lane;
    void operator()() const {
      const auto held = spool.lock();
      if (held && held->ReadAhead()) boost::asio::post(lane, *this);
    }
  };
  boost::asio::post(lane, Step{spool, lane});
  return std::make_unique<SpoolHandle>(std::move(spool));
}

}  // namespace server::edge
