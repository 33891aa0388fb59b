// StreamPump sends a streamed answer on a connection: the head of a 200 answer (chunked; for
// HTTP/1.0 unframed, ending with the connection), then each piece its ReplyStream fills, keeping
// one piece being filled while the one before it is being sent, then the last chunk. Each piece is
// filled in a handler of its own on the connection's lane, after those already queued there (the
// lane's other connections), so a long answer does not hold the lane from them. The pieces filled
// and not yet sent count against the server's budget of answers not yet taken (the owner's
// HoldAnswer). A client that takes nothing for the stall timeout is dropped, and so is one still
// taking the answer when its total time limit ends (however steadily it reads, a snapshot held for
// hours keeps the store from reclaiming space); a fill that raises ends the answer unfinished.
// Either way the connection is closed. However the answer ends, the ReplyStream is destroyed at
// once (which ends its read snapshot and gives back its store session) and the owner is told
// once.
//
// The pump's marks are one State, reset in one place (Start) for each answer.
//
// Used on its connection's lane only. Not copyable or movable. REQUIRES: the owner (the session
// holding the pump) outlives it.
#pragma once

#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <chrono>
#include <cstddef>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "server/http/CallGate.h"
#include "server/http/HeaderText.h"
#include "server/service/ReplyStream.h"

namespace server::edge {

// What a StreamPump needs of the connection it sends on.
class PumpOwner {
 public:
  // Keeps the owner, and so its pump, alive until the handler holding it has run.
  virtual std::shared_ptr<void> KeepAlive() = 0;
  // Counts bytes of the answer as handed to send until the handle is released.
  virtual CallGate::AnswerBytes HoldAnswer(size_t bytes) = 0;
  // Closes the connection: the answer cannot go on.
  virtual void CloseConnection() = 0;
  // The answer ended, complete or not; failure says why not ("" when the reason is unknown), sent
  // counts the bytes written.
  virtual void StreamEnded(bool complete, const std::string& failure, size_t sent) = 0;

 protected:
  ~PumpOwner() = default;
};

template <class Stream>
class StreamPump {
  using error_code = boost::system::error_code;

 public:
  StreamPump(Stream& stream, PumpOwner& owner, std::chrono::milliseconds stallTimeout)
      : stream_(stream), owner_(owner), stallTimeout_(stallTimeout) {}
  StreamPump(const StreamPump&) = delete;
  StreamPump& operator=(const StreamPump&) = delete;

  // Sends the answer body fills; keepAlive is what the head says to an HTTP/1.1 client, headers
  // go into the head besides the content type; the whole answer must be sent within timeLimit.
  // REQUIRES: no answer is under way.
  void Start(std::unique_ptr<ReplyStream> body, bool http10, bool keepAlive, std::chrono::milliseconds timeLimit,
             const std::vector<std::pair<std::string, std::string>>& headers = {}) {
    namespace http = boost::beast::http;
    state_ = State{};
    state_.body = std::move(body);
    state_.http10 = http10;
    state_.deadline = std::chrono::steady_clock::now() + timeLimit;
    // Until the answer is whole, a close (a timeout's, an abort's) resets the connection: what the
    // kernel still holds for a client that reads slowly is dropped then, not trickled out after
    // the end. A whole answer turns this off again (Finish), so a later close loses nothing.
    Linger(true);
    auto head = std::make_shared<http::response<http::empty_body>>(http::status::ok, http10 ? 10 : 11);
    head->set(http::field::content_type, header::kJson);
    for (const auto& [name, value] : headers) head->set(name, value);
    if (http10) {
      // No chunked coding in HTTP/1.0: the answer ends when the connection does.
      head->keep_alive(false);
    } else {
      head->chunked(true);
      head->keep_alive(keepAlive);
    }
    auto serializer = std::make_shared<http::response_serializer<http::empty_body>>(*head);
    ArmTimer();
    http::async_write_header(stream_, *serializer,
                             [this, keep = owner_.KeepAlive(), head, serializer](error_code ec, size_t n) {
                               if (ec) return Abort(WriteFailure(ec));
                               state_.sent += n;
                               state_.headSent = true;
                               Pump();
                             });
    Pump();
  }

 private:
  // The marks of the answer under way.
  struct State {
    std::unique_ptr<ReplyStream> body;  // null once the answer has ended
    bool http10 = false;
    std::optional<std::string> ready;  // filled, waiting to be sent
    std::string sending;               // being sent
    CallGate::AnswerBytes readyHeld;   // what they count against the budget of answers
    CallGate::AnswerBytes sendingHeld;
    std::chrono::steady_clock::time_point deadline{};
    size_t sent = 0;
    bool headSent = false;
    bool filling = false;
    bool writing = false;
    bool moreToFill = true;
    bool failed = false;  // a fill raised: failure says what
    bool done = false;    // nothing more is sent
    std::string failure;
  };

