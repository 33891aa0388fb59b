#include "server/http/ServerMetrics.h"

#include <cstdio>
#include <cstdlib>

#include "pdi_version.h"
#include "server/service/RemoteService.h"

namespace server {
namespace {

constexpr const char* kOutcomeNames[] = {"ok", "refused", "invalid", "failed", "aborted"};
constexpr const char* kRefusalNames[] = {"limit", "no_lane"};
// The statuses the edge refuses requests with; any other is counted under 0 ("other").
constexpr int kRefusedStatuses[] = {0, 400, 401, 413, 415, 431, 503};

double Now() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// A number as the exposition format writes it: integers whole, others with enough digits.
std::string Number(double value) {
  char text[40];
  std::snprintf(text, sizeof text, "%.15g", value);
  if (std::strtod(text, nullptr) != value) std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}
std::string Number(uint64_t value) { return std::to_string(value); }
std::string Number(int64_t value) { return std::to_string(value); }

// Writes the HELP and TYPE lines of a family.
void Family(std::string& out, const char* name, const char* type, const char* help) {
  out += "# HELP ";
  out += name;
  out += ' ';
  out += help;
  out += "\n# TYPE ";
  out += name;
  out += ' ';
  out += type;
  out += '\n';
}

void Sample(std::string& out, const std::string& name, const std::string& labels, const std::string& value) {
  out += name;
  if (!labels.empty()) out += "{" + labels + "}";
  out += ' ';
  out += value;
  out += '\n';
}

}  // namespace

ServerMetrics::ServerMetrics() : startTime_(Now()) {
  for (const std::string_view name : RemoteService::MethodNames()) methods_.emplace_back(name);
  methods_.emplace_back("batch");
  methods_.emplace_back("local.db");
  methods_.emplace_back("other");
  counters_ = std::vector<MethodCounters>(methods_.size());
  for (const int status : kRefusedStatuses) requestRefusals_[status];
}

size_t ServerMetrics::MethodIndex(std::string_view method) const {
  if (method == "GET local.db") method = "local.db";
  for (size_t i = 0; i + 1 < methods_.size(); ++i) {
    if (methods_[i] == method) return i;
  }
  return methods_.size() - 1;
}

void ServerMetrics::CallEnded(std::string_view method, CallOutcome outcome, std::chrono::steady_clock::duration duration,
                              size_t requestBytes, size_t responseBytes) {
  MethodCounters& c = counters_[MethodIndex(method)];
  c.outcomes[static_cast<size_t>(outcome)].fetch_add(1, std::memory_order_relaxed);
  const double seconds = std::chrono::duration<double>(duration).count();
  size_t bucket = 0;
  while (bucket < kBuckets.size() && seconds > kBuckets[bucket]) ++bucket;
  if (bucket < kBuckets.size()) c.buckets[bucket].fetch_add(1, std::memory_order_relaxed);
  c.count.fetch_add(1, std::memory_order_relaxed);
  c.microseconds.fetch_add(
      static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(duration).count()),
      std::memory_order_relaxed);
  requestBytes_.fetch_add(requestBytes, std::memory_order_relaxed);
  responseBytes_.fetch_add(responseBytes, std::memory_order_relaxed);
}

void ServerMetrics::RequestRefused(int httpStatus) {
  auto it = requestRefusals_.find(httpStatus);
  if (it == requestRefusals_.end()) it = requestRefusals_.find(0);
  it->second.fetch_add(1, std::memory_order_relaxed);
}

void ServerMetrics::ConnectionRefused(ConnectionRefusal why) {
  connectionRefusals_[static_cast<size_t>(why)].fetch_add(1, std::memory_order_relaxed);
}

void ServerMetrics::Reloaded(bool ok) {
  (ok ? reloadsOk_ : reloadsFailed_).fetch_add(1, std::memory_order_relaxed);
  lastReloadOk_.store(ok ? 1 : 0, std::memory_order_relaxed);
}

