// BasicSession is the session of Session.h over one kind of stream: a plain TCP stream or a TLS
// stream over one. Only PlainSession.cpp and TlsSession.cpp include it, each making one kind, so
// the two (the heaviest code of the server to compile) are built side by side.
//
// Used as Session.h says: on its connection's lane only, but for Start and Abandon.
#pragma once

#include <boost/asio/post.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>

#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "host/wire/ServiceName.h"
#include "server/http/HeaderText.h"
#include "server/http/ProxyHeader.h"
#include "server/http/PageFiles.h"
#include "server/http/RequestPolicy.h"
#include "server/http/Session.h"
#include "server/http/SignInRoute.h"
#include "server/http/SpoolAhead.h"
#include "server/http/StreamPump.h"
#include "server/service/AnswerCompression.h"
#include "server/service/LocalDbPublisher.h"
#include "server/service/RemoteService.h"

namespace server::edge::session {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace ssl = net::ssl;
using tcp = net::ip::tcp;
using error_code = boost::system::error_code;
using Clock = std::chrono::steady_clock;

// What a connection reads at once.
inline constexpr size_t kReadChunk = 8 * 1024;
// The most a connection holds unparsed: a whole head (up to the header limit) or a line of a
// chunked body's framing (a chunk's size and extensions, its trailers), and one read more. A line
// that does not fit is refused rather than buffered without end.
inline size_t MaxBuffered(const HttpLimits& limits) { return std::max(limits.maxHeaderBytes, kReadChunk) + kReadChunk; }
// After an answer that ends a connection, what is still arriving is read and dropped for a moment
// (so the client reads the answer instead of a reset), up to this much.
inline constexpr size_t kDrainBytes = 1024 * 1024;
inline constexpr std::chrono::milliseconds kDrainTime{1000};
// Room made at once for a body of a declared length; a longer one grows as it arrives.
inline constexpr size_t kReservedBody = 1024 * 1024;

inline const std::string& ServicePath() {
  static const std::string path(host::wire::kServicePath);
  return path;
}

// The longest a health check waits for the store.
inline constexpr std::chrono::milliseconds kHealthLimit{1000};

template <class Stream>
class BasicSession final : public SessionBase, public PumpOwner, public std::enable_shared_from_this<BasicSession<Stream>> {
 public:
  template <class... StreamArgs>
  BasicSession(SessionHost& host, Admission admission, StreamArgs&&... streamArgs)
      : host_(host), admission_(std::move(admission)), stream_(std::forward<StreamArgs>(streamArgs)...),
        pump_(stream_, *this, host.limits.stallTimeout) {}

  void Start() override {
    error_code ec;
    const tcp::endpoint peer = Lowest().socket().remote_endpoint(ec);
    if (ec) return Close();  // gone already
    tcpPeer_ = peer_ = Unmapped(peer.address());
    client_ = admission_.client;
    // A trusted balancer may open the connection with a PROXY protocol header naming its client.
    if (host_.live.Current()->proxies->Contains(peer_)) return ReadProxyHeader();
    Begin();
  }

  void Abandon() override {
    net::post(stream_.get_executor(), [self = Self()] { self->Close(); });
  }

 private:
  static constexpr bool kTls = !std::is_same_v<Stream, beast::tcp_stream>;
  using Parser = http::request_parser<http::string_body>;
  using Headers = std::vector<std::pair<std::string, std::string>>;

  // What the parser is reading: the head, (the head is being judged,) the body.
  enum class Phase { Head, Judging, Body };
  using CallOutcome = ServerMetrics::CallOutcome;

  // The marks of the request under way, from its first byte to the end of its answer.
  struct Exchange {
    Phase phase = Phase::Head;
    std::string method;  // the request's method, then the called method, for the log
    HeadVerdict::Route route = HeadVerdict::Route::Call;
    Identity who;        // who the request comes from
    std::string token;   // a sign-out's session token
    bool keepAlive = true;
    bool http10 = false;
    size_t headBytes = 0;          // read of the head so far
    size_t bodyBytes = 0;          // read after the head so far: the body and its framing
    ConnectionBudget::Bytes body;  // the budget the body holds until the call has read it
    CallGate::Slot call;           // the call under way, until its answer is sent
    CallGate::AnswerBytes answer;  // the whole answer being sent, until it is
    Clock::time_point start{};
    size_t requestBytes = 0;
    std::string outcome;
    CallOutcome kind = CallOutcome::kOk;
    std::string client;     // the client's address, or the one a trusted proxy named
    std::string requestId;  // the request's id: the reference of its failures
    int status = 200;       // the HTTP status answered
    ContentCoding coding = ContentCoding::Identity;  // what the client accepts answers in
  };

