#include "server/http/MetricsListener.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "server/http/CallLog.h"
#include "server/http/NetworkLoop.h"

namespace server {
namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;
using error_code = boost::system::error_code;

constexpr int kMostConnections = 8;
constexpr std::chrono::seconds kConnectionTime{10};
constexpr std::uint32_t kMostHeadBytes = 8 * 1024;

}  // namespace

struct MetricsListener::Impl {
  Impl(std::function<std::string()> text, CallLog& callLog) : exposition(std::move(text)), log(callLog) {}

  // One scraper's connection: a request read, one answer written, closed.
  struct Connection : std::enable_shared_from_this<Connection> {
    Connection(Impl& server, tcp::socket socket) : owner(server), stream(std::move(socket)) {
      parser.header_limit(kMostHeadBytes);
      parser.body_limit(0);
    }
    ~Connection() { --owner.open; }

    void Start() {
      stream.expires_after(kConnectionTime);
      http::async_read(stream, buffer, parser, [self = shared_from_this()](error_code ec, size_t) {
        if (ec) return;
        self->Answer();
      });
    }

    void Answer() {
      const auto& req = parser.get();
      auto res = std::make_shared<http::response<http::string_body>>(http::status::ok, req.version());
      res->keep_alive(false);
      if (req.target() != "/metrics") {
        res->result(http::status::not_found);
        res->set(http::field::content_type, "text/plain; charset=utf-8");
        res->body() = "the metrics are at /metrics\n";
      } else if (req.method() != http::verb::get) {
        res->result(http::status::method_not_allowed);
        res->set(http::field::allow, "GET");
        res->set(http::field::content_type, "text/plain; charset=utf-8");
        res->body() = "use GET\n";
      } else {
        res->set(http::field::content_type, "text/plain; version=0.0.4; charset=utf-8");
        res->set(http::field::cache_control, "no-store");
        res->body() = owner.exposition();
      }
      res->prepare_payload();
      http::async_write(stream, *res, [self = shared_from_this(), res](error_code, size_t) {
        error_code ignored;
        self->stream.socket().shutdown(tcp::socket::shutdown_send, ignored);
      });
    }

    Impl& owner;
    beast::tcp_stream stream;
    beast::flat_buffer buffer{kMostHeadBytes};
    http::request_parser<http::empty_body> parser;
  };

  void Accept() {
    acceptor.async_accept([this](error_code ec, tcp::socket socket) {
      if (ec == net::error::operation_aborted || !acceptor.is_open()) return;
      if (!ec) {
        if (open < kMostConnections) {
          ++open;
          std::make_shared<Connection>(*this, std::move(socket))->Start();
        }  // else closed at once: a scraper retries at its next interval
      }
      Accept();
    });
  }

  std::function<std::string()> exposition;
  CallLog& log;
  int open = 0;  // on the listener's thread only; before the context, whose end ends connections
  net::io_context context{1};
  tcp::acceptor acceptor{context};
  std::thread thread;
};

MetricsListener::MetricsListener(std::function<std::string()> exposition, CallLog& log)
    : impl_(std::make_unique<Impl>(std::move(exposition), log)) {}

MetricsListener::~MetricsListener() { Stop(); }

int MetricsListener::Bind(const std::string& host, int port) {
  error_code ec;
  const net::ip::address address = net::ip::make_address(host, ec);
  if (ec) throw std::runtime_error("--metrics-listen: \"" + host + "\" is not an IP address");
  const tcp::endpoint endpoint(address, static_cast<unsigned short>(port));
  auto& acceptor = impl_->acceptor;
  acceptor.open(endpoint.protocol(), ec);
  if (!ec) acceptor.set_option(net::socket_base::reuse_address(true), ec);
  if (!ec) acceptor.bind(endpoint, ec);
  if (!ec) acceptor.listen(net::socket_base::max_listen_connections, ec);
  if (ec) throw std::runtime_error("cannot listen for metrics on " + host + ":" + std::to_string(port) + ": " + ec.message());
  return acceptor.local_endpoint().port();
}

void MetricsListener::Start() {
  impl_->Accept();
  impl_->thread = std::thread([impl = impl_.get()] {
    edge::RunNetworkLoop(impl->context,
                         [impl](const std::string& what) { impl->log.Note("metrics listener: " + what, LogLevel::kError); });
  });
}

void MetricsListener::Stop() {
  if (!impl_->thread.joinable()) return;
  impl_->context.stop();
  impl_->thread.join();
}

}  // namespace server
