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
// Every request asks for a compressed answer (Accept-Encoding: zstd, gzip) unless
// SetCompressedAnswers(false) was called; a compressed answer is decoded here while it arrives
// (ContentDecoder) and reaches the receiver as the plain one would, its coded bytes counted against
// the receiver's cap too. A coding not asked for, or a body that does not decode, fails the
// exchange with the reason kept by the receiver.
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
  // Whether exchanges ask for compressed answers; on by default. Off asks for answers as they
  // stand (to compare the two). Process-wide: set it at start-up, before any exchange.
  static void SetCompressedAnswers(bool on);
  // Gives this transport up: its exchange under way ends as with CancelAll, and every exchange
  // it is asked for afterwards comes back Canceled at once. Callable from any thread.
  void Cancel();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace host