  beast::tcp_stream& Lowest() { return beast::get_lowest_layer(stream_); }
  const HttpLimits& Limits() const { return host_.limits; }
  std::shared_ptr<BasicSession> Self() { return this->shared_from_this(); }

  // ---- PumpOwner -------------------------------------------------------------------------------

  std::shared_ptr<void> KeepAlive() override { return Self(); }
  CallGate::AnswerBytes HoldAnswer(size_t bytes) override { return host_.calls.Hold(admission_.ip, bytes); }
  void CloseConnection() override { Close(); }
  void StreamEnded(bool complete, const std::string& failure, size_t sent) override {
    EndCall(complete ? ex_.outcome : failure.empty() ? std::string("aborted") : failure, sent, complete);
  }

  // ---- Opening the connection ------------------------------------------------------------------

  // The TLS handshake (given what was read past a PROXY header), then the first request.
  void Begin() {
    if constexpr (kTls) {
      Lowest().expires_after(Limits().headTimeout);
      stream_.async_handshake(ssl::stream_base::server, buffer_.data(), [self = Self()](error_code ec, size_t used) {
        if (ec) return self->Close();
        self->buffer_.consume(used);
        self->ReadRequest();
      });
    } else {
      ReadRequest();
    }
  }

  // Reads a PROXY protocol header from a trusted peer, if the connection begins with one: its
  // source becomes the connection's client. What follows it stays in the buffer for HTTP (or TLS).
  void ReadProxyHeader() {
    const auto received = buffer_.data();
    const ProxyHeader header =
        ProxyHeader::Read(std::string_view(static_cast<const char*>(received.data()), received.size()));
    switch (header.state) {
      case ProxyHeader::State::kAbsent: return Begin();
      case ProxyHeader::State::kInvalid:
        host_.notes.Note("dropped connection from " + admission_.client + ": " + header.why);
        return Close();
      case ProxyHeader::State::kRead:
        buffer_.consume(header.length);
        if (header.source) {
          peer_ = Unmapped(header.source->address());
          const std::string ip = peer_.to_string();
          client_ = (peer_.is_v6() ? "[" + ip + "]" : ip) + ":" + std::to_string(header.source->port());
        }
        return Begin();
      case ProxyHeader::State::kNeedMore: break;
    }
    Lowest().expires_after(Limits().headTimeout);
    Lowest().async_read_some(buffer_.prepare(kReadChunk), [self = Self()](error_code ec, size_t n) {
      if (ec) return self->Close();
      self->buffer_.commit(n);
      self->ReadProxyHeader();
    });
  }

  // ---- Reading a request -----------------------------------------------------------------------

  void ReadRequest() {
    if (closed_) return;
    if (host_.calls.Closed()) return Close();
    ex_ = Exchange{};
    ex_.body = host_.budget.Charge(admission_.ip);
    parser_.emplace();
    parser_->header_limit(static_cast<std::uint32_t>(Limits().maxHeaderBytes));
    parser_->body_limit(Limits().maxRequestBytes);
    MarkWaiting(served_);
    if (buffer_.size() > 0) return ReadHead();  // a pipelined request is already here
    // Waiting for the next request costs this buffer and the socket, nothing more.
    if (buffer_.capacity() > 2 * kReadChunk) buffer_.shrink_to_fit();
    Lowest().expires_after(Limits().idleTimeout);
    stream_.async_read_some(buffer_.prepare(kReadChunk), [self = Self()](error_code ec, size_t n) {
      if (ec) return self->Close();
      self->buffer_.commit(n);
      self->ReadHead();
    });
  }

  void ReadHead() {
    Lowest().expires_after(Limits().headTimeout);
    ex_.phase = Phase::Head;
    Parse();
  }

