// ServerMetrics counts what the server does, for Prometheus: calls by method and outcome, their
// durations, connections open and refused, requests refused at the edge, bytes in and out,
// health checks, reloads, sign-ins; and writes them, with the store's connections, the local
// database's builds and the spool, in Prometheus' text exposition format (version 0.0.4). Every
// name starts with pdi07310_ and follows Prometheus' conventions: base units (seconds, bytes),
// counters ending in _total, a histogram's _bucket/_sum/_count.
//
// Label values come from fixed sets, never from what a client sent: a method not among the
// service's is counted as "other".
//
// Counting is lock-free (atomics) and may happen on any thread; Exposition may run at the same
// time. Not copyable or movable.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "server/store/Store.h"

namespace server {

// What Exposition reads from outside the HTTP front at the time of asking.
struct MetricsSources {
  StoreStats store;
  int64_t localDbBuilds = 0;
  int64_t localDbBuildFailures = 0;
  int64_t spooledBytes = 0;
  int64_t spoolRefusals = 0;
};

class ServerMetrics {
 public:
  // How a call ended, as its outcome label says.
  enum class CallOutcome { kOk, kRefused, kInvalid, kFailed, kAborted, kCount };
  // Why a connection was refused at the door.
  enum class ConnectionRefusal { kLimit, kNoLane, kCount };

  ServerMetrics();
  ServerMetrics(const ServerMetrics&) = delete;
  ServerMetrics& operator=(const ServerMetrics&) = delete;

  void CallEnded(std::string_view method, CallOutcome outcome, std::chrono::steady_clock::duration duration,
                 size_t requestBytes, size_t responseBytes);
  void RequestRefused(int httpStatus);
  void ConnectionOpened() { connectionsOpen_.fetch_add(1, std::memory_order_relaxed); accepted_.fetch_add(1, std::memory_order_relaxed); }
  void ConnectionClosed() { connectionsOpen_.fetch_sub(1, std::memory_order_relaxed); }
  void ConnectionRefused(ConnectionRefusal why);
  void HealthChecked(bool ok) { (ok ? healthOk_ : healthFailed_).fetch_add(1, std::memory_order_relaxed); }
  void Reloaded(bool ok);
  // Hook for sign-ins (counted once the server signs people in).
  void SignIn(bool ok) { (ok ? signInsOk_ : signInsRefused_).fetch_add(1, std::memory_order_relaxed); }

  // Every family in the text exposition format, one sample a line.
  std::string Exposition(const MetricsSources& sources) const;

  // An open connection counted in connections_open until the handle goes away. Move-only.
  class OpenConnection {
   public:
    OpenConnection() = default;
    explicit OpenConnection(ServerMetrics* metrics) : metrics_(metrics) {
      if (metrics_) metrics_->ConnectionOpened();
    }
    OpenConnection(OpenConnection&& other) noexcept : metrics_(std::exchange(other.metrics_, nullptr)) {}
    OpenConnection& operator=(OpenConnection&& other) noexcept {
      if (this != &other) {
        if (metrics_) metrics_->ConnectionClosed();
        metrics_ = std::exchange(other.metrics_, nullptr);
      }
      return *this;
    }
    ~OpenConnection() {
      if (metrics_) metrics_->ConnectionClosed();
    }

   private:
    ServerMetrics* metrics_ = nullptr;
  };

  // The upper bounds of the duration histogram's buckets, in seconds (+Inf besides).
  static constexpr std::array<double, 15> kBuckets = {0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25,
                                                      0.5,   1,      2.5,   5,    10,    30,    60};

 private:
  struct MethodCounters {
    std::array<std::atomic<uint64_t>, static_cast<size_t>(CallOutcome::kCount)> outcomes{};
    std::array<std::atomic<uint64_t>, kBuckets.size()> buckets{};  // not cumulative
    std::atomic<uint64_t> count{0};
    std::atomic<uint64_t> microseconds{0};
  };
  size_t MethodIndex(std::string_view method) const;

  std::vector<std::string> methods_;  // label values; the last is "other"
  std::vector<MethodCounters> counters_;
  std::atomic<uint64_t> requestBytes_{0}, responseBytes_{0};
  std::atomic<int64_t> connectionsOpen_{0};
  std::atomic<uint64_t> accepted_{0};
  std::array<std::atomic<uint64_t>, static_cast<size_t>(ConnectionRefusal::kCount)> connectionRefusals_{};
  std::map<int, std::atomic<uint64_t>> requestRefusals_;  // by status; its keys fixed at construction
  std::atomic<uint64_t> healthOk_{0}, healthFailed_{0};
  std::atomic<uint64_t> reloadsOk_{0}, reloadsFailed_{0};
  std::atomic<int> lastReloadOk_{1};
  std::atomic<uint64_t> signInsOk_{0}, signInsRefused_{0};
  const double startTime_;
};

}  // namespace server
