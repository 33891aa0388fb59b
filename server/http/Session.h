// A session serves one connection from its accept to its close, on the connection's lane: it
// reads requests one after the other (pipelined ones in order), has each head judged
// (JudgeHead), reads the body within its budget, runs the call itself and writes the answer
// (a streamed one through a StreamPump), then waits for the next request or ends the connection.
// Its limits and answers are those HttpServer.h describes.
//
// A session sees of the server only its SessionHost: the limits, the service, the log and the
// budgets, each with a narrow interface of its own. It holds its connection's shares of those
// budgets as handles, so whatever ends it gives them back. The marks of the request under way
// are one struct, reset in one place as each request begins. The session itself is BasicSession
// (BasicSession.h), made by PlainSession.cpp and TlsSession.cpp.
//
// Start and Abandon may be called from any thread; everything else runs on the lane. A session
// is kept alive by the handlers it has pending and ends with the last. Not copyable.
#pragma once

#include <boost/asio/ip/tcp.hpp>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "server/http/CallGate.h"
#include "server/http/CallLog.h"
#include "server/http/CallWorkers.h"
#include "server/http/ConnectionBudget.h"
#include "server/http/HttpOptions.h"
#include "server/http/LanePool.h"
#include "server/http/LiveConfig.h"
#include "server/http/ServerMetrics.h"
#include "server/http/ThrottledNotes.h"
#include "server/service/ReplySpool.h"

namespace boost::asio::ssl {
class context;
}

namespace server {
class AccessControl;
class Gatekeeper;
class LocalDbPublisher;
class PageFiles;
class RemoteService;
}  // namespace server

namespace server::edge {

// What a session may use of the server that owns it. REQUIRES: all of it outlives the sessions.
struct SessionHost {
  const HttpLimits& limits;
  const LiveConfig& live;     // the tokens and trusted proxies, which a reload may change
  AccessControl* access;      // null: no sign-in, the live tokens alone decide
  LocalDbPublisher* localDb;  // null: no local database route
  RemoteService& service;
  CallLog& log;
  ThrottledNotes& notes;
  ConnectionBudget& budget;
  CallGate& calls;
  CallWorkers& workers;
  ServerMetrics& metrics;
  SpoolBudget& spool;
  const PageFiles* page = nullptr;  // null: no browser client under "/"
};

// An admitted connection: its shares, and who it is.
struct Admission {
  ConnectionBudget::Place place;
  LanePool::Seat seat;
  std::string client;  // "HOST:PORT", an IPv6 address in brackets
  std::string ip;      // the address alone: what the per-address shares are kept by
  ServerMetrics::OpenConnection open{};  // counted open while the connection lives
  std::shared_ptr<const void> tls{};     // the TLS context the connection began with, kept alive
};

class SessionBase {
 public:
  virtual ~SessionBase() = default;
  // Begins serving (the TLS handshake first, when there is one), on the session's lane.
  virtual void Start() = 0;
  // Closes the connection at once, on the session's lane.
  virtual void Abandon() = 0;

  // What the server may close to make room at its connection cap: a connection waiting for a
  // request. First those that never sent one, oldest first; then those kept alive between
  // requests, longest waiting first. Read from any thread.
  enum class Waiting { No, Fresh, KeptAlive };
  Waiting WaitingNow() const { return evicted_ ? Waiting::No : waiting_.load(std::memory_order_relaxed); }
  std::int64_t WaitingSince() const { return waitingSince_.load(std::memory_order_relaxed); }
  // Claims the session for closing to make room; false when it was claimed already.
  bool ClaimForEviction() { return !evicted_.exchange(true); }

 protected:
  // The session says what it is doing (on its lane).
  void MarkWaiting(bool servedBefore) {
    waitingSince_.store(std::chrono::steady_clock::now().time_since_epoch().count(), std::memory_order_relaxed);
    waiting_.store(servedBefore ? Waiting::KeptAlive : Waiting::Fresh, std::memory_order_relaxed);
  }
  void MarkBusy() { waiting_.store(Waiting::No, std::memory_order_relaxed); }

 private:
  std::atomic<Waiting> waiting_{Waiting::Fresh};
  std::atomic<std::int64_t> waitingSince_{std::chrono::steady_clock::now().time_since_epoch().count()};
  std::atomic<bool> evicted_{false};
};

// A session for socket, which must belong to the admission's lane: over plain TCP, or over TLS
// with tls. Nothing happens before Start.
std::shared_ptr<SessionBase> MakePlainSession(SessionHost& host, Admission admission,
                                              boost::asio::ip::tcp::socket socket);
std::shared_ptr<SessionBase> MakeTlsSession(SessionHost& host, Admission admission, boost::asio::ip::tcp::socket socket,
                                            boost::asio::ssl::context& tls);

}  // namespace server::edge
