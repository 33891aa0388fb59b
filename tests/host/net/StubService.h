// Test support for the connection's tests: the remote service on 127.0.0.1 and a free port,
// served by cpp-httplib over plain HTTP or TLS. The service check (GET on the service's path)
// answers {}; a call (POST) answers by its method:
//
//   echo           {"ok":true,"data":[<the params as received>]}
//   authorization  {"ok":true,"data":"<the Authorization header received>"}
//   grande         a 1 MB text in data, sent chunked (no Content-Length)
//   lento          answers only when released (Release, or after 10 s)
//   http500        HTTP status 500 "boom";   lixo  a body that is not JSON;   outroId  the wrong id
//   anything else  the JSON-RPC error -32601 "Method not found"
//
// With tokens, a request without "Authorization: Bearer T" for one of them gets 401 instead.
// Every request is counted and noted ("METHOD header") before it is answered.
//
// Thread rules: the server answers on threads of its own; every accessor is thread-safe. Not
// copyable or movable.
#pragma once

#include <httplib.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

class StubService {
 public:
  struct Options {
    // TLS: the server's certificate and key (PEM files); both empty for plain HTTP.
    std::string cert;
    std::string key;
    // The access tokens let in; empty lets in everything.
    std::vector<std::string> tokens;
  };

  StubService() : StubService(Options{}) {}
  explicit StubService(Options options);
  ~StubService();
  StubService(const StubService&) = delete;
  StubService& operator=(const StubService&) = delete;

  int Port() const { return port_; }
  // Requests received, the service check's included.
  int Requests() const { return requests_; }
  // Each request as "METHOD Authorization-header", in order.
  std::vector<std::string> Seen();
  // The client's port of each call (POST), in order.
  std::vector<int> ClientPorts();
  // Lets "lento" answer.
  void Release();

 private:
  bool Allowed(const httplib::Request& req, httplib::Response& res);
  void Answer(const httplib::Request& req, httplib::Response& res);

  Options options_;
  std::unique_ptr<httplib::Server> server_;
  int port_ = 0;
  std::thread thread_;
  std::atomic<int> requests_{0};
  std::mutex mutex_;
  std::condition_variable released_;
  bool isReleased_ = false;
  std::vector<std::string> seen_;
  std::vector<int> clientPorts_;
};

}  // namespace testsupport
