// TNetConnection is a screen's connection to the application server: it knows the server's
// address (Host, Port) and the remote service (ServerName), and makes late-bound remote calls,
// each an HTTP/1.1 POST to "/" + ServerName whose body is a JSON-RPC 2.0 request:
//
//   {"jsonrpc":"2.0","id":N,"method":"getDados","params":["text",{…change packet…}]}
//
// Call returns the raw result (the answer's "result" member, {"ok":…}) as a Text variant, for
// CheckResultServ to read. A successful answer is decoded while it arrives (AnswerDecoder): the
// data's packets go straight into row storage that a record set then takes without copying, and
// the answer's text is never held whole. The variant still reads as the result's JSON text (kept
// as received for small answers, written again on request for large ones).
//
// Failures raise ENetError, whose message (in Portuguese) names the address, the method or the
// connection attempt, and what happened: connection refused, timeout, HTTP error status, a
// JSON-RPC error object, or an answer that cannot be read. ThrowException is kept for the
// platform's property, but a failure is always raised: the screens rely on an exception, and a
// failed connection reported any other way would let a screen go on as if connected.
//
// Access: when the server requires an access token, every request (the connection check
// included) carries "Authorization: Bearer TOKEN": the connection's own AccessToken, or, when
// that is empty, the host's (Services().AccessToken()), so a screen needs no code for it. A
// server answering 401 fails the call with a message saying that access was refused (an ENetError
// of Status() 401), unless the access renewer (SetAccessRenewer) gets the host a new token: the
// request is then sent once more with it. A 401 is the server's refusal before anything is done,
// so sending the request again never does its work twice.
//
// Secure transport: a Host of the form "https://NAME" (as a host's WebURL setting may hold it)
// makes every exchange go over TLS to NAME. The server's certificate is verified against the
// system's CA store, or against the CA file of CaFile (the connection's own, else the host's
// Services().CaFile()), and must name NAME (host name or IP address); an unverified server fails
// the call before anything is sent. "http://NAME" or a bare NAME is plain HTTP, over which an
// access token is sent only to a loopback address (localhost, 127.0.0.0/8, ::1) unless the
// connection or the host allows it explicitly (Insecure / Services().Insecure()).
//
// Answers: an answer larger than MaxAnswerBytes (default 2 GiB; a 10-million-row getDados is
// about 1 GiB) is refused as it arrives, whether its Content-Length announces it or its body just
// keeps coming (a compressed answer is held to it both as it travels and once decoded); running
// out of memory while receiving fails the call too. Every failure is an
// ENetError, never another exception.
//
// Connecting: Open runs BeforeConnect (where screens set Host and Port from the host settings),
// then connects and checks that the service answers an HTTP GET on its path with status 200; the
// service's description names the user the server knows the access token by (ServerUser).
// Calling while closed opens first, as the platform's connections connect on demand. The HTTP
// connection is kept alive between calls.
//
// Each exchange is made of three parts (NetExchange.h): the request, built here; the transport
// (HttpTransport) that sends it and hands the answer, as it arrives, to a receiver that feeds the
// decoder; and the judgement of how it ended (status, cancel, timeouts, the answer's envelope),
// made here, so that another transport would fail with the same messages.
//
// Thread rules: used on the user-interface thread. While connected, one Call may run on a worker
// thread while the user-interface thread waits for it; nothing else may touch the connection
// during that call. The call observer is process-wide: set it at start-up, before any call.
// Not copyable or movable (a component).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/core/Component.h"
#include "host/core/Events.h"
#include "host/data/Variant.h"

namespace host {

namespace wire {
struct JsonRpcParam;
}

class AnswerReceiver;
class HttpTransport;
struct NetRequest;

// A failed connection or remote call. The message says where, what was called and what happened;
// Status() is the HTTP status that refused the request (401: access refused), or 0 for any other
// failure.
class ENetError : public EPlatformError {
 public:
  using EPlatformError::EPlatformError;
  ENetError(const std::string& message, int status, int rpcCode = 0)
      : EPlatformError(message), status_(status), rpcCode_(rpcCode) {}
  int Status() const { return status_; }
  // The code of the JSON-RPC error the server answered (-32601: no such method, at a server of an
  // earlier release), or 0 when the call failed otherwise.
  int RpcCode() const { return rpcCode_; }

