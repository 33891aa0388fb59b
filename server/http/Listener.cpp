#include "server/http/Listener.h"

#include <boost/asio/post.hpp>

#include <chrono>
#include <stdexcept>

#include "server/http/NetworkLoop.h"

namespace server::edge {
namespace {

namespace net = boost::asio;
using tcp = net::ip::tcp;
using error_code = boost::system::error_code;

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

Listener::Listener(ThrottledNotes& notes, Handover handover, Failure onBroken)
    : notes_(notes), handover_(std::move(handover)), onBroken_(std::move(onBroken)) {}

int Listener::Bind(const std::string& host, int port) {
  error_code ec;
  const auto address = net::ip::make_address(host, ec);
  if (ec) throw std::runtime_error("cannot listen on " + host + ": not an IP address");
  const tcp::endpoint endpoint(address, static_cast<unsigned short>(port));
  acceptor_.open(endpoint.protocol(), ec);
  // Reusing a port left in TIME_WAIT is all a restart needs; SO_REUSEPORT is never set, so a
  // second server cannot bind a port in use and silently take half of its calls.
  if (!ec) acceptor_.set_option(net::socket_base::reuse_address(true), ec);
  if (!ec) acceptor_.bind(endpoint, ec);
  if (!ec) acceptor_.listen(net::socket_base::max_listen_connections, ec);
  if (ec) {
    throw std::runtime_error("cannot listen on " + host + ":" + std::to_string(port) + " (" + ec.message() + ")");
  }
  return acceptor_.local_endpoint().port();
}

void Listener::Run(const Failure& onFailure) {
  Accept();
  RunNetworkLoop(context_, onFailure);
}

void Listener::Close() {
  closing_ = true;
  net::post(context_, [this] {
    error_code ignored;
    acceptor_.close(ignored);
    retryTimer_.cancel();
  });
}

void Listener::Accept() {
  acceptor_.async_accept([this](error_code ec, tcp::socket socket) { OnAccept(ec, std::move(socket)); });
}

void Listener::OnAccept(const error_code& ec, tcp::socket socket) {
  if (ec) {
    if (ec == net::error::operation_aborted || closing_) return;
    if (ListenerBroken(ec)) return onBroken_(ec.message());
    // Out of descriptors or memory: wait a little for connections to end rather than spinning;
    // any other failure concerned that one connection only.
    const auto pause = OutOfResources(ec) ? std::chrono::milliseconds(100) : std::chrono::milliseconds(1);
    notes_.Note("accept failed (" + ec.message() + "); accepting again in " + std::to_string(pause.count()) + " ms");
    retryTimer_.expires_after(pause);
    retryTimer_.async_wait([this](error_code wec) {
      if (!wec && !closing_) Accept();
    });
    return;
  }
  Accept();
  handover_(std::move(socket));
}

}  // namespace server::edge
