// HttpServer puts the remote service on HTTP/1.1 (and HTTPS): a POST on the service's path
// (host::wire::kServicePath) with a JSON-RPC body is answered by RemoteService (load methods as a
// chunked stream, written while rows are read); GET on the same path answers a small JSON
// description that clients use to check that the server is up. Other methods on the path get 405,
// other paths 404, each with a short JSON body. One log line per call goes to the CallLog.
//
// Connections are served asynchronously (Boost.Beast over Boost.Asio) by `threads` + 1
// threads: an idle or slow connection costs a socket and a small buffer, never a thread. The
// thread that reads a request runs its call and writes its answer, without handing it to
// another; at most `threads` are inside calls at once (the others wait their turn), so the store
// sees at most that many calls and one thread always serves the connections. A streamed answer
// is filled a piece at a time, each piece while the previous one is being sent.
//
// Every phase has a limit (see HttpLimits): the wait for a request on a kept-alive connection,
// the whole request head (size and time), the whole body (size, counted as it arrives whatever
// its framing, and time), each piece of a streamed answer (a reader that takes nothing for
// `stallTimeout` is dropped, which ends the answer's read snapshot), the connections open at
// once (in all and per client address) and the request bytes held at once. Past a size limit
// the answer is 413, past a budget 503, a content or transfer coding other than identity or
// chunked 415; after such an answer the connection is closed. A deadline passed closes the
// connection without an answer. Pipelined requests are answered in order; a client that
// half-closes after its request still gets its answer. HTTP/1.0 clients get answers without
// chunking (a streamed answer then ends with the connection).
//
// With access rules (a tokens file, local users, a directory: see AccessControl), every request
// (the GET check included) must carry exactly one "Authorization: Bearer TOKEN" with a listed
// token or an open session's token, or a browser's session cookie; any other gets 401 before its
// body is read, and its connection is closed (RequestPolicy.h, which also says what a
// cookie-authenticated POST must show against cross-site requests). POST /login and POST /logout
// sign people in and out (SignInRoute.h) and are logged as calls. Who the request comes from
// (name, role, how identified) goes with the call to the service, which enforces the role and
// writes the audit. Every call carries the client's address to the service.
//
// GET on the path + "/local.db" answers the desktops' local database (see LocalDbPublisher) with
// its ETag; 304 when If-None-Match names it. It is built like a call, holding a worker's turn.
//
// With the browser client's page (HttpServerOptions::page), GET and HEAD of any other path are
// answered from its files (PageFiles), without a token and without a worker's turn.
//
// With a certificate and key (HttpTls) the server speaks HTTPS only: a client that does not
// complete a TLS handshake in time is closed without an answer.
//
// The listener retries transient accept failures (with a back-off when descriptors run out);
// when it cannot go on, Run raises std::runtime_error saying why, so the process can exit with a
// failure. Stop finishes the calls under way (a response being streamed is completed), answers
// 503 to calls arriving meanwhile, then closes every connection; Run then returns.
//
// GET /health answers whether the store answers (see BasicSession), without a token. Every answer
// carries the request's id in X-Request-Id. A reload (Apply) replaces the tokens, the trusted
// proxies and the TLS context for the requests and connections that follow. The server counts
// what it does in ServerMetrics, written out by MetricsText.
//
// The parts, each in a file of its own: the Listener accepts and hands each connection over; the
// ConnectionBudget admits it and counts its request bytes; the LanePool gives it a lane; a Session
// serves it, the CallGate admits its calls and a StreamPump sends its streamed answers;
// ThrottledNotes keeps the edge's notes from flooding the log; LoadTlsContext reads the
// certificate and key; RequestPolicy judges each head. This class starts and stops them.
//
// Bind and Run are called once, from one thread; Stop may be called from any thread (not from a
// signal handler). Not copyable or movable. REQUIRES: the service and the log outlive the server.
#pragma once

#include <memory>

#include "server/http/CallLog.h"
#include "server/http/HttpOptions.h"
#include "server/http/LiveConfig.h"
#include "server/http/ServerMetrics.h"
#include "server/service/LocalDbPublisher.h"
#include "server/service/RemoteService.h"

namespace server {

class HttpServer {
 public:
  // Raises std::runtime_error when the TLS certificate or key cannot be loaded.
  HttpServer(RemoteService& service, CallLog& log, HttpServerOptions options);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Binds the listening socket. Returns the port (the chosen one when options.port is 0).
  // Raises std::runtime_error when the address cannot be bound.
  int Bind();

  // Serves until Stop. Raises std::runtime_error when the listener fails for good.
  // REQUIRES: Bind succeeded.
  void Run();

  // Finishes the calls under way and makes Run return. Idempotent.
  void Stop();

  // The TLS context of a certificate and key, for Apply. Raises std::runtime_error saying why it
  // cannot be made (see LoadTlsContext).
  static std::shared_ptr<boost::asio::ssl::context> TlsContext(const HttpTls& tls);

  // Replaces the tokens, trusted proxies and TLS context for what follows. Thread-safe.
  // REQUIRES: values.tls is set exactly when the server was started with TLS.
  void Apply(LiveConfig::Values values);

  // True when the server speaks TLS.
  bool Secure() const;

  // The server's counts, and the metrics in Prometheus' text format. Thread-safe.
  ServerMetrics& Metrics();
  std::string MetricsText() const;

 private:
  class Front;
  std::unique_ptr<Front> front_;
};

}  // namespace server
