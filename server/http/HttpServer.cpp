#include "server/http/HttpServer.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <list>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "server/http/RequestPolicy.h"

namespace server {
namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace ssl = net::ssl;
using tcp = net::ip::tcp;
using error_code = boost::system::error_code;
using Clock = std::chrono::steady_clock;

constexpr const char* kJson = "application/json; charset=utf-8";
// What a kept-alive connection reads at once while waiting for its next request.
constexpr size_t kReadChunk = 8 * 1024;
// After an answer that ends a connection, what is still arriving is read and dropped for a moment
// (so the client reads the answer instead of a reset), up to this much.
constexpr size_t kDrainBytes = 1024 * 1024;
constexpr std::chrono::milliseconds kDrainTime{1000};
// Refusal notes in the log, at most this many a second (a flood must not flood the log too).
constexpr int kNotesPerSecond = 20;


bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::string_view View(beast::string_view text) { return {text.data(), text.size()}; }

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// Accept failures that say nothing about the listener itself: the next accept may well succeed.
bool OutOfResources(const error_code& ec) {
  return ec == net::error::no_descriptors || ec == boost::system::errc::too_many_files_open_in_system ||
         ec == net::error::no_buffer_space || ec == net::error::no_memory;
}
bool ListenerBroken(const error_code& ec) {
  return ec == net::error::bad_descriptor || ec == boost::system::errc::invalid_argument ||
         ec == boost::system::errc::not_a_socket || ec == net::error::operation_not_supported;
}


}  // namespace

// ------------------------------------------------------------------------------------------------
// The network side: the listener, the accounting of connections and bytes, the workers.

class SessionBase {
 public:
  virtual ~SessionBase() = default;
  // Closes the connection at once (on its own executor).
  virtual void Abandon() = 0;
};

class HttpServer::Engine {
 public:
  Engine(RemoteService& theService, CallLog& theLog, HttpServerOptions theOptions)
      : service(theService), log(theLog), options(std::move(theOptions)) {
    path = "/" + std::string(RemoteService::kServiceName);
    if (this->options.tls.Enabled()) LoadTls();
  }

  int Bind() {
    error_code ec;
    const auto address = net::ip::make_address(options.host, ec);
    if (ec) throw std::runtime_error("cannot listen on " + options.host + ": not an IP address");
    const tcp::endpoint endpoint(address, static_cast<unsigned short>(options.port));
    acceptor_.open(endpoint.protocol(), ec);
    // Reusing a port left in TIME_WAIT is all a restart needs; SO_REUSEPORT is never set, so a
    // second server cannot bind a port in use and silently take half of its calls.
    if (!ec) acceptor_.set_option(net::socket_base::reuse_address(true), ec);
    if (!ec) acceptor_.bind(endpoint, ec);
    if (!ec) acceptor_.listen(net::socket_base::max_listen_connections, ec);
    if (ec) {
      throw std::runtime_error("cannot listen on " + options.host + ":" + std::to_string(options.port) + " (" +
                               ec.message() + ")");
    }
    options.port = acceptor_.local_endpoint().port();
    return options.port;
  }

