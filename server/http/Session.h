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

#include <memory>
#include <string>

#include "server/http/CallGate.h"
#include "server/http/CallLog.h"
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
  ServerMetrics& metrics;
  SpoolBudget& spool;
  const PageFiles* page = nullptr;  // null: no browser client under "/"
};

// An admitted connection: its shares, and who it is.
struct Admission {
  ConnectionBudget::Place place;
  LanePool::Seat seat;
  std::string client;  // "HOST:PORT", an IPv6 address in brackets
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
};

// A session for socket, which must belong to the admission's lane: over plain TCP, or over TLS
// with tls. Nothing happens before Start.
std::shared_ptr<SessionBase> MakePlainSession(SessionHost& host, Admission admission,
                                              boost::asio::ip::tcp::socket socket);
std::shared_ptr<SessionBase> MakeTlsSession(SessionHost& host, Admission admission, boost::asio::ip::tcp::socket socket,
                                            boost::asio::ssl::context& tls);

}  // namespace server::edge
