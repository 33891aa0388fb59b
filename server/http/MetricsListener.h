// MetricsListener serves the server's metrics to Prometheus on an address of its own (off the
// service's port, so that it can stay on a management network and needs no token): GET /metrics
// answers the text exposition format; any other path 404, any other method 405. It has a thread
// of its own, serves a few connections at once (more are closed at once), reads at most a small
// request head, answers one request per connection, and gives each connection a few seconds in
// all: a scraper is a program on a trusted network, but the listener must not be held by anyone.
//
// Bind, Start and Stop are called from one thread. Not copyable or movable.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace server {

class CallLog;

class MetricsListener {
 public:
  // exposition makes the answer's text; it runs on the listener's thread.
  MetricsListener(std::function<std::string()> exposition, CallLog& log);
  ~MetricsListener();
  MetricsListener(const MetricsListener&) = delete;
  MetricsListener& operator=(const MetricsListener&) = delete;

  // Binds host:port. Returns the port (the chosen one when port is 0). Raises std::runtime_error
  // when the address cannot be bound.
  int Bind(const std::string& host, int port);
  // Serves on a thread of its own until Stop. REQUIRES: Bind succeeded.
  void Start();
  // Stops serving and waits for the thread. Idempotent.
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace server