  // Gives the parser what the buffer holds and reads more while the head, then the body, is
  // incomplete. A request that arrived whole is judged, called and answered by this thread
  // without waiting for anything (the composed reads of the HTTP library would hand each
  // completion back through the executor). Every byte is counted as the parser takes it: the
  // head's against the header limit, whatever its field count; every byte after it (the body,
  // chunk sizes and extensions, trailers) against the request limit and the budget of request
  // bytes. What waits unparsed is capped (MaxBuffered). The deadline of each phase covers all of
  // its reads.
  void Parse() {
    while (buffer_.size() > 0 && !parser_->is_done()) {
      error_code ec;
      const size_t used = parser_->put(buffer_.data(), ec);
      buffer_.consume(used);
      if (!Count(used)) return;  // over a limit: refused
      if (ec == http::error::need_more) break;
      if (ec) return RefuseBroken(ec);
      if (used == 0) break;
      if (ex_.phase == Phase::Head && parser_->is_header_done()) {
        ex_.phase = Phase::Judging;
        if (!OnHead()) return;  // answered, refused, or waiting for the client's go-ahead
      }
    }
    if (ex_.phase == Phase::Body && parser_->is_done()) return Dispatch();
    if (ex_.phase == Phase::Judging) return;
    // An unfinished head: what waits in the buffer is head too.
    if (ex_.phase == Phase::Head && ex_.headBytes + buffer_.size() > Limits().maxHeaderBytes) return RefuseHead();
    const size_t room = MaxBuffered(Limits()) - std::min(buffer_.size(), MaxBuffered(Limits()));
    if (room == 0) {
      return Refuse(http::status::payload_too_large, "request too large: a line of its chunked framing is too long",
                    "a chunk line or trailer over the limit");
    }
    stream_.async_read_some(buffer_.prepare(std::min(kReadChunk, room)), [self = Self()](error_code ec, size_t n) {
      if (ec) return self->RefuseBroken(ec);
      self->buffer_.commit(n);
      self->Parse();
    });
  }

  // Counts bytes the parser took; false when they went over a limit (then answered).
  bool Count(size_t used) {
    if (used == 0) return true;
    if (ex_.phase == Phase::Head) {
      ex_.headBytes += used;
      if (ex_.headBytes > Limits().maxHeaderBytes) {
        RefuseHead();
        return false;
      }
      return true;
    }
    ex_.bodyBytes += used;
    if (ex_.bodyBytes > Limits().maxRequestBytes) {
      Refuse(http::status::payload_too_large, "request body too large", "request bytes after the head over the limit");
      return false;
    }
    if (!ex_.body.Add(used)) {
      Refuse(http::status::service_unavailable, "server busy; try again shortly", "request bytes in flight");
      return false;
    }
    return true;
  }

  void RefuseHead() {
    Refuse(http::status::request_header_fields_too_large, "request head too large", "head over the limit");
  }

  // The head is whole: true when the body is to be read now.
  bool OnHead() {
    MarkBusy();
    served_ = true;
    auto& req = parser_->get();
    ex_.keepAlive = req.keep_alive();
    ex_.http10 = req.version() < 11;
    ex_.method = std::string(req.method_string());
    ex_.coding = ChooseCoding(header::View(req[http::field::accept_encoding]));

    const auto live = host_.live.Current();
    IdentifyRequest(req, *live->proxies);
    HeadVerdict verdict;
    try {
      // The tokens are the live ones, so a reload's revoked token counts from the next request.
      if (host_.access != nullptr) {
        AccessGate gate(*host_.access, live->tokens.get());
        verdict = JudgeHead(req, ServicePath(), &gate, host_.localDb != nullptr, host_.page != nullptr);
      } else {
        verdict = JudgeHead(req, ServicePath(), live->tokens.get(), host_.localDb != nullptr, host_.page != nullptr);
      }
    } catch (const std::exception& e) {
      // The sessions' store did not answer: nobody is let in on a guess.
      Refuse(http::status::service_unavailable, "server busy; try again shortly",
             std::string("access check failed: ") + e.what());
      return false;
    }
    const bool hasBody = !parser_->is_done();
    ex_.route = verdict.route;
    ex_.who = std::move(verdict.who);
    ex_.token = std::move(verdict.token);
    switch (verdict.route) {
      case HeadVerdict::Route::Refuse:
        Refuse(static_cast<http::status>(verdict.status), verdict.message, verdict.why, verdict.headers);
        return false;
      case HeadVerdict::Route::Answer:
        Answer(static_cast<http::status>(verdict.status), verdict.body, hasBody, verdict.headers);
        return false;
      case HeadVerdict::Route::Describe:
        Answer(http::status::ok, RemoteService::Describe(ex_.who.user), hasBody);
        return false;
      case HeadVerdict::Route::LocalDb:
        ServeLocalDb(std::string(header::View(req[http::field::if_none_match])), hasBody);
        return false;
      case HeadVerdict::Route::Health:
        AnswerHealth(hasBody);
        return false;
      case HeadVerdict::Route::Page:
        ServePage(req, hasBody);
        return false;
      case HeadVerdict::Route::Call: break;
      case HeadVerdict::Route::SignIn:
      case HeadVerdict::Route::SignOut:
        if (host_.access == nullptr) {
          Answer(http::status::not_found, ErrorBody(404, "no sign-in on this server"), hasBody);
          return false;
        }
        parser_->body_limit(kMaxSignInBytes);  // before any byte of the body is parsed
        break;
    }

    // The body's bytes are charged as they arrive (Count), never by what the head declares; room
    // for a declared length is made only up to a modest size, the rest as the body grows.
    if (const auto declared = parser_->content_length()) {
      req.body().reserve(static_cast<size_t>(std::min<std::uint64_t>(*declared, kReservedBody)));
    }

    if (header::Is(req[http::field::expect], "100-continue")) {
      auto interim = std::make_shared<http::response<http::empty_body>>(http::status::continue_, 11);
      Lowest().expires_after(Limits().stallTimeout);
      http::async_write(stream_, *interim, [self = Self(), interim](error_code wec, size_t) {
        if (wec) return self->Close();
        self->ReadBody();
      });
      return false;
    }
    BeginBody();
    return true;
  }

