// HttpServer puts the remote service on HTTP/1.1: POST /PDI07310.rdmProdDesoneraImpos with a
// JSON-RPC body is answered by RemoteService (load methods as a chunked stream, written while
// rows are read); GET on the same path answers a small JSON description that clients use to check
// that the server is up. Other methods on the path get 405, other paths 404, bodies over the
// size limit 413, each with a short JSON body. Requests run on a pool of worker threads; one log
// line per call goes to the CallLog.
//
// With access tokens, every request (the GET check included) must carry "Authorization: Bearer
// TOKEN" with a listed token; any other gets 401 with a short JSON body and nothing else, and its
// connection is closed. The user the token names goes with the call to the service (audit).
// Every call carries the client's address to the service.
//
// GET on the path + "/local.db" answers the desktops' local database (see LocalDbPublisher) with
// its ETag; 304 when If-None-Match names it.
//
// Stop finishes the calls under way (a response being streamed is completed), answers 503 to
// calls arriving meanwhile, then closes the listener; Run then returns.
//
// Bind and Run are called once, from one thread; Stop may be called from any thread (not from a
// signal handler). Not copyable or movable. REQUIRES: the service and the log outlive the server.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>

#include "server/http/AccessTokens.h"
#include "server/http/CallLog.h"
#include "server/service/LocalDbPublisher.h"
#include "server/service/RemoteService.h"

namespace server {

struct HttpServerOptions {
  std::string host = "127.0.0.1";
  int port = 8470;  // 0 picks a free port
  size_t maxRequestBytes = 64u * 1024 * 1024;
  // A keep-alive connection holds a worker while it waits for its next request, so there are
  // many more workers than cores.
  int threads = 64;
  // Tokens a request must carry; null lets anyone in.
  std::shared_ptr<const AccessTokens> tokens;
  // Serves GET /PDI07310.rdmProdDesoneraImpos/local.db when set (behind the same tokens).
  std::shared_ptr<LocalDbPublisher> localDb;
};

class HttpServer {
 public:
  HttpServer(RemoteService& service, CallLog& log, HttpServerOptions options);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Binds the listening socket. Returns the port (the chosen one when options.port is 0).
  // Raises std::runtime_error when the address cannot be bound.
  int Bind();

  // Serves until Stop. REQUIRES: Bind succeeded.
  void Run();

  // Finishes the calls under way and makes Run return. Idempotent.
  void Stop();

  // Marks a call as begun; false when the server is stopping (the call must be refused).
  bool EnterCall();
  // Marks a call as ended (its response fully sent or abandoned).
  void LeaveCall();

 private:
  RemoteService& service_;
  CallLog& log_;
  HttpServerOptions options_;
  class Listener;  // the HTTP library's server, with access to its listening socket
  std::unique_ptr<Listener> http_;
  std::mutex mutex_;
  std::condition_variable idle_;
  int callsUnderWay_ = 0;
  bool stopping_ = false;
  bool running_ = false;  // Run is serving
  bool ran_ = false;      // Run has returned
};

}  // namespace server