  void Run() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) return;
      running_ = true;
    }
    Accept();
    // This thread accepts; the connections live on lanes (see Lane), each a thread of its own.
    RunLoop(ioc_);
    // The listener is closed: the lanes end when their connections have.
    std::vector<std::thread> threads;
    {
      std::lock_guard<std::mutex> lock(lanesMutex_);
      for (auto& lane : lanes_) threads.push_back(std::move(lane->thread));
    }
    for (auto& thread : threads) {
      if (thread.joinable()) thread.join();
    }
    std::string failure;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      running_ = false;
      ran_ = true;
      failure = failure_;
      changed_.notify_all();
    }
    if (stopper_.joinable()) stopper_.join();
    if (!failure.empty()) throw std::runtime_error(failure);
  }

  void Stop() { Shutdown(""); }

  // Stops accepting, waits for the calls under way, then closes every connection. A non-empty
  // failure is what Run raises afterwards.
  void Shutdown(const std::string& failure) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (failure_.empty()) failure_ = failure;
    if (stopping_) {
      if (!failure.empty()) return;  // called from a network thread: do not wait on it
      changed_.wait(lock, [this] { return ran_ || !running_; });
      return;
    }
    stopping_ = true;
    net::post(ioc_, [this] {
      error_code ignored;
      acceptor_.close(ignored);
      acceptTimer_.cancel();
    });
    if (!failure.empty()) {
      // On a network thread: close the rest when the calls under way are done, from a thread
      // that may wait.
      stopper_ = std::thread([this] { FinishStop(); });
      return;
    }
    lock.unlock();
    FinishStop();
  }

  // ---- Accounting ------------------------------------------------------------------------------

  // Admits a new connection from ip; false when a connection budget is spent.
  bool Admit(const std::string& ip) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_ || connections_ >= options.limits.maxConnections) return false;
    size_t& mine = perClient_[ip];
    if (options.limits.maxConnectionsPerClient != 0 && mine >= options.limits.maxConnectionsPerClient) {
      if (mine == 0) perClient_.erase(ip);
      return false;
    }
    ++mine;
    ++connections_;
    return true;
  }
  void Leave(const std::string& ip) {
    std::lock_guard<std::mutex> lock(mutex_);
    --connections_;
    auto it = perClient_.find(ip);
    if (it != perClient_.end() && --it->second == 0) perClient_.erase(it);
  }

  // Takes bytes from the budget of request bytes in flight; false when it would go over.
  bool Reserve(size_t bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (bytesInFlight_ + bytes > options.limits.maxBytesInFlight) return false;
    bytesInFlight_ += bytes;
    return true;
  }
  void Release(size_t bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    bytesInFlight_ -= bytes;
  }

  // Marks a call as begun; false when the server is stopping or too many calls (or streamed
  // answers, which hold a store session each) are under way.
  enum class Entry { Entered, Stopping, Busy };
  Entry EnterCall() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return Entry::Stopping;
    if (callsUnderWay_ >= Workers() * 8) return Entry::Busy;
    ++callsUnderWay_;
    return Entry::Entered;
  }
  // A call under way that answers with a stream holds a store session until the answer is sent:
  // no more streams than workers at once.
  bool EnterStream() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (streams_ >= Workers()) return false;
    ++streams_;
    return true;
  }
  size_t Workers() const { return static_cast<size_t>(std::max(1, options.threads)); }
  void LeaveCall(bool streamed) {
    std::lock_guard<std::mutex> lock(mutex_);
    --callsUnderWay_;
    if (streamed) --streams_;
    changed_.notify_all();
  }
  bool Stopping() {
    std::lock_guard<std::mutex> lock(mutex_);
    return stopping_;
  }

  // A lane is one thread serving its connections from start to end: it reads a request, runs
  // its call and writes its answer itself, so a call costs no hand-over between threads (each
  // hand-over is a wake-up, which on a busy machine costs more than a small call). There are at
  // most `Workers()` lanes, so the store sees at most that many calls at once. A lane is opened
  // when a connection arrives and every lane already serves one, so with fewer connections than
  // workers each has a thread of its own; past that, a new connection joins the lane serving the
  // fewest. A slow call holds back only the connections of its own lane.
  struct Lane {
    size_t sessions = 0;  // under lanesMutex_; before the context, whose end ends its sessions
    net::io_context context{1};
    net::executor_work_guard<net::io_context::executor_type> guard{context.get_executor()};
    std::thread thread;
  };

  // The lane a new connection goes to, its count taken.
  Lane& PickLane() {
    std::lock_guard<std::mutex> lock(lanesMutex_);
    Lane* least = nullptr;
    for (auto& lane : lanes_) {
      if (least == nullptr || lane->sessions < least->sessions) least = lane.get();
    }
    if ((least == nullptr || least->sessions > 0) && lanes_.size() < Workers()) {
      try {
        auto lane = std::make_unique<Lane>();
        // The lane's descriptors (its poller, its wake-up and timer descriptors) are made now,
        // where their lack can be handled, not when its first connection arrives.
        tcp::socket warmUp(lane->context);
        net::steady_timer warmUpTimer(lane->context);
        Lane* opened = lane.get();
        lanes_.push_back(std::move(lane));
        opened->thread = std::thread([this, opened] { RunLoop(opened->context); });
        least = opened;
      } catch (const std::exception& e) {
        // Out of descriptors or threads: the lanes there are serve it.
        if (least == nullptr) throw;
        Note(std::string("could not open another lane (") + e.what() + "); sharing one");
      }
    }
    ++least->sessions;
    return *least;
  }
  void LeaveLane(Lane& lane) {
    std::lock_guard<std::mutex> lock(lanesMutex_);
    --lane.sessions;
  }

  void Register(const std::shared_ptr<SessionBase>& session) {
    std::lock_guard<std::mutex> lock(mutex_);
    // Forget sessions already gone now and then, so the list stays the size of the open ones.
    if (sessions_.size() > 2 * connections_ + 64) {
      sessions_.remove_if([](const std::weak_ptr<SessionBase>& s) { return s.expired(); });
    }
    sessions_.push_back(session);
  }

  // A refusal or a dropped connection, for the log; rate-limited.
  void Note(const std::string& text) {
    const auto now = Clock::now();
    std::string skipped;
    {
      std::lock_guard<std::mutex> lock(noteMutex_);
      if (now - noteWindow_ >= std::chrono::seconds(1)) {
        if (notesSkipped_ > 0) skipped = " (" + std::to_string(notesSkipped_) + " similar notes not written)";
        noteWindow_ = now;
        notesInWindow_ = 0;
        notesSkipped_ = 0;
      }
      if (++notesInWindow_ > kNotesPerSecond) {
        ++notesSkipped_;
        return;
      }
    }
    log.Note(text + skipped);
  }

  RemoteService& service;
  CallLog& log;
  HttpServerOptions options;
  std::string path;
  ssl::context& Tls() { return tls_; }

 private:
  void LoadTls() {
    tls_.set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 | ssl::context::no_sslv3 |
                     ssl::context::no_tlsv1 | ssl::context::no_tlsv1_1 | ssl::context::single_dh_use);
    error_code ec;
    tls_.use_certificate_chain_file(options.tls.certificateFile, ec);
    if (ec) {
      throw std::runtime_error("cannot load the TLS certificate " + options.tls.certificateFile + ": " + ec.message());
    }
    tls_.use_private_key_file(options.tls.keyFile, ssl::context::pem, ec);
    if (ec && ec.message().find("mismatch") != std::string::npos) {
      throw std::runtime_error("the TLS key " + options.tls.keyFile + " does not match the certificate " +
                               options.tls.certificateFile);
    }
    if (ec) throw std::runtime_error("cannot load the TLS key " + options.tls.keyFile + ": " + ec.message());
    if (SSL_CTX_check_private_key(tls_.native_handle()) != 1) {
      throw std::runtime_error("the TLS key " + options.tls.keyFile + " does not match the certificate " +
                               options.tls.certificateFile);
    }
  }

  void Accept() {
    acceptor_.async_accept([this](error_code ec, tcp::socket socket) {
      OnAccept(ec, std::move(socket));
    });
  }

  void OnAccept(const error_code& ec, tcp::socket socket);

  // One thread's share of the network. A handler never raises (calls and fills catch what the
  // service raises); should one, the server stops rather than lose the thread silently.
  void RunLoop(net::io_context& context) {
    try {
      context.run();
    } catch (const std::exception& e) {
      log.Note(std::string("pdi07310-server: a network thread failed: ") + e.what());
      Shutdown(std::string("a network thread failed: ") + e.what());
      context.run();
    }
  }

  void FinishStop() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return callsUnderWay_ == 0; });
    std::list<std::weak_ptr<SessionBase>> sessions;
    sessions.swap(sessions_);
    lock.unlock();
    for (auto& weak : sessions) {
      if (auto session = weak.lock()) session->Abandon();
    }
    {
      std::lock_guard<std::mutex> lanesLock(lanesMutex_);
      for (auto& lane : lanes_) lane->guard.reset();
    }
    lock.lock();
    // Run returns once the closed connections' handlers have run; the wait is bounded in case a
    // handler is slow to notice.
    if (!changed_.wait_for(lock, std::chrono::seconds(5), [this] { return ran_ || !running_; })) {
      ioc_.stop();
      {
        std::lock_guard<std::mutex> lanesLock(lanesMutex_);
        for (auto& lane : lanes_) lane->context.stop();
      }
      changed_.wait(lock, [this] { return ran_ || !running_; });
    }
  }

  // Declared first so that they outlive the network objects below, whose handlers use them.
  std::mutex mutex_;
  std::condition_variable changed_;
  size_t connections_ = 0;
  std::map<std::string, size_t> perClient_;
  size_t bytesInFlight_ = 0;
  size_t callsUnderWay_ = 0;
  size_t streams_ = 0;
  bool stopping_ = false;
  bool running_ = false;
  bool ran_ = false;
  std::string failure_;
  std::list<std::weak_ptr<SessionBase>> sessions_;
  std::thread stopper_;

  std::mutex noteMutex_;
  Clock::time_point noteWindow_{};
  int notesInWindow_ = 0;
  int notesSkipped_ = 0;

  std::mutex lanesMutex_;
  std::vector<std::unique_ptr<Lane>> lanes_;

  ssl::context tls_{ssl::context::tls_server};
  net::io_context ioc_{1};  // the listener's
  tcp::acceptor acceptor_{ioc_};
  net::steady_timer acceptTimer_{ioc_};
};