std::string ServerMetrics::Exposition(const MetricsSources& sources) const {
  const auto load = [](const std::atomic<uint64_t>& a) { return a.load(std::memory_order_relaxed); };
  std::string out;
  out.reserve(8192);

  Family(out, "pdi07310_build_info", "gauge", "The release of the server, as a label; always 1.");
  Sample(out, "pdi07310_build_info", "version=\"" PDI_VERSION "\"", "1");
  Family(out, "pdi07310_start_time_seconds", "gauge", "When the server started, in seconds since the epoch.");
  Sample(out, "pdi07310_start_time_seconds", "", Number(startTime_));

  Family(out, "pdi07310_calls_total", "counter",
         "Remote calls answered, by method and outcome (ok, refused, invalid, failed, aborted).");
  for (size_t m = 0; m < methods_.size(); ++m) {
    for (size_t o = 0; o < static_cast<size_t>(CallOutcome::kCount); ++o) {
      const uint64_t n = load(counters_[m].outcomes[o]);
      if (n == 0) continue;
      Sample(out, "pdi07310_calls_total", "method=\"" + methods_[m] + "\",outcome=\"" + kOutcomeNames[o] + "\"",
             Number(n));
    }
  }
  Family(out, "pdi07310_call_duration_seconds", "histogram",
         "Time from a call's admission to the end of its answer, by method.");
  for (size_t m = 0; m < methods_.size(); ++m) {
    const MethodCounters& c = counters_[m];
    const uint64_t count = load(c.count);
    if (count == 0) continue;
    const std::string method = "method=\"" + methods_[m] + "\"";
    uint64_t cumulative = 0;
    for (size_t b = 0; b < kBuckets.size(); ++b) {
      cumulative += load(c.buckets[b]);
      Sample(out, "pdi07310_call_duration_seconds_bucket", method + ",le=\"" + Number(kBuckets[b]) + "\"",
             Number(cumulative));
    }
    Sample(out, "pdi07310_call_duration_seconds_bucket", method + ",le=\"+Inf\"", Number(count));
    Sample(out, "pdi07310_call_duration_seconds_sum", method, Number(static_cast<double>(load(c.microseconds)) / 1e6));
    Sample(out, "pdi07310_call_duration_seconds_count", method, Number(count));
  }
  Family(out, "pdi07310_received_bytes_total", "counter", "Bytes of the calls' request bodies.");
  Sample(out, "pdi07310_received_bytes_total", "", Number(load(requestBytes_)));
  Family(out, "pdi07310_sent_bytes_total", "counter", "Bytes of the calls' answers.");
  Sample(out, "pdi07310_sent_bytes_total", "", Number(load(responseBytes_)));

  Family(out, "pdi07310_connections_open", "gauge", "Client connections open now.");
  Sample(out, "pdi07310_connections_open", "", Number(connectionsOpen_.load(std::memory_order_relaxed)));
  Family(out, "pdi07310_connections_accepted_total", "counter", "Client connections admitted.");
  Sample(out, "pdi07310_connections_accepted_total", "", Number(load(accepted_)));
  Family(out, "pdi07310_connections_refused_total", "counter",
         "Client connections refused at the door, by reason (limit: too many open, in all or from one "
         "address; no_lane: no thread could take it).");
  for (size_t r = 0; r < connectionRefusals_.size(); ++r) {
    Sample(out, "pdi07310_connections_refused_total", std::string("reason=\"") + kRefusalNames[r] + "\"",
           Number(load(connectionRefusals_[r])));
  }
  Family(out, "pdi07310_requests_refused_total", "counter",
         "Requests the edge answered with an error of its own, by HTTP status (\"other\" for the rest).");
  for (const auto& [status, n] : requestRefusals_) {
    Sample(out, "pdi07310_requests_refused_total",
           "status=\"" + (status == 0 ? std::string("other") : std::to_string(status)) + "\"", Number(load(n)));
  }

  Family(out, "pdi07310_store_connections_max", "gauge",
         "The most database connections the pool of calls opens (0: no limit of its own).");
  Sample(out, "pdi07310_store_connections_max", "", Number(sources.store.connectionsMax));
  Family(out, "pdi07310_store_connections_open", "gauge", "Database connections of the pool open now.");
  Sample(out, "pdi07310_store_connections_open", "", Number(sources.store.connectionsOpen));
  Family(out, "pdi07310_store_connections_in_use", "gauge", "Database connections of the pool held by calls now.");
  Sample(out, "pdi07310_store_connections_in_use", "", Number(sources.store.connectionsInUse));
  Family(out, "pdi07310_store_connection_waiters", "gauge", "Calls waiting for a database connection now.");
  Sample(out, "pdi07310_store_connection_waiters", "", Number(sources.store.waiting));
  Family(out, "pdi07310_store_connection_wait_timeouts_total", "counter",
         "Calls that found no database connection free in time (answered \"servidor ocupado\").");
  Sample(out, "pdi07310_store_connection_wait_timeouts_total", "", Number(sources.store.waitsTimedOut));

  Family(out, "pdi07310_local_db_builds_total", "counter", "Builds of the desktops' local database, by result.");
  Sample(out, "pdi07310_local_db_builds_total", "result=\"ok\"", Number(sources.localDbBuilds));
  Sample(out, "pdi07310_local_db_builds_total", "result=\"failed\"", Number(sources.localDbBuildFailures));

  Family(out, "pdi07310_spooled_bytes", "gauge",
         "Bytes of answers read ahead of slow clients and kept on disk now.");
  Sample(out, "pdi07310_spooled_bytes", "", Number(sources.spooledBytes));
  Family(out, "pdi07310_spool_refusals_total", "counter",
         "Times an answer could not be read further ahead because the spool was full.");
  Sample(out, "pdi07310_spool_refusals_total", "", Number(sources.spoolRefusals));

  Family(out, "pdi07310_health_checks_total", "counter", "Answers of GET /health, by result.");
  Sample(out, "pdi07310_health_checks_total", "result=\"ok\"", Number(load(healthOk_)));
  Sample(out, "pdi07310_health_checks_total", "result=\"unavailable\"", Number(load(healthFailed_)));
  Family(out, "pdi07310_sign_ins_total", "counter", "Sign-ins, by result.");
  Sample(out, "pdi07310_sign_ins_total", "result=\"ok\"", Number(load(signInsOk_)));
  Sample(out, "pdi07310_sign_ins_total", "result=\"refused\"", Number(load(signInsRefused_)));
  Family(out, "pdi07310_config_reloads_total", "counter", "Reloads asked with SIGHUP, by result.");
  Sample(out, "pdi07310_config_reloads_total", "result=\"ok\"", Number(load(reloadsOk_)));
  Sample(out, "pdi07310_config_reloads_total", "result=\"failed\"", Number(load(reloadsFailed_)));
  Family(out, "pdi07310_config_last_reload_successful", "gauge",
         "1 when the last reload succeeded (or none was asked), 0 when it failed.");
  Sample(out, "pdi07310_config_last_reload_successful", "",
         Number(static_cast<int64_t>(lastReloadOk_.load(std::memory_order_relaxed))));
  return out;
}

}  // namespace server
