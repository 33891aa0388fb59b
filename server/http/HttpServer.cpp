#include "server/http/HttpServer.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl/context.hpp>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <list>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

#include "server/http/CallGate.h"
#include "server/http/CallWorkers.h"
#include "server/http/ConnectionBudget.h"
#include "server/http/HeaderText.h"
#include "server/http/LanePool.h"
#include "server/http/Listener.h"
#include "server/http/RequestPolicy.h"
#include "server/http/Session.h"
#include "server/http/SignInRoute.h"
#include "server/http/ThrottledNotes.h"
#include "server/http/TlsContext.h"

namespace server {
namespace {

namespace net = boost::asio;
using tcp = net::ip::tcp;
using error_code = boost::system::error_code;

// "HOST:PORT" of a client, an IPv6 address in brackets.
std::string ClientText(const tcp::endpoint& endpoint) {
  const std::string ip = endpoint.address().to_string();
  return (endpoint.address().is_v6() ? "[" + ip + "]" : ip) + ":" + std::to_string(endpoint.port());
}

// Answers 503 on a connection refused at the door and ends it. A fresh socket's send buffer is
// empty: the short answer goes out without waiting.
void SendBusy(tcp::socket& socket) {
  static const std::string kBusy = [] {
    const std::string body = ErrorBody(503, "server busy; too many connections");
    return std::string("HTTP/1.1 503 Service Unavailable\r\nContent-Type: ") + header::kJson +
           "\r\nConnection: close\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  }();
  error_code ignored;
  socket.non_blocking(true, ignored);
  socket.send(net::buffer(kBusy), 0, ignored);
  socket.shutdown(tcp::socket::shutdown_send, ignored);
}

LiveConfig::Values LiveValues(const HttpServerOptions& options) {
  LiveConfig::Values values;
  values.tokens = options.tokens;
  if (options.trustedProxies) values.proxies = options.trustedProxies;
  if (options.tls.Enabled()) values.tls = options.tlsContext ? options.tlsContext : HttpServer::TlsContext(options.tls);
  return values;
}

}  // namespace

// The server's parts and its life: admits each accepted connection and starts its session,
// stops in order. Run on the thread that called Run (the listener's) and the lanes; Shutdown from
// any thread.
class HttpServer::Front {
 public:
  Front(RemoteService& service, CallLog& log, HttpServerOptions options)
      : log_(log), options_(std::move(options)), service_(service), live_(LiveValues(options_)),
        secure_(live_.Current()->tls != nullptr), notes_(log), budget_(options_.limits),
        calls_(Workers(), options_.limits),
        workers_(Workers(), notes_, [this](const std::string& what) { NetworkFailed(what); }),
        spool_(options_.limits.maxSpoolBytes),
        host_{options_.limits, live_, options_.access.get(), options_.localDb.get(), service, log, notes_, budget_, calls_,
              workers_, metrics_, spool_, options_.page.get()},
        lanes_(Workers(), notes_, [this](const std::string& what) { NetworkFailed(what); }),
        listener_(
            notes_, [this](tcp::socket socket) { OnAccepted(std::move(socket)); },
            [this](const std::string& what) { ListenerFailed(what); }) {}

  int Bind() {
    options_.port = listener_.Bind(options_.host, options_.port);
    return options_.port;
  }

  void Apply(LiveConfig::Values values) { live_.Replace(std::move(values)); }
  bool Secure() const { return secure_; }
  ServerMetrics& Metrics() { return metrics_; }

  std::string MetricsText() const {
    MetricsSources sources;
    sources.store = service_.StoreState();
    if (options_.localDb) {
      sources.localDbBuilds = options_.localDb->Builds();
      sources.localDbBuildFailures = options_.localDb->BuildFailures();
    }
    sources.spooledBytes = spool_.Used();
    sources.spoolRefusals = spool_.Refusals();
    return metrics_.Exposition(sources);
  }