namespace {

// ------------------------------------------------------------------------------------------------
// One connection: reads requests one after the other, answers each in order.

template <class Stream>
class Session : public SessionBase, public std::enable_shared_from_this<Session<Stream>> {
 public:
  template <class... Args>
  Session(HttpServer::Engine& engine, HttpServer::Engine::Lane& lane, std::string ip, std::string client,
          Args&&... streamArgs)
      : engine_(engine), lane_(lane), stream_(std::forward<Args>(streamArgs)...), ip_(std::move(ip)),
        client_(std::move(client)) {}

  ~Session() override {
    if (reserved_ > 0) engine_.Release(reserved_);
    if (inCall_) engine_.LeaveCall(streamed_);
    engine_.Leave(ip_);
    engine_.LeaveLane(lane_);
  }

  void Start() {
    if constexpr (kTls) {
      Lowest().expires_after(Limits().headTimeout);
      stream_.async_handshake(ssl::stream_base::server, [self = this->shared_from_this()](error_code ec) {
        if (ec) return self->Close();
        self->ReadRequest();
      });
    } else {
      ReadRequest();
    }
  }

  void Abandon() override {
    net::post(stream_.get_executor(), [self = this->shared_from_this()] { self->Close(); });
  }

 private:
  static constexpr bool kTls = !std::is_same_v<Stream, beast::tcp_stream>;
  using Parser = http::request_parser<http::string_body>;