  void BeginBody() {
    Lowest().expires_after(Limits().bodyTimeout);
    ex_.phase = Phase::Body;
    parser_->eager(true);  // from here on a put takes every body byte the buffer holds
  }

  void ReadBody() {
    BeginBody();
    Parse();
  }

  // The request's id and client: the X-Request-Id a trusted balancer sent, and the client that
  // X-Forwarded-For names when the connection's client (the balancer, or the one its PROXY header
  // named) is trusted; else a new id and the connection's client.
  void IdentifyRequest(const http::request<http::string_body>& req, const TrustedProxies& proxies) {
    ex_.client = client_;
    if (proxies.Contains(tcpPeer_)) ex_.requestId = AcceptedRequestId(header::View(req["X-Request-Id"]));
    if (proxies.Contains(peer_)) {
      std::vector<std::string_view> forwarded;
      const auto lines = req.equal_range("X-Forwarded-For");
      for (auto it = lines.first; it != lines.second; ++it) forwarded.push_back(header::View(it->value()));
      if (!forwarded.empty()) {
        const auto client = proxies.ClientOf(peer_, forwarded);
        if (client != peer_) ex_.client = client.to_string();
      }
    }
    if (ex_.requestId.empty()) ex_.requestId = RemoteService::NewReference();
  }

  // A request that could not be read whole: an answer where one helps the client, else close.
  void RefuseBroken(const error_code& ec) {
    if (ec == http::error::body_limit) {
      return Refuse(http::status::payload_too_large, "request body too large", "body over the limit");
    }
    if (ec == http::error::header_limit) return RefuseHead();
    if (ec == beast::error::timeout) {
      const char* part = ex_.phase == Phase::Head ? "head" : "body";
      host_.notes.Note("dropped connection from " + admission_.client + ": request " + part + " not received in time");
      return Close();
    }
    if (ec.category() == make_error_code(http::error::end_of_stream).category() && ec != http::error::end_of_stream &&
        ec != http::error::partial_message) {
      return Refuse(http::status::bad_request, "bad HTTP request", ec.message());
    }
    Close();  // the client went away
  }

  // ---- Calling the service ---------------------------------------------------------------------

  // Begins a call: true when it holds a slot; otherwise it has answered 503 (and ends the
  // connection when the request's body was left unread).
  bool EnterCall(bool bodyUnread) {
    switch (host_.calls.Enter(ex_.call, admission_.ip)) {
      case CallGate::Entry::Stopping:
        host_.metrics.RequestRefused(503);
        Answer(http::status::service_unavailable, ErrorBody(503, "server stopping"), bodyUnread);
        return false;
      case CallGate::Entry::Busy:
        host_.metrics.RequestRefused(503);
        Answer(http::status::service_unavailable, ErrorBody(503, "server busy; try again shortly"), bodyUnread);
        return false;
      case CallGate::Entry::AnswersPending:
        host_.metrics.RequestRefused(503);
        host_.notes.Note("refused call from " + admission_.client + ": HTTP 503, answers not yet taken over the limit");
        Answer(http::status::service_unavailable,
               ErrorBody(503, "server busy: too many answers not yet read; read them, then try again"), bodyUnread);
        return false;
      case CallGate::Entry::Entered: break;
    }
    ex_.start = Clock::now();
    return true;
  }

