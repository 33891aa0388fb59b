// HttpServer puts the remote service on HTTP/1.1 (and HTTPS): POST /PDI07310.rdmProdDesoneraImpos
// with a JSON-RPC body is answered by RemoteService (load methods as a chunked stream, written
// while rows are read); GET on the same path answers a small JSON description that clients use
// to check that the server is up. Other methods on the path get 405, other paths 404, each with
// a short JSON body. One log line per call goes to the CallLog.
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
// With access tokens, every request (the GET check included) must carry exactly one
// "Authorization: Bearer TOKEN" with a listed token; any other gets 401 before its body is read,
// and its connection is closed. The user the token names goes with the call to the service
// (audit). Every call carries the client's address to the service.
//
// GET on the path + "/local.db" answers the desktops' local database (see LocalDbPublisher) with
// its ETag; 304 when If-None-Match names it. It is built like a call, holding a worker's turn.
//
// With a certificate and key (HttpTls) the server speaks HTTPS only: a client that does not
// complete a TLS handshake in time is closed without an answer.
//
// The listener retries transient accept failures (with a back-off when descriptors run out);
// when it cannot go on, Run raises std::runtime_error saying why, so the process can exit with a
// failure. Stop finishes the calls under way (a response being streamed is completed), answers
// 503 to calls arriving meanwhile, then closes every connection; Run then returns.
//
// Bind and Run are called once, from one thread; Stop may be called from any thread (not from a
// signal handler). Not copyable or movable. REQUIRES: the service and the log outlive the server.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

#include "server/http/AccessTokens.h"
#include "server/http/CallLog.h"
#include "server/service/LocalDbPublisher.h"
#include "server/service/RemoteService.h"

namespace server {

// The limits of the server's edge. The defaults suit a company network of a few hundred desktops.
struct HttpLimits {
  size_t maxRequestBytes = 64u * 1024 * 1024;  // one request body, however framed
  size_t maxHeaderBytes = 16 * 1024;           // the request line and header fields
  std::chrono::milliseconds idleTimeout{30000};   // a kept-alive connection waiting for a request
  std::chrono::milliseconds headTimeout{10000};   // the whole request head, from its first byte (and a TLS handshake)
  std::chrono::milliseconds bodyTimeout{120000};  // the whole request body
  std::chrono::milliseconds stallTimeout{30000};  // one piece of an answer taken by the client
  size_t maxConnections = 4096;                   // open at once, in all
  size_t maxConnectionsPerClient = 512;           // open at once from one client address; 0: no limit
  size_t maxBytesInFlight = 512u * 1024 * 1024;   // request bodies being received or served at once
};

// The certificate chain and private key (PEM files) of an HTTPS server; empty: plain HTTP.
struct HttpTls {
  std::string certificateFile;
  std::string keyFile;
  bool Enabled() const { return !certificateFile.empty(); }
};

struct HttpServerOptions {
  std::string host = "127.0.0.1";
  int port = 8470;  // 0 picks a free port
  // Workers that run calls: at most this many calls (and streamed answers) reach the store at once.
  int threads = 64;
  HttpLimits limits;
  HttpTls tls;
  // Tokens a request must carry; null lets anyone in.
  std::shared_ptr<const AccessTokens> tokens;
  // Serves GET /PDI07310.rdmProdDesoneraImpos/local.db when set (behind the same tokens).
  std::shared_ptr<LocalDbPublisher> localDb;
};

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

  class Engine;  // the network side; public only for the sessions it owns

 private:
  std::unique_ptr<Engine> engine_;
};

}  // namespace server