  void Run() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (calls_.Closed()) return;
      running_ = true;
    }
    // This thread accepts; the connections live on lanes, each a thread of its own.
    listener_.Run([this](const std::string& what) { NetworkFailed(what); });
    // The listener is closed: the lanes end when their connections have, and the workers once
    // the calls handed to them are done.
    lanes_.Join();
    workers_.Stop();
    std::string failure;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      running_ = false;
      ran_ = true;
      failure = failure_;
      changed_.notify_all();
    }
    if (stopper_.joinable()) stopper_.join();
    if (!failure.empty()) throw std::runtime_error(failure);
  }

  // Stops accepting, waits for the calls under way, then closes every connection. A non-empty
  // failure is what Run raises afterwards; with one, Shutdown is on a network thread and returns
  // at once, leaving the rest to a thread of its own.
  void Shutdown(const std::string& failure) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (failure_.empty()) failure_ = failure;
    if (!calls_.Close()) {
      if (!failure.empty()) return;  // called from a network thread: do not wait on it
      changed_.wait(lock, [this] { return ran_ || !running_; });
      return;
    }
    listener_.Close();
    if (!failure.empty()) {
      // On a network thread: close the rest when the calls under way are done, from a thread
      // that may wait.
      stopper_ = std::thread([this] { FinishStop(); });
      return;
    }
    lock.unlock();
    FinishStop();
  }

 private:
  size_t Workers() const { return static_cast<size_t>(std::max(1, options_.threads)); }

  void NetworkFailed(const std::string& what) {
    log_.Note("pdi07310-server: a network thread failed: " + what);
    Shutdown("a network thread failed: " + what);
  }

  void ListenerFailed(const std::string& what) {
    log_.Note("pdi07310-server: the listener failed: " + what);
    Shutdown("the listener failed: " + what);
  }

  // On the listener's thread: admits the connection, gives it a lane and starts its session there.
  void OnAccepted(tcp::socket socket) {
    error_code endpointError;
    const tcp::endpoint remote = socket.remote_endpoint(endpointError);
    if (endpointError) return;  // gone already
    const std::string client = ClientText(remote);
    const std::string ip = remote.address().to_string();
    const auto live = live_.Current();
    edge::ConnectionBudget::Place place;
    if (!calls_.Closed()) {
      edge::ConnectionBudget::Door door = edge::ConnectionBudget::Door::Open;
      place = budget_.Admit(ip, &door);
      // At the cap a connection still waiting for a request makes room for the new one: a crowd
      // of idle connections cannot keep everyone else out.
      if (!place && door == edge::ConnectionBudget::Door::TotalFull && EvictWaiting()) {
        place = budget_.Admit(ip, nullptr, kEvictionSlack);
      }
    }
    if (!place) {
      metrics_.ConnectionRefused(ServerMetrics::ConnectionRefusal::kLimit);
      notes_.Note("refused connection from " + client + ": too many connections");
      if (!live->tls) SendBusy(socket);
      return;
    }
    error_code ignored;
    // Small answers (checks, saves) go out at once instead of waiting for the client's delayed ACK.
    socket.set_option(tcp::no_delay(true), ignored);
    edge::LanePool::Seat seat;
    try {
      seat = lanes_.Take();
    } catch (const std::exception& e) {
      metrics_.ConnectionRefused(ServerMetrics::ConnectionRefusal::kNoLane);
      notes_.Note("refused connection from " + client + ": " + e.what());
      return;
    }
    // The connection moves to its lane.
    net::io_context& lane = seat.Context();
    error_code moved;
    tcp::socket own(lane);
    own.assign(remote.protocol(), socket.release(moved), moved);
    if (moved) return;
    edge::Admission admission{std::move(place), std::move(seat), client, ip};
    admission.open = ServerMetrics::OpenConnection(&metrics_);
    admission.tls = live->tls;
    auto session = live->tls ? edge::MakeTlsSession(host_, std::move(admission), std::move(own), *live->tls)
                             : edge::MakePlainSession(host_, std::move(admission), std::move(own));
    Register(session);
    net::post(lane, [session] { session->Start(); });
  }

  // Keeps a session in the list that a stop closes.
  void Register(const std::shared_ptr<edge::SessionBase>& session) {
    std::lock_guard<std::mutex> lock(mutex_);
    // Forget sessions already gone now and then, so the list stays about the size of the open ones.
    if (sessions_.size() > 2 * sessionsKept_ + 64) {
      sessions_.remove_if([](const std::weak_ptr<edge::SessionBase>& s) { return s.expired(); });
      sessionsKept_ = sessions_.size();
    }
    sessions_.push_back(session);
  }

  // Closes the connection that has waited longest for a request: of those that never sent one the
  // oldest, else of those kept alive between requests the one idle longest. False when every
  // connection is busy with a request. The closed connection's place is given back once its lane
  // has closed it; meanwhile the total may be over its cap by kEvictionSlack.
  bool EvictWaiting() {
    std::shared_ptr<edge::SessionBase> victim;
    std::int64_t since = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      for (const auto& weak : sessions_) {  // oldest first
        auto session = weak.lock();
        if (!session) continue;
        const auto waiting = session->WaitingNow();
        if (waiting == edge::SessionBase::Waiting::Fresh) {
          victim = std::move(session);
          break;
        }
        if (waiting == edge::SessionBase::Waiting::KeptAlive && (!victim || session->WaitingSince() < since)) {
          since = session->WaitingSince();
          victim = std::move(session);
        }
      }
    }
    if (!victim || !victim->ClaimForEviction()) return false;
    notes_.Note("closed a connection waiting for a request to admit a new one (connection cap reached)");
    victim->Abandon();
    return true;
  }

  // Connections admitted over the cap while the ones closed to make room for them end.
  static constexpr size_t kEvictionSlack = 64;

  void FinishStop() {
    calls_.WaitIdle();
    std::list<std::weak_ptr<edge::SessionBase>> sessions;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      sessions.swap(sessions_);
    }
    for (auto& weak : sessions) {
      if (auto session = weak.lock()) session->Abandon();
    }
    lanes_.Release();
    std::unique_lock<std::mutex> lock(mutex_);
    // Run returns once the closed connections' handlers have run; the wait is bounded in case a
    // handler is slow to notice.
    if (!changed_.wait_for(lock, std::chrono::seconds(5), [this] { return ran_ || !running_; })) {
      listener_.StopNow();
      lanes_.StopNow();
      changed_.wait(lock, [this] { return ran_ || !running_; });
    }
  }

  CallLog& log_;
  HttpServerOptions options_;
  RemoteService& service_;
  LiveConfig live_;
  const bool secure_;
  ServerMetrics metrics_;

  // Declared before the network parts, whose handlers use them.
  std::mutex mutex_;
  std::condition_variable changed_;
  bool running_ = false;
  bool ran_ = false;
  std::string failure_;
  std::list<std::weak_ptr<edge::SessionBase>> sessions_;
  size_t sessionsKept_ = 0;
  std::thread stopper_;

  edge::ThrottledNotes notes_;
  edge::ConnectionBudget budget_;
  edge::CallGate calls_;
  edge::CallWorkers workers_;
  SpoolBudget spool_;
  edge::SessionHost host_;
  edge::LanePool lanes_;
  edge::Listener listener_;
};

HttpServer::HttpServer(RemoteService& service, CallLog& log, HttpServerOptions options)
    : front_(std::make_unique<Front>(service, log, std::move(options))) {}

HttpServer::~HttpServer() = default;

int HttpServer::Bind() { return front_->Bind(); }

void HttpServer::Run() { front_->Run(); }

void HttpServer::Stop() { front_->Shutdown(""); }

std::shared_ptr<net::ssl::context> HttpServer::TlsContext(const HttpTls& tls) {
  return std::make_shared<net::ssl::context>(edge::LoadTlsContext(tls));
}

void HttpServer::Apply(LiveConfig::Values values) { front_->Apply(std::move(values)); }

bool HttpServer::Secure() const { return front_->Secure(); }

ServerMetrics& HttpServer::Metrics() { return front_->Metrics(); }

std::string HttpServer::MetricsText() const { return front_->MetricsText(); }

}  // namespace server