  void Dispatch() {
    if (ex_.route == HeadVerdict::Route::SignIn || ex_.route == HeadVerdict::Route::SignOut) return DispatchSignIn();
    if (!EnterCall(false)) return;
    const CallContext context{ex_.client, ex_.who.user, ex_.who.role, ex_.who.access, ex_.requestId};
    std::string body = std::move(parser_->get().body());
    if (RemoteService::Quick(body)) {
      // A check runs here, on this connection's lane: a hand-over would cost more than the call.
      Reply reply = host_.service.Call(body, context);
      const size_t requestBytes = body.size();
      std::string().swap(body);
      ex_.body.Release();
      return OnReply(std::move(reply), requestBytes);
    }
    // A call that answers a stream takes its place first: without one it is refused before its
    // snapshot and store session are taken, which it could only give back unused.
    if (RemoteService::Streams(body) && !ex_.call.TakeStream()) {
      ex_.requestBytes = body.size();
      std::string().swap(body);
      ex_.body.Release();
      return RefuseStream();
    }
    // Anything that may take long runs on a worker; meanwhile this lane serves its other
    // connections, and this one reads nothing more until the answer is sent.
    struct Work {
      std::string body;
      ConnectionBudget::Bytes bytes;
      CallContext context;
    };
    auto work = std::make_shared<Work>(Work{std::move(body), std::move(ex_.body), context});
    try {
      host_.workers.Submit([self = Self(), work] {
        auto reply = std::make_shared<Reply>(self->host_.service.Call(work->body, work->context));
        const size_t requestBytes = work->body.size();
        std::string().swap(work->body);
        work->bytes.Release();
        net::post(self->stream_.get_executor(),
                  [self, reply, requestBytes] { self->OnReply(std::move(*reply), requestBytes); });
      });
    } catch (const std::exception& e) {
      EndCall(std::string("failed: no worker to run the call: ") + e.what(), 0, false);
    }
  }

  // POST /login and /logout: run on a worker, as a sign-in takes a password hash's time (and a
  // directory's answer), and logged as calls.
  void DispatchSignIn() {
    if (!EnterCall(false)) return;
    const bool signIn = ex_.route == HeadVerdict::Route::SignIn;
    ex_.method = signIn ? "login" : "logout";
    struct Work {
      std::string body;
      std::string token;
      std::string client;
      RouteAnswer answer;
    };
    auto work = std::make_shared<Work>(Work{std::move(parser_->get().body()), ex_.token, ex_.client, {}});
    ex_.body.Release();
    ex_.requestBytes = work->body.size();
    try {
      host_.workers.Submit([self = Self(), work, signIn] {
        try {
          work->answer = signIn ? AnswerSignIn(*self->host_.access, work->body, work->client, kTls)
                                : AnswerSignOut(*self->host_.access, work->token, kTls);
        } catch (const std::exception& e) {
          work->answer = {503, ErrorBody(503, "server busy; try again shortly"), {}, std::string("failed: ") + e.what()};
        }
        net::post(self->stream_.get_executor(),
                  [self, work, signIn] { self->SignInAnswered(std::move(work->answer), signIn); });
      });
    } catch (const std::exception& e) {
      EndCall(std::string("failed: no worker to run the call: ") + e.what(), 0, false);
    }
  }

  void SignInAnswered(RouteAnswer answer, bool signIn) {
    if (signIn) host_.metrics.SignIn(answer.status == 200);
    ex_.outcome = std::move(answer.outcome);
    const size_t size = answer.body.size();
    WriteWhole(static_cast<http::status>(answer.status), std::move(answer.body), false, answer.headers,
               [self = Self(), size](bool sent) {
                 self->EndCall(sent ? self->ex_.outcome : std::string("aborted: the answer could not be sent"), size);
               });
  }