  boost::beast::tcp_stream& Lowest() { return boost::beast::get_lowest_layer(stream_); }

  // reset: a close sends a reset and drops what is unsent (SO_LINGER 0); else the usual close.
  void Linger(bool reset) {
    boost::system::error_code ignored;
    Lowest().socket().set_option(boost::asio::socket_base::linger(reset, 0), ignored);
  }

  const char* WriteFailure(const error_code& ec) const {
    if (ec != boost::beast::error::timeout) return "client went away";
    return std::chrono::steady_clock::now() >= state_.deadline ? "the answer took longer than its time limit"
                                                               : "the client took nothing for too long";
  }

  // The next write's deadline: the stall timeout, or what is left of the answer's time limit.
  void ArmTimer() {
    const auto left = state_.deadline - std::chrono::steady_clock::now();
    Lowest().expires_after(std::min<std::chrono::steady_clock::duration>(stallTimeout_, std::max(left, {})));
  }

  // Keeps one piece being filled while the one before it is being sent.
  void Pump() {
    namespace net = boost::asio;
    namespace http = boost::beast::http;
    State& s = state_;
    if (s.done) return;
    if (!s.filling && s.moreToFill && !s.ready && !s.failed) Fill();
    if (s.writing || !s.headSent) return;
    if (std::chrono::steady_clock::now() >= s.deadline) return Abort("the answer took longer than its time limit");
    if (s.ready) {
      s.sending = std::move(*s.ready);
      s.ready.reset();
      s.sendingHeld = std::move(s.readyHeld);
      if (!s.filling && s.moreToFill && !s.failed) Fill();
      if (s.sending.empty()) return Pump();
      s.writing = true;
      ArmTimer();
      auto written = [this, keep = owner_.KeepAlive()](error_code ec, size_t n) {
        state_.writing = false;
        state_.sendingHeld.Release();
        if (ec) return Abort(WriteFailure(ec));
        state_.sent += n;
        Pump();
      };
      if (s.http10) {
        net::async_write(stream_, net::buffer(s.sending), std::move(written));
      } else {
        net::async_write(stream_, http::make_chunk(net::buffer(s.sending)), std::move(written));
      }
      return;
    }
    if (s.failed) return Abort(s.failure);
    if (s.moreToFill || s.filling) return;
    // Every piece sent: the last chunk ends the answer.
    s.done = true;
    if (s.http10) return Finish(true);
    s.writing = true;
    ArmTimer();
    net::async_write(stream_, http::make_chunk_last(), [this, keep = owner_.KeepAlive()](error_code ec, size_t n) {
      state_.writing = false;
      state_.sent += n;
      Finish(!ec);
    });
  }

  // Fills the next piece on this lane, after the handler under way (and those of the lane's other
  // connections): the piece before it goes on being sent meanwhile.
  void Fill() {
    state_.filling = true;
    boost::asio::post(stream_.get_executor(), [this, keep = owner_.KeepAlive()] {
      State& s = state_;
      if (s.done) {  // the client went away before this piece's turn came
        s.filling = false;
        return Finish(false);
      }
      std::string piece;
      bool more = false;
      std::string failure;
      try {
        more = s.body->Fill(piece);
      } catch (const std::exception& e) {
        failure = std::string("failed while streaming: ") + e.what();
      }
      s.filling = false;
      if (!failure.empty()) {
        s.failed = true;
        s.failure = failure;
        s.moreToFill = false;
      } else {
        s.readyHeld = owner_.HoldAnswer(piece.size());
        s.ready = std::move(piece);
        s.moreToFill = more;
      }
      if (s.done) return Finish(false);  // aborted while filling
      Pump();
    });
  }

  void Abort(const std::string& why) {
    if (state_.failure.empty()) state_.failure = why;
    state_.done = true;
    owner_.CloseConnection();
    if (!state_.filling) Finish(false);  // else when the piece being filled comes back
  }

  void Finish(bool complete) {
    State& s = state_;
    if (!s.body) return;
    if (complete) Linger(false);
    s.body.reset();  // ends the read snapshot and gives back the store session
    s.ready.reset();
    std::string().swap(s.sending);
    s.readyHeld.Release();
    s.sendingHeld.Release();
    owner_.StreamEnded(complete, s.failure, s.sent);
  }

  Stream& stream_;
  PumpOwner& owner_;
  const std::chrono::milliseconds stallTimeout_;
  State state_;
};

}  // namespace server::edge
