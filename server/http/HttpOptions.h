// The options of the HTTP front (HttpServer): where it listens, how many calls it runs at once,
// the limits of its edge, TLS, the access tokens, the local database's route and the browser client's page. Each default is
// written here and nowhere else: the command line's help takes its defaults from a
// default-constructed HttpServerOptions. The defaults suit a company network of a few hundred
// desktops.
//
// Plain values, intentionally copyable; no thread rules of their own.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

namespace boost::asio::ssl {
class context;
}

namespace server {

class AccessControl;
class AccessTokens;
class LocalDbPublisher;
class TrustedProxies;
class PageFiles;

// The limits of the server's edge.
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
  // The share of maxBytesInFlight one client address may hold (never less than one request of
  // maxRequestBytes); 0: no share (behind a balancer).
  size_t maxBytesInFlightPerClient = 128u * 1024 * 1024;
  // Answer bytes handed to send and not yet taken by their clients, in all and from one client
  // address (0: no share); past either, new calls get 503 until the answers are taken.
  size_t maxAnswerBytes = 128u * 1024 * 1024;
  size_t maxAnswerBytesPerClient = 32u * 1024 * 1024;
  // Streamed answers under way for one client address; 0: no share.
  size_t maxStreamsPerClient = 8;
  // A whole streamed answer, from its first piece to its last: the read snapshot behind it is
  // released then, however steadily the client takes it.
  std::chrono::milliseconds streamTimeout{600000};
  size_t maxSpoolBytes = 2048ull * 1024 * 1024;   // answers read ahead of slow clients, on disk, all together
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
  // The TLS context of tls, when the caller built it already (else it is built from the files).
  std::shared_ptr<boost::asio::ssl::context> tlsContext;
  // Tokens a request must carry; null lets anyone in.
  std::shared_ptr<const AccessTokens> tokens;
  // Peers believed about the client behind them (PROXY header, X-Forwarded-For); null: nobody.
  std::shared_ptr<const TrustedProxies> trustedProxies;
  // Sign-in and who a session names (see AccessControl); null: the tokens alone decide.
  std::shared_ptr<AccessControl> access;
  // Serves GET on the service's path + "/local.db" when set (behind the same tokens).
  std::shared_ptr<LocalDbPublisher> localDb;
  // Serves the browser client's files under "/" (GET and HEAD, no token needed) when set.
  std::shared_ptr<const PageFiles> page;
};

}  // namespace server