  beast::tcp_stream& Lowest() { return beast::get_lowest_layer(stream_); }
  const HttpLimits& Limits() const { return engine_.options.limits; }
  std::shared_ptr<Session> Self() { return this->shared_from_this(); }

  // ---- Reading a request -------------------------------------------------------------------

  void ReadRequest() {
    if (closed_) return;
    if (engine_.Stopping()) return Close();
    method_.clear();
    parser_.emplace();
    parser_->header_limit(static_cast<std::uint32_t>(Limits().maxHeaderBytes));
    parser_->body_limit(Limits().maxRequestBytes);
    if (buffer_.size() > 0) return ReadHead();  // a pipelined request is already here
    // Waiting for the next request costs this buffer and the socket, nothing more.
    Lowest().expires_after(Limits().idleTimeout);
    stream_.async_read_some(buffer_.prepare(kReadChunk), [self = Self()](error_code ec, size_t n) {
      if (ec) return self->Close();
      self->buffer_.commit(n);
      self->ReadHead();
    });
  }

  void ReadHead() {
    Lowest().expires_after(Limits().headTimeout);
    phase_ = Phase::Head;
    Parse();
  }

  // Gives the parser what the buffer holds and reads more while the head, then the body, is
  // incomplete. A request that arrived whole is judged, called and answered by this thread
  // without waiting for anything (the composed reads of the HTTP library would hand each
  // completion back through the executor). The parser enforces the head and body limits; the
  // deadline of each phase covers all of its reads.
  void Parse() {
    while (buffer_.size() > 0 && !parser_->is_done()) {
      error_code ec;
      const size_t used = parser_->put(buffer_.data(), ec);
      buffer_.consume(used);
      if (ec == http::error::need_more) break;
      if (ec) return RefuseBroken(ec, phase_ == Phase::Head ? "head" : "body");
      if (used == 0) break;
      if (phase_ == Phase::Head && parser_->is_header_done()) {
        phase_ = Phase::Judging;
        if (!OnHead()) return;  // answered, refused, or waiting for the client's go-ahead
      }
    }
    if (phase_ == Phase::Body && parser_->is_done()) return Dispatch();
    if (phase_ == Phase::Judging) return;
    stream_.async_read_some(buffer_.prepare(kReadChunk), [self = Self()](error_code ec, size_t n) {
      if (ec) return self->RefuseBroken(ec, self->phase_ == Phase::Head ? "head" : "body");
      self->buffer_.commit(n);
      self->Parse();
    });
  }

