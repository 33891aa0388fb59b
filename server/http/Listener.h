// Listener owns the listening socket: it binds it, accepts connections one after the other on the
// thread that runs it, and hands each accepted socket over. Accept failures that concern one
// connection, or a lack of descriptors or memory, are noted (rate-limited) and accepting goes on,
// after 100 ms when resources ran out (so that connections can end meanwhile) and after 1 ms
// otherwise; a failure that says the listening socket itself is broken ends accepting and is
// handed to onBroken.
//
// Bind and Run are called from one thread; Close and StopNow from any thread. Not copyable or
// movable.
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>

#include <atomic>
#include <functional>
#include <string>

#include "server/http/ThrottledNotes.h"

namespace server::edge {

class Listener {
 public:
  using Handover = std::function<void(boost::asio::ip::tcp::socket)>;
  using Failure = std::function<void(const std::string& what)>;

  // handover gets each accepted socket, on the listener's thread; onBroken is told why the
  // listening socket failed for good.
  Listener(ThrottledNotes& notes, Handover handover, Failure onBroken);
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  // Binds and listens on host:port. Returns the port (the chosen one when port is 0). Raises
  // std::runtime_error when host is not an IP address or the address cannot be bound.
  int Bind(const std::string& host, int port);

  // Accepts until Close, on the calling thread; a handler that raises is handed to onFailure
  // (see RunNetworkLoop). REQUIRES: Bind succeeded.
  void Run(const Failure& onFailure);

  // Stops accepting and closes the listening socket; Run returns once its handlers have run.
  void Close();
  // Makes Run return now.
  void StopNow() { context_.stop(); }

 private:
  void Accept();
  void OnAccept(const boost::system::error_code& ec, boost::asio::ip::tcp::socket socket);

  ThrottledNotes& notes_;
  const Handover handover_;
  const Failure onBroken_;
  std::atomic<bool> closing_{false};
  boost::asio::io_context context_{1};
  boost::asio::ip::tcp::acceptor acceptor_{context_};
  boost::asio::steady_timer retryTimer_{context_};
};

}  // namespace server::edge