 private:
  int status_ = 0;
  int rpcCode_ = 0;
};

class TNetConnection : public TComponent {
 public:
  explicit TNetConnection(std::string name = {}, TComponent* owner = nullptr);
  ~TNetConnection() override;

  // ---- Address --------------------------------------------------------------------------------
  // Changing any of these while connected closes the connection; the next Open or Call connects
  // to the new address.

  const std::string& Host() const { return host_; }
  void SetHost(std::string host);
  int Port() const { return port_; }
  void SetPort(int port);
  // The remote service, e.g. "PDI07310.rdmProdDesoneraImpos"; the HTTP path is "/" + ServerName.
  const std::string& ServerName() const { return serverName_; }
  void SetServerName(std::string serverName);

  // The access token sent with every request; empty (the default) sends the host's token, if
  // any. A token holds printable ASCII without blanks; another is refused (ENetError) when a
  // request would carry it, and nothing is sent.
  const std::string& AccessToken() const { return accessToken_; }
  void SetAccessToken(std::string token) { accessToken_ = std::move(token); }

  // The CA certificate file (PEM) a TLS server's certificate is verified against; empty (the
  // default) takes the host's, and when that is empty too, the system's CA store.
  const std::string& CaFile() const { return caFile_; }
  void SetCaFile(std::string path);
  // Allows sending the access token over plain HTTP to a server that is not on loopback.
  bool Insecure() const { return insecure_; }
  void SetInsecure(bool insecure) { insecure_ = insecure; }
  // The largest answer body accepted, in bytes.
  std::uint64_t MaxAnswerBytes() const { return maxAnswerBytes_; }
  void SetMaxAnswerBytes(std::uint64_t bytes) { maxAnswerBytes_ = bytes; }
  static constexpr std::uint64_t kDefaultMaxAnswerBytes = std::uint64_t{2} << 30;

  // Kept for the platform's property; failures are raised whatever its value (see above).
  bool ThrowException = true;
  // Runs at the start of every Open, before connecting; the sender is this connection.
  TNotifyEvent BeforeConnect;

  // How long to wait for the connection to be made, and for each read of the answer.
  void SetConnectTimeout(std::chrono::milliseconds timeout) { connectTimeout_ = timeout; }
  void SetReadTimeout(std::chrono::milliseconds timeout) { readTimeout_ = timeout; }
  std::chrono::milliseconds ReadTimeout() const { return readTimeout_; }
  // The read timeout given to connections created from now on (120 s unless set). A read waits
  // at most this long for the next bytes, so it bounds the time a call may receive nothing, not
  // the whole call: an answer that keeps arriving goes on. Process-wide; set it at start-up.
  static void SetDefaultReadTimeout(std::chrono::milliseconds timeout);

  // ---- Connection -----------------------------------------------------------------------------

  bool Connected() const;
  // Connects (a no-op when connected): runs BeforeConnect, then checks that the service answers
  // GET "/" + ServerName with status 200. Raises ENetError naming the address and the reason when
  // the address is incomplete or the service does not answer so; any exception of BeforeConnect
  // propagates. Either way the connection stays closed.
  void Open();
  // Closes the HTTP connection (a no-op when closed).
  void Close();
  // The user the server knows this connection by (its description names the access token's
  // user), as read by the last Open; "" while closed, or when the server names none (no tokens).
  const std::string& ServerUser() const { return serverUser_; }
  // Observer told after each successful Open, on the thread that opened (e.g. to show the user
  // the server knows). Process-wide; may be set or removed (empty) at any time, from any thread.
  using OpenObserver = std::function<void(const TNetConnection& connection)>;
  static void SetOpenObserver(OpenObserver observer);