  // The head is whole: true when the body is to be read now.
  bool OnHead() {
    auto& req = parser_->get();
    keepAlive_ = req.keep_alive();
    http10_ = req.version() < 11;
    method_ = std::string(req.method_string());

    const HeadVerdict verdict =
        JudgeHead(req, engine_.path, engine_.options.tokens.get(), engine_.options.localDb != nullptr);
    const bool hasBody = !parser_->is_done();
    user_ = verdict.user;
    switch (verdict.route) {
      case HeadVerdict::Route::Refuse:
        Refuse(static_cast<http::status>(verdict.status), verdict.message, verdict.why, verdict.headers);
        return false;
      case HeadVerdict::Route::Answer:
        Answer(static_cast<http::status>(verdict.status), verdict.body, hasBody, verdict.headers);
        return false;
      case HeadVerdict::Route::Describe:
        Answer(http::status::ok, RemoteService::Describe(), hasBody);
        return false;
      case HeadVerdict::Route::LocalDb:
        ServeLocalDb(std::string(View(req[http::field::if_none_match])), hasBody);
        return false;
      case HeadVerdict::Route::Call: break;
    }

    // The body's bytes are counted against the budget before they are read: the length it
    // declares, or the most a chunked body may grow to.
    const auto declared = parser_->content_length();
    const size_t need = parser_->is_done() ? 0 : declared ? static_cast<size_t>(*declared) : Limits().maxRequestBytes;
    if (!engine_.Reserve(need)) {
      Refuse(http::status::service_unavailable, "server busy; try again shortly", "request bytes in flight");
      return false;
    }
    reserved_ = need;
    if (declared) req.body().reserve(static_cast<size_t>(*declared));

    if (EqualsNoCase(Trimmed(View(req[http::field::expect])), "100-continue")) {
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
    phase_ = Phase::Body;
    parser_->eager(true);  // from here on a put takes every body byte the buffer holds
  }

  void ReadBody() {
    BeginBody();
    Parse();
  }

  // A request that could not be read whole: an answer where one helps the client, else close.
  void RefuseBroken(const error_code& ec, const char* part) {
    if (ec == http::error::body_limit) {
      return Refuse(http::status::payload_too_large, "request body too large", "body over the limit");
    }
    if (ec == http::error::header_limit) {
      return Refuse(http::status::request_header_fields_too_large, "request head too large", "head over the limit");
    }
    if (ec == beast::error::timeout) {
      engine_.Note("dropped connection from " + client_ + ": request " + part + " not received in time");
      return Close();
    }
    if (ec.category() == make_error_code(http::error::end_of_stream).category() && ec != http::error::end_of_stream &&
        ec != http::error::partial_message) {
      return Refuse(http::status::bad_request, "bad HTTP request", ec.message());
    }
    Close();  // the client went away
  }

  // ---- Calling the service -------------------------------------------------------------------

  void Dispatch() {
    switch (engine_.EnterCall()) {
      case HttpServer::Engine::Entry::Stopping:
        return Answer(http::status::service_unavailable, ErrorBody(503, "server stopping"), false);
      case HttpServer::Engine::Entry::Busy:
        return Answer(http::status::service_unavailable, ErrorBody(503, "server busy; try again shortly"), false);
      case HttpServer::Engine::Entry::Entered: break;
    }
    inCall_ = true;
    streamed_ = false;
    start_ = Clock::now();
    CallContext context{client_, user_};
    const size_t reserved = std::exchange(reserved_, 0);

    // The call runs here, on this connection's lane.
    std::string body = std::move(parser_->get().body());
    Reply reply = engine_.service.Call(body, context);
    const size_t requestBytes = body.size();
    std::string().swap(body);
    engine_.Release(reserved);
    OnReply(std::move(reply), requestBytes);
  }

  void OnReply(Reply reply, size_t requestBytes) {
    requestBytes_ = requestBytes;
    method_ = reply.method;
    outcome_ = reply.outcome;
    if (!reply.stream) {
      const size_t size = reply.body.size();
      // An empty answer (a batch of notifications only) is 204 No Content.
      const http::status status = size == 0 ? http::status::no_content : http::status::ok;
      WriteWhole(status, std::move(reply.body), false, {}, [self = Self(), size](bool sent) {
        self->EndCall(sent ? self->outcome_ : std::string("aborted: the answer could not be sent"), size);
      });
      return;
    }
    if (!engine_.EnterStream()) {
      reply.stream.reset();
      std::string body = ErrorBody(503, "server busy; try again shortly");
      const size_t size = body.size();
      WriteWhole(http::status::service_unavailable, std::move(body), false, {}, [self = Self(), size](bool sent) {
        self->EndCall(sent ? "refused: too many answers being streamed" : "aborted", size);
      });
      return;
    }
    streamed_ = true;
    replyStream_ = std::move(reply.stream);
    // A kept-alive connection may have streamed an answer before: every mark starts afresh.
    sent_ = 0;
    moreToFill_ = true;
    headerSent_ = false;
    filling_ = false;
    writing_ = false;
    failed_ = false;
    streamDone_ = false;
    failure_.clear();
    auto header = std::make_shared<http::response<http::empty_body>>(http::status::ok, http10_ ? 10 : 11);
    header->set(http::field::content_type, kJson);
    if (http10_) {
      // No chunked coding in HTTP/1.0: the answer ends when the connection does.
      header->keep_alive(false);
      keepAlive_ = false;
    } else {
      header->chunked(true);
      header->keep_alive(keepAlive_);
    }
    auto serializer = std::make_shared<http::response_serializer<http::empty_body>>(*header);
    Lowest().expires_after(Limits().stallTimeout);
    http::async_write_header(stream_, *serializer, [self = Self(), header, serializer](error_code ec, size_t n) {
      if (ec) return self->AbortStream(ec == beast::error::timeout ? "the client took nothing for too long"
                                                                   : "client went away");
      self->sent_ += n;
      self->headerSent_ = true;
      self->Pump();
    });
    Pump();
  }

  // GET …/local.db: the copy is built (or taken from the cache) on this lane; its bytes are shared
  // by every answer, never copied.
  void ServeLocalDb(std::string ifNoneMatch, bool bodyUnread) {
    switch (engine_.EnterCall()) {
      case HttpServer::Engine::Entry::Stopping:
        return Answer(http::status::service_unavailable, ErrorBody(503, "server stopping"), bodyUnread);
      case HttpServer::Engine::Entry::Busy:
        return Answer(http::status::service_unavailable, ErrorBody(503, "server busy; try again shortly"), bodyUnread);
      case HttpServer::Engine::Entry::Entered: break;
    }
    inCall_ = true;
    streamed_ = false;
    start_ = Clock::now();
    requestBytes_ = 0;
    method_ = "GET local.db";
    if (bodyUnread) keepAlive_ = false;
    WriteLocalDb(engine_.options.localDb->Answer(ifNoneMatch));
  }

  void WriteLocalDb(const LocalDbAnswer& answer) {
    if (answer.status == 503 || (answer.status == 200 && !answer.body)) {
      outcome_ = "failed: " + (answer.body ? *answer.body : std::string("no copy"));
      std::string body = ErrorBody(503, answer.body ? *answer.body : "local database not available");
      const size_t size = body.size();
      WriteWhole(http::status::service_unavailable, std::move(body), false, {},
                 [self = Self(), size](bool sent) { self->EndCall(sent ? self->outcome_ : "aborted", size); });
      return;
    }
    outcome_ = answer.status == 304 ? "not modified" : "ok";
    using SharedBody = http::span_body<const char>;
    auto res = std::make_shared<http::response<SharedBody>>(static_cast<http::status>(answer.status), http10_ ? 10 : 11);
    res->set(http::field::etag, answer.etag);
    res->set(http::field::cache_control, "no-cache");
    if (answer.status == 200) {
      res->set(http::field::content_type, "application/vnd.sqlite3");
      res->body() = SharedBody::value_type(answer.body->data(), answer.body->size());
    }
    res->keep_alive(keepAlive_);
    res->prepare_payload();
    // One write for the whole copy: its deadline grows with its size (a stall-timeout per 8 MiB).
    const size_t bytes = answer.body ? answer.body->size() : 0;
    Lowest().expires_after(Limits().stallTimeout * static_cast<int>(1 + bytes / (8u << 20)));
    http::async_write(stream_, *res, [self = Self(), res, keep = answer.body](error_code ec, size_t n) {
      self->EndCall(ec ? std::string("aborted: the answer could not be sent") : self->outcome_, n, !ec);
    });
  }

  // Keeps one piece being filled while the one before it is being sent.
  void Pump() {
    if (streamDone_) return;
    if (!filling_ && moreToFill_ && !ready_ && !failed_) Fill();
    if (writing_ || !headerSent_) return;
    if (ready_) {
      sending_ = std::move(*ready_);
      ready_.reset();
      if (!filling_ && moreToFill_ && !failed_) Fill();
      if (sending_.empty()) return Pump();
      writing_ = true;
      Lowest().expires_after(Limits().stallTimeout);
      auto done = [self = Self()](error_code ec, size_t n) {
        self->writing_ = false;
        if (ec) return self->AbortStream(ec == beast::error::timeout ? "the client took nothing for too long"
                                                                     : "client went away");
        self->sent_ += n;
        self->Pump();
      };
      if (http10_) {
        net::async_write(stream_, net::buffer(sending_), std::move(done));
      } else {
        net::async_write(stream_, http::make_chunk(net::buffer(sending_)), std::move(done));
      }
      return;
    }
    if (failed_) return AbortStream(failure_);
    if (moreToFill_ || filling_) return;
    // Every piece sent: the last chunk ends the answer.
    streamDone_ = true;
    if (http10_) return FinishStream(true);
    writing_ = true;
    Lowest().expires_after(Limits().stallTimeout);
    net::async_write(stream_, http::make_chunk_last(), [self = Self()](error_code ec, size_t n) {
      self->writing_ = false;
      self->sent_ += n;
      self->FinishStream(!ec);
    });
  }

  // Fills the next piece on this lane, after the handler under way (and those of the lane's other
  // connections): the piece before it goes on being sent meanwhile.
  void Fill() {
    filling_ = true;
    net::post(stream_.get_executor(), [self = Self()] {
      {
        if (self->streamDone_) {  // the client went away before this piece's turn came
          self->filling_ = false;
          return self->FinishStream(false);
        }
        std::string piece;
        bool more = false;
        std::string failure;
        try {
          more = self->replyStream_->Fill(piece);
        } catch (const std::exception& e) {
          failure = std::string("failed while streaming: ") + e.what();
        }
        self->filling_ = false;
        if (!failure.empty()) {
          self->failed_ = true;
          self->failure_ = failure;
          self->moreToFill_ = false;
        } else {
          self->ready_ = std::move(piece);
          self->moreToFill_ = more;
        }
        if (self->streamDone_) return self->FinishStream(false);  // aborted while filling
        self->Pump();
      }
    });
  }

  void AbortStream(const std::string& why) {
    if (failure_.empty()) failure_ = why;
    streamDone_ = true;
    Close();
    if (!filling_) FinishStream(false);  // else when the piece being filled comes back
  }

  void FinishStream(bool complete) {
    if (!replyStream_) return;
    replyStream_.reset();  // ends the read transaction and returns the store session
    ready_.reset();
    std::string().swap(sending_);
    const std::string outcome = complete ? outcome_ : failure_.empty() ? std::string("aborted") : failure_;
    EndCall(outcome, sent_, complete);
  }

  void EndCall(const std::string& outcome, size_t responseBytes, bool continueConnection = true) {
    engine_.log.Call(method_, requestBytes_, responseBytes, Clock::now() - start_, outcome);
    if (inCall_) {
      inCall_ = false;
      engine_.LeaveCall(streamed_);
    }
    if (!continueConnection || closed_) return Close();
    if (keepAlive_) return ReadRequest();
    LingerClose();
  }

  // ---- Writing answers -----------------------------------------------------------------------

  using Headers = std::vector<std::pair<std::string, std::string>>;

  // Writes a complete answer, then goes on with the connection (or ends it when the client asked,
  // or when the request's body was left unread). done, if set, is told whether it was sent and
  // decides what follows.
  void WriteWhole(http::status status, std::string body, bool endConnection, const Headers& headers,
                  std::function<void(bool)> done = {}) {
    auto res = std::make_shared<http::response<http::string_body>>(status, http10_ ? 10 : 11);
    res->set(http::field::content_type, kJson);
    for (const auto& [name, value] : headers) res->set(name, value);
    res->body() = std::move(body);
    if (endConnection) keepAlive_ = false;
    res->keep_alive(keepAlive_);
    res->prepare_payload();
    Lowest().expires_after(Limits().stallTimeout);
    http::async_write(stream_, *res, [self = Self(), res, done = std::move(done)](error_code ec, size_t) {
      if (done) return done(!ec);
      if (ec) return self->Close();
      if (self->keepAlive_) return self->ReadRequest();
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
    // The log escapes what the client sent.
    engine_.Note("refused " + (method_.empty() ? std::string("request") : method_.substr(0, 80)) + " from " + client_ +
                 ": HTTP " + std::to_string(code) + ", " + why);
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

  HttpServer::Engine& engine_;
  HttpServer::Engine::Lane& lane_;
  Stream stream_;
  beast::flat_buffer buffer_;
  std::optional<Parser> parser_;
  std::string ip_;
  std::string client_;
  std::string user_;
  std::string method_;
  // What the parser is reading: the head, (the head is being judged,) the body.
  enum class Phase { Head, Judging, Body };
  Phase phase_ = Phase::Head;
  bool keepAlive_ = true;
  bool http10_ = false;
  bool closed_ = false;
  size_t reserved_ = 0;

  // The call under way.
  bool inCall_ = false;
  bool streamed_ = false;
  Clock::time_point start_;
  size_t requestBytes_ = 0;
  std::string outcome_;

  // A streamed answer.
  std::unique_ptr<ReplyStream> replyStream_;
  std::optional<std::string> ready_;
  std::string sending_;
  size_t sent_ = 0;
  bool headerSent_ = false;
  bool filling_ = false;
  bool writing_ = false;
  bool moreToFill_ = false;
  bool failed_ = false;
  bool streamDone_ = false;
  std::string failure_;

  std::vector<char> drainBuffer_;
  size_t drained_ = 0;
};

// "HOST:PORT" of a client, an IPv6 address in brackets.
std::string ClientText(const tcp::endpoint& endpoint) {
  const std::string ip = endpoint.address().to_string();
  return (endpoint.address().is_v6() ? "[" + ip + "]" : ip) + ":" + std::to_string(endpoint.port());
}

}  // namespace

void HttpServer::Engine::OnAccept(const error_code& ec, tcp::socket socket) {
  if (ec) {
    if (ec == net::error::operation_aborted || Stopping()) return;
    if (ListenerBroken(ec)) {
      log.Note("pdi07310-server: the listener failed: " + ec.message());
      Shutdown("the listener failed: " + ec.message());
      return;
    }
    // Out of descriptors or memory: wait a little for connections to end rather than spinning;
    // any other failure concerned that one connection only.
    const auto pause = OutOfResources(ec) ? std::chrono::milliseconds(100) : std::chrono::milliseconds(1);
    Note("accept failed (" + ec.message() + "); accepting again in " + std::to_string(pause.count()) + " ms");
    acceptTimer_.expires_after(pause);
    acceptTimer_.async_wait([this](error_code wec) {
      if (!wec && !Stopping()) Accept();
    });
    return;
  }
  Accept();

  error_code endpointError;
  const tcp::endpoint remote = socket.remote_endpoint(endpointError);
  if (endpointError) return;  // gone already
  const std::string ip = remote.address().to_string();
  const std::string client = ClientText(remote);
  if (!Admit(ip)) {
    Note("refused connection from " + client + ": too many connections");
    if (!options.tls.Enabled()) {
      // A fresh socket's send buffer is empty: the short answer goes out without waiting.
      static const std::string kBusy = [] {
        const std::string body = ErrorBody(503, "server busy; too many connections");
        return "HTTP/1.1 503 Service Unavailable\r\nContent-Type: application/json; charset=utf-8\r\n"
               "Connection: close\r\nContent-Length: " +
               std::to_string(body.size()) + "\r\n\r\n" + body;
      }();
      error_code ignored;
      socket.non_blocking(true, ignored);
      socket.send(net::buffer(kBusy), 0, ignored);
      socket.shutdown(tcp::socket::shutdown_send, ignored);
    }
    return;
  }
  error_code ignored;
  // Small answers (checks, saves) go out at once instead of waiting for the client's delayed ACK.
  socket.set_option(tcp::no_delay(true), ignored);
  // The connection moves to its lane.
  Lane* lane = nullptr;
  try {
    lane = &PickLane();
  } catch (const std::exception& e) {
    Leave(ip);
    Note("refused connection from " + client + ": " + e.what());
    return;
  }
  error_code moved;
  tcp::socket own(lane->context);
  own.assign(remote.protocol(), socket.release(moved), moved);
  if (moved) {
    Leave(ip);
    LeaveLane(*lane);
    return;
  }
  std::shared_ptr<SessionBase> session;
  if (options.tls.Enabled()) {
    auto s = std::make_shared<Session<beast::ssl_stream<beast::tcp_stream>>>(*this, *lane, ip, client, std::move(own),
                                                                             tls_);
    session = s;
    Register(session);
    net::post(lane->context, [s] { s->Start(); });
  } else {
    auto s = std::make_shared<Session<beast::tcp_stream>>(*this, *lane, ip, client, std::move(own));
    session = s;
    Register(session);
    net::post(lane->context, [s] { s->Start(); });
  }
}

HttpServer::HttpServer(RemoteService& service, CallLog& log, HttpServerOptions options)
    : engine_(std::make_unique<Engine>(service, log, std::move(options))) {}

HttpServer::~HttpServer() = default;

int HttpServer::Bind() { return engine_->Bind(); }

void HttpServer::Run() { engine_->Run(); }

void HttpServer::Stop() { engine_->Stop(); }

}  // namespace server