  void OnReply(Reply reply, size_t requestBytes) {
    ex_.requestBytes = requestBytes;
    ex_.method = reply.method;
    ex_.outcome = reply.outcome;
    ex_.kind = reply.status == Outcome::kOk        ? CallOutcome::kOk
               : reply.status == Outcome::kRefused ? CallOutcome::kRefused
               : reply.status == Outcome::kInvalid ? CallOutcome::kInvalid
                                                   : CallOutcome::kFailed;
    if (closed_) {  // abandoned while the call ran
      reply.stream.reset();
      return EndCall("aborted: the connection was closed", 0, false);
    }
    if (!reply.stream) {
      const size_t size = reply.body.size();
      // An empty answer (a batch of notifications only) is 204 No Content.
      const http::status status = size == 0 ? http::status::no_content : http::status::ok;
      Headers headers;
      if (ex_.coding != ContentCoding::Identity && size >= kSmallestCompressed) {
        try {
          reply.body = Compress(reply.body, ex_.coding);
          headers = {{"Content-Encoding", CodingName(ex_.coding)}, {"Vary", "Accept-Encoding"}};
        } catch (const std::exception&) {
          // Memory refused: the answer goes plain, as it stands.
        }
      }
      // What travels, as a streamed answer counts it.
      const size_t wire = reply.body.size();
      HandOver(wire);
      WriteWhole(status, std::move(reply.body), false, headers, [self = Self(), wire](bool sent) {
        self->EndCall(sent ? self->ex_.outcome : std::string("aborted: the answer could not be sent"), wire);
      });
      return;
    }
    if (!ex_.call.HasStream() && !ex_.call.TakeStream()) {
      reply.stream.reset();
      return RefuseStream();
    }
    // The stream keeps its place; the call's is free for another call.
    ex_.call.Handed();
    if (ex_.http10) ex_.keepAlive = false;  // the answer ends with the connection
    // Compressed while it is produced when the client asks, so that what waits for the client
    // (in the spool, in the budget of answers not yet taken) is the coded bytes.
    std::unique_ptr<ReplyStream> body = std::move(reply.stream);
    Headers headers{{"X-Request-Id", ex_.requestId}};
    if (ex_.coding != ContentCoding::Identity) {
      body = std::make_unique<CompressedStream>(std::move(body), ex_.coding);
      headers.emplace_back("Content-Encoding", CodingName(ex_.coding));
      headers.emplace_back("Vary", "Accept-Encoding");
    }
    // Read ahead of the client, so that a slow one holds no store session longer than the store
    // takes to produce the answer.
    pump_.Start(SpoolAhead(std::move(body), host_.spool, stream_.get_executor()), ex_.http10, ex_.keepAlive,
                Limits().streamTimeout, headers);
  }

  // Every place for a streamed answer is taken, in all or for this address: 503.
  void RefuseStream() {
    ex_.kind = CallOutcome::kFailed;
    ex_.outcome = "refused: too many answers being streamed";
    std::string body = ErrorBody(503, "server busy; try again shortly");
    const size_t size = body.size();
    HandOver(size);
    WriteWhole(http::status::service_unavailable, std::move(body), false, {}, [self = Self(), size](bool sent) {
      self->EndCall(sent ? self->ex_.outcome : "aborted", size);
    });
  }

  // GET /health: 200 "ok" when the store answers a trivial query within kHealthLimit, else 503
  // with a short reason; the detail goes to the log only.
  void AnswerHealth(bool bodyUnread) {
    ex_.method = "GET /health";
    ex_.start = Clock::now();
    HealthReport report;
    if (host_.calls.Closed()) {
      report.reason = "server stopping";
    } else {
      report = host_.service.CheckHealth(kHealthLimit);
    }
    host_.metrics.HealthChecked(report.ok);
    if (!report.ok && !report.detail.empty()) host_.notes.Note("health check failed: " + report.detail);
    ex_.outcome = report.ok ? "ok" : "unavailable: " + report.reason;
    ex_.status = report.ok ? 200 : 503;
    std::string body = report.reason + "\n";
    const size_t size = body.size();
    // Asked every few seconds by each balancer: logged at the debug level only.
    host_.log.Call(CallRecord{.method = ex_.method, .status = ex_.status, .client = ex_.client, .user = ex_.who.user,
                              .responseBytes = size, .duration = Clock::now() - ex_.start,
                              .requestId = ex_.requestId, .outcome = ex_.outcome, .level = LogLevel::kDebug});
    WriteWhole(static_cast<http::status>(ex_.status), std::move(body), bodyUnread,
               {{"Content-Type", "text/plain; charset=utf-8"}, {"Cache-Control", "no-store"}});
  }

  // A whole answer of `bytes` is handed to the network: the call's place is free for another
  // call, and the answer counts against the budget of answers not yet taken until it is sent.
  void HandOver(size_t bytes) {
    ex_.answer = host_.calls.Hold(admission_.ip, bytes);
    ex_.call.Handed();
  }

  // GET …/local.db: the copy is built (or taken from the cache) on a worker; its bytes are shared
  // by every answer, never copied.
  void ServeLocalDb(std::string ifNoneMatch, bool bodyUnread) {
    if (!EnterCall(bodyUnread)) return;
    ex_.method = "GET local.db";
    if (bodyUnread) ex_.keepAlive = false;
    try {
      host_.workers.Submit([self = Self(), ifNoneMatch = std::move(ifNoneMatch), coding = ex_.coding] {
        auto answer = std::make_shared<LocalDbAnswer>(self->host_.localDb->Answer(ifNoneMatch, coding));
        net::post(self->stream_.get_executor(), [self, answer] { self->WriteLocalDb(*answer); });
      });
    } catch (const std::exception& e) {
      EndCall(std::string("failed: no worker to build the copy: ") + e.what(), 0, false);
    }
  }