  // Told on the calling thread when the server refuses a request of a connection without a token
  // of its own for its access (HTTP 401: a session that ended, a token withdrawn); returns true
  // when the host's access token (Services().AccessToken()) has been renewed, and the request is
  // then sent once more (see Access above). Empty (the default): the request fails. Process-wide;
  // may be set or removed at any time, from any thread.
  using AccessRenewer = std::function<bool()>;
  static void SetAccessRenewer(AccessRenewer renewer);

  // ---- Calls ----------------------------------------------------------------------------------

  // Calls method with positional args and returns the raw result as a Text variant (see above).
  // Each argument is a Text variant (sent as a JSON string; it must be valid UTF-8) or a packet
  // variant (sent as the packet object itself). Opens the connection first when closed.
  // Raises ENetError on an argument of another kind or not UTF-8 (nothing is sent), and on any
  // failure of the call; never returns a failure as a result.
  Variant Call(const std::string& method, const std::vector<Variant>& args);

  // Observer told of each call (method and arguments) before it is sent, e.g. to log it.
  using CallObserver =
      std::function<void(const std::string& method, const std::vector<Variant>& args)>;
  // Installs the process-wide observer (an empty one removes it).
  static void SetCallObserver(CallObserver observer);

  // Runs the network exchange of each call (sending the request and receiving the answer) for
  // the connection: a desktop host runs it on a worker thread while its user-interface thread
  // keeps painting (the busy animation turns). The runner must run `exchange` exactly once before
  // returning and pass on whatever it raises. Everything else of a call (BeforeConnect, the
  // request, reading the answer) stays on the calling thread. An empty runner (the default) runs
  // the exchange inline. Process-wide: set it at start-up, before any call.
  using CallRunner = std::function<void(const std::function<void()>& exchange)>;
  static void SetCallRunner(CallRunner runner);

  // Ends the network exchange of every call under way, of any connection, as a broken connection
  // would: the call raises ENetError saying that it was cancelled, and the connection is closed
  // (the next call connects again). An exchange that has already received its whole answer
  // completes normally. Thread-safe: meant to be called from the user-interface thread while a
  // call runs on a worker thread. A call that has not yet begun its exchange is not affected;
  // call again to catch one that begins right after.
  static void CancelCalls();

 private:
  std::string Address() const;
  // True when Host names a server reached over TLS ("https://NAME").
  bool UsesTls() const;
  // Host without its scheme.
  std::string HostName() const;
  // The CA file that applies (the connection's, else the host's; "" for the system store).
  std::string EffectiveCaFile() const;
  // Raises ENetError naming `what` when authorization would travel in clear to a server that is
  // not on loopback and nobody allowed it.
  void CheckTokenTransport(const std::string& what, const std::string& authorization) const;
  // The value of the Authorization header ("" when no token applies). Raises ENetError naming
  // `what` for a token that cannot travel in a header.
  std::string Authorization(const std::string& what) const;
  // status: the HTTP status that refused the request (ENetError::Status), 0 for another failure.
  [[noreturn]] void Fail(const std::string& what, const std::string& reason, int status = 0) const;
  // True when the host's access token was renewed after a 401 (see SetAccessRenewer): never for a
  // connection with a token of its own, which the host's renewal does not change.
  bool RenewedAccess() const;
  void OpenOnce();
  Variant CallOnce(const std::string& what, const std::string& method, const std::vector<wire::JsonRpcParam>& params);
  // Runs one exchange over transport (through the call runner, cancellable) and judges how it
  // ended: returns once an answer of status 200 was received whole into receiver; raises
  // ENetError naming `what` otherwise. A cancelled or abandoned exchange closes the connection.
  void Exchange(HttpTransport& transport, const std::string& what, NetRequest request, AnswerReceiver& receiver);

  std::string host_;
  int port_ = 0;
  std::string serverName_;
  std::string accessToken_;
  std::string caFile_;
  bool insecure_ = false;
  std::uint64_t maxAnswerBytes_ = kDefaultMaxAnswerBytes;
  std::chrono::milliseconds connectTimeout_{5000};
  std::chrono::milliseconds readTimeout_{120000};
  std::unique_ptr<HttpTransport> transport_;  // null while closed
  std::string serverUser_;
  std::int64_t nextId_ = 1;
};

}  // namespace host
