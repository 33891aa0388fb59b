// HttpTransport carries TNetConnection's exchanges (NetExchange.h) over HTTP/1.1 with cpp-httplib:
// one connection to one server, kept alive between exchanges and opened again when the server
// has closed it. Over TLS the server's certificate is verified against the CA file, or the
// system's store when there is none, and must name the host (name or IP address); an unverified
// server fails the exchange before anything is sent. Connecting has a deadline, and so has each
// read and each write of an exchange.
//
// A failed exchange comes back as ExchangeEnd::How::Failed with its reason in the clerk's words
// (refused, timeout, TLS verification, ...); Send raises only when the library does (memory).
//
// The request's further header fields are sent as given; the answer's header fields that the
// receiver wants (AnswerReceiver::WantHeader) are handed to it before its head.
//
// Thread rules: one exchange at a time per transport, on any thread. CancelAll and Cancel may be
// called from any thread. Not copyable or movable.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "host/net/NetExchange.h"

namespace host {

class HttpTransport {
 public:
  struct Endpoint {
    std::string host;    // name or IP address, without scheme
    int port = 0;
    bool tls = false;
    std::string caFile;  // TLS: the CA file (PEM); "" for the system's store
    std::chrono::milliseconds connectTimeout{5000};
    std::chrono::milliseconds readTimeout{120000};
  };

  explicit HttpTransport(const Endpoint& endpoint);
  ~HttpTransport();
  HttpTransport(const HttpTransport&) = delete;
  HttpTransport& operator=(const HttpTransport&) = delete;

  // Sends request and hands its answer to receiver while it arrives; returns how it ended.
  ExchangeEnd Send(NetRequest request, AnswerReceiver& receiver);

  // Ends every exchange under way, of any transport, as a broken connection would: each comes
  // back Canceled, unless its answer was already whole. An exchange that begins afterwards is
  // not affected.
  static void CancelAll();
  // Gives this transport up: its exchange under way ends as with CancelAll, and every exchange
  // it is asked for afterwards comes back Canceled at once. Callable from any thread.
  void Cancel();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace host