  void WriteLocalDb(const LocalDbAnswer& answer) {
    if (closed_) return EndCall("aborted: the connection was closed", 0, false);
    if (answer.status == 503 || (answer.status == 200 && !answer.body)) {
      ex_.outcome = "failed: " + (answer.body ? *answer.body : std::string("no copy"));
      ex_.kind = CallOutcome::kFailed;
      ex_.status = 503;
      std::string body = ErrorBody(503, answer.body ? *answer.body : "local database not available");
      const size_t size = body.size();
      HandOver(size);
      WriteWhole(http::status::service_unavailable, std::move(body), false, {},
                 [self = Self(), size](bool sent) { self->EndCall(sent ? self->ex_.outcome : "aborted", size); });
      return;
    }
    ex_.outcome = answer.status == 304 ? "not modified" : "ok";
    using SharedBody = http::span_body<const char>;
    auto res =
        std::make_shared<http::response<SharedBody>>(static_cast<http::status>(answer.status), ex_.http10 ? 10 : 11);
    res->set(http::field::etag, answer.etag);
    res->set(http::field::cache_control, "no-cache");
    res->set("X-Request-Id", ex_.requestId);
    if (answer.coding != ContentCoding::Identity) {
      if (answer.status == 200) res->set(http::field::content_encoding, CodingName(answer.coding));
      res->set(http::field::vary, "Accept-Encoding");
    }
    ex_.status = answer.status;
    if (answer.status == 200) {
      res->set(http::field::content_type, "application/vnd.sqlite3");
      res->body() = SharedBody::value_type(answer.body->data(), answer.body->size());
    }
    res->keep_alive(ex_.keepAlive);
    res->prepare_payload();
    // The copy's bytes are shared by every answer: it holds no answer bytes of its own.
    HandOver(0);
    // One write for the whole copy: its deadline grows with its size (a stall-timeout per 8 MiB).
    const size_t bytes = answer.body ? answer.body->size() : 0;
    Lowest().expires_after(Limits().stallTimeout * static_cast<int>(1 + bytes / (8u << 20)));
    http::async_write(stream_, *res, [self = Self(), res, keep = answer.body](error_code ec, size_t n) {
      self->EndCall(ec ? std::string("aborted: the answer could not be sent") : self->ex_.outcome, n, !ec);
    });
  }

  // GET or HEAD of a file of the browser client: its bytes are kept in memory and shared by every
  // answer, so no worker's turn is taken. A name the page does not hold gets 404.
  void ServePage(const http::request_header<>& req, bool bodyUnread) {
    const auto answer = host_.page->Get(header::View(req.target()), header::View(req[http::field::if_none_match]),
                                        header::View(req[http::field::accept_encoding]));
    if (!answer) return Answer(http::status::not_found, ErrorBody(404, "no such page"), bodyUnread);
    using SharedBody = http::span_body<const char>;
    auto res =
        std::make_shared<http::response<SharedBody>>(static_cast<http::status>(answer->status), ex_.http10 ? 10 : 11);
    for (const auto& [name, value] : answer->headers) res->set(name, value);
    res->body() = SharedBody::value_type(answer->body->data(), answer->body->size());
    if (bodyUnread) ex_.keepAlive = false;
    res->keep_alive(ex_.keepAlive);
    res->prepare_payload();
    if (req.method() == http::verb::head) {
      // The length the GET would send, and no body.
      res->body() = SharedBody::value_type();
      res->content_length(answer->body->size());
    }
    const size_t bytes = answer->body->size();
    Lowest().expires_after(Limits().stallTimeout * static_cast<int>(1 + bytes / (8u << 20)));
    http::async_write(stream_, *res, [self = Self(), res, keep = answer->body](error_code ec, size_t) {
      if (ec) return self->Close();
      if (self->ex_.keepAlive) return self->ReadRequest();
      self->LingerClose();
    });
  }

  void EndCall(const std::string& outcome, size_t responseBytes, bool continueConnection = true) {
    const auto duration = Clock::now() - ex_.start;
    // An outcome other than the call's own tells the answer did not reach the client whole.
    const CallOutcome kind = outcome == ex_.outcome       ? ex_.kind
                             : outcome.rfind("failed", 0) == 0 ? CallOutcome::kFailed
                                                               : CallOutcome::kAborted;
    host_.log.Call(CallRecord{.method = ex_.method, .status = ex_.status, .client = ex_.client, .user = ex_.who.user,
                              .requestBytes = ex_.requestBytes, .responseBytes = responseBytes, .duration = duration,
                              .requestId = ex_.requestId, .outcome = outcome,
                              .level = kind == CallOutcome::kFailed || kind == CallOutcome::kAborted ? LogLevel::kError
                                                                                                     : LogLevel::kInfo});
    host_.metrics.CallEnded(ex_.method, kind, duration, ex_.requestBytes, responseBytes);
    ex_.answer.Release();
    ex_.call.Leave();
    if (!continueConnection || closed_) return Close();
    if (ex_.keepAlive) return ReadRequest();
    LingerClose();
  }

  // ---- Writing answers -------------------------------------------------------------------------

  // Writes a complete answer, then goes on with the connection (or ends it when the client asked,
  // or when the request's body was left unread). done, if set, is told whether it was sent and
  // decides what follows.
  void WriteWhole(http::status status, std::string body, bool endConnection, const Headers& headers,
                  std::function<void(bool)> done = {}) {
    auto res = std::make_shared<http::response<http::string_body>>(status, ex_.http10 ? 10 : 11);
    res->set(http::field::content_type, header::kJson);
    if (!ex_.requestId.empty()) res->set("X-Request-Id", ex_.requestId);
    for (const auto& [name, value] : headers) res->set(name, value);
    ex_.status = static_cast<int>(status);
    res->body() = std::move(body);
    if (endConnection) ex_.keepAlive = false;
    res->keep_alive(ex_.keepAlive);
    res->prepare_payload();
    Lowest().expires_after(Limits().stallTimeout);
    http::async_write(stream_, *res, [self = Self(), res, done = std::move(done)](error_code ec, size_t) {
      if (done) return done(!ec);
      if (ec) return self->Close();
      if (self->ex_.keepAlive) return self->ReadRequest();
      self->LingerClose();
    });
  }

  // An answer that needs no call; the connection ends when the request's body was not read.
  void Answer(http::status status, std::string body, bool bodyUnread, const Headers& headers = {}) {
    WriteWhole(status, std::move(body), bodyUnread, headers);
  }

  // A refused request: its answer, a note in the log, and the end of the connection.
  void Refuse(http::status status, const std::string& message, const std::string& why, const Headers& headers = {}) {
    const int code = static_cast<int>(status);
    host_.metrics.RequestRefused(code);
    // The log escapes what the client sent.
    host_.notes.Note("refused " + (ex_.method.empty() ? std::string("request") : ex_.method.substr(0, 80)) +
                     " from " + admission_.client + ": HTTP " + std::to_string(code) + ", " + why);
    WriteWhole(status, ErrorBody(code, message), true, headers);
  }

  // Ends the connection after an answer: stops sending, reads and drops what the client is still
  // sending for a moment (a close with unread data would reset the connection and could lose the
  // answer on its way), then closes.
  void LingerClose() {
    if (closed_) return;
    error_code ignored;
    Lowest().socket().shutdown(tcp::socket::shutdown_send, ignored);
    drained_ = 0;
    Lowest().expires_after(kDrainTime);
    Drain();
  }
  void Drain() {
    if (drainBuffer_.empty()) drainBuffer_.resize(16 * 1024);
    Lowest().socket().async_read_some(net::buffer(drainBuffer_), [self = Self()](error_code ec, size_t n) {
      self->drained_ += n;
      if (ec || self->drained_ > kDrainBytes || self->closed_) return self->Close();
      self->Drain();
    });
  }

  void Close() {
    if (closed_) return;
    closed_ = true;
    error_code ignored;
    Lowest().socket().shutdown(tcp::socket::shutdown_both, ignored);
    Lowest().close();
  }

  SessionHost& host_;
  // First, so that the connection's shares are given back after everything else has ended.
  Admission admission_;
  boost::asio::ip::address tcpPeer_;  // the connection's peer
  boost::asio::ip::address peer_;     // the same, or the client a trusted PROXY header named
  std::string client_;             // its text, "HOST:PORT"
  Stream stream_;
  beast::flat_buffer buffer_;
  std::optional<Parser> parser_;
  Exchange ex_;
  StreamPump<Stream> pump_;
  bool served_ = false;  // a request was read whole on this connection
  bool closed_ = false;
  std::vector<char> drainBuffer_;
  size_t drained_ = 0;
};

}  // namespace server::edge::session
