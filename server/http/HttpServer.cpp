#include "server/http/HttpServer.h"

#include <httplib.h>
#include <sys/socket.h>

#include <algorithm>
#include <stdexcept>
#include <thread>

#include "host/wire/JsonRpcResponse.h"
#include "host/wire/PacketWriter.h"

namespace server {
namespace {

// With a parameter the content type is not one the HTTP library compresses on its own: a gzip
// pass over a large packet costs more than sending it on a local network.
constexpr const char* kJson = "application/json; charset=utf-8";

std::string ErrorBody(int status, std::string_view message) {
  std::string out = R"({"status":)" + std::to_string(status) + R"(,"error":)";
  host::wire::PacketWriter::AppendJsonString(out, message);
  out += '}';
  return out;
}

// "HOST:PORT" of the client, an IPv6 address in brackets.
std::string ClientAddress(const httplib::Request& req) {
  const bool v6 = req.remote_addr.find(':') != std::string::npos;
  return (v6 ? "[" + req.remote_addr + "]" : req.remote_addr) + ":" + std::to_string(req.remote_port);
}

// Keeps the state of one streamed response between calls of the content provider.
struct StreamedCall {
  std::unique_ptr<ReplyStream> stream;
  std::string method;
  std::string outcome;
  std::string failure;
  std::string piece;
  size_t requestBytes = 0;
  size_t sent = 0;
  bool complete = false;
  bool finished = false;
  std::chrono::steady_clock::time_point start;
};

// GET …/local.db: the route's answer as HTTP. The body is shared, never copied per request.
void ServeLocalDb(LocalDbPublisher& publisher, const std::string& ifNoneMatch, httplib::Response& res) {
  const LocalDbAnswer answer = publisher.Answer(ifNoneMatch);
  res.status = answer.status;
  if (answer.status == 503) {
    res.set_content(ErrorBody(503, *answer.body), kJson);
    return;
  }
  res.set_header("ETag", answer.etag);
  res.set_header("Cache-Control", "no-cache");
  if (answer.status != 200) return;
  const auto body = answer.body;
  res.set_content_provider(body->size(), "application/vnd.sqlite3",
                           [body](size_t offset, size_t length, httplib::DataSink& sink) {
                             return sink.write(body->data() + offset, std::min(length, body->size() - offset));
                           });
}

}  // namespace

class HttpServer::Listener : public httplib::Server {
 public:
  // The library listens with a backlog of 5, so a burst of desktops connecting at once would see
  // connections refused or delayed by SYN retries; listening again on the bound socket raises it.
  void RaiseBacklog() { ::listen(svr_sock_, SOMAXCONN); }
};

HttpServer::HttpServer(RemoteService& service, CallLog& log, HttpServerOptions options)
    : service_(service), log_(log), options_(std::move(options)), http_(std::make_unique<Listener>()) {
  const int threads = options_.threads;
  http_->new_task_queue = [threads] { return new httplib::ThreadPool(static_cast<size_t>(threads)); };
  http_->set_payload_max_length(options_.maxRequestBytes);
  http_->set_keep_alive_max_count(10000);
  // An idle desktop gives its worker back after a few seconds.
  http_->set_keep_alive_timeout(3);
  // Small answers (checks, saves) go out at once instead of waiting for the client's delayed ACK.
  http_->set_tcp_nodelay(true);
  // The library's default also sets SO_REUSEPORT, which lets a second server bind a port already
  // in use and silently take half of its calls (over another database). Reusing a port left in
  // TIME_WAIT is all a restart needs.
  http_->set_socket_options([](int sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });

  if (options_.tokens) {
    // Checked before the request is routed or its body read, so a caller without a valid token
    // reaches nothing.
    http_->set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
      if (options_.tokens->UserFor(req.get_header_value("Authorization"))) {
        return httplib::Server::HandlerResponse::Unhandled;
      }
      const bool carried = req.has_header("Authorization");
      log_.Note("refused " + req.method + " from " + ClientAddress(req) +
                ": HTTP 401, " + (carried ? "unknown access token" : "no access token"));
      res.status = 401;
      res.set_header("WWW-Authenticate", "Bearer");
      // An unread request body would otherwise be read as the next request on this connection.
      res.set_header("Connection", "close");
      res.set_content(ErrorBody(401, "a valid access token is required"), kJson);
      return httplib::Server::HandlerResponse::Handled;
    });
  }

  const std::string path = "/" + std::string(RemoteService::kServiceName);
  std::string pattern;
  for (const char c : path) {
    if (c == '.') pattern += '\\';
    pattern += c;
  }

  http_->Post(pattern, [this](const httplib::Request& req, httplib::Response& res) {
    const auto start = std::chrono::steady_clock::now();
    if (!EnterCall()) {
      res.status = 503;
      res.set_content(ErrorBody(503, "server stopping"), kJson);
      return;
    }
    CallContext context;
    context.client = ClientAddress(req);
    if (options_.tokens) context.user = options_.tokens->UserFor(req.get_header_value("Authorization")).value_or("");
    Reply reply = service_.Call(req.body, context);
    if (!reply.stream) {
      res.set_content(reply.body, kJson);
      log_.Call(reply.method, req.body.size(), reply.body.size(), std::chrono::steady_clock::now() - start,
                reply.outcome);
      LeaveCall();
      return;
    }
    auto call = std::make_shared<StreamedCall>();
    call->stream = std::move(reply.stream);
    call->method = reply.method;
    call->outcome = reply.outcome;
    call->requestBytes = req.body.size();
    call->start = start;
    res.set_chunked_content_provider(
        kJson,
        [call](size_t, httplib::DataSink& sink) {
          bool more = false;
          try {
            more = call->stream->Fill(call->piece);
          } catch (const std::exception& e) {
            call->failure = std::string("failed while streaming: ") + e.what();
            return false;
          }
          if (!call->piece.empty()) {
            if (!sink.write(call->piece.data(), call->piece.size())) {
              call->failure = "client went away";
              return false;
            }
            call->sent += call->piece.size();
          }
          if (!more) {
            call->complete = true;
            sink.done();
          }
          return true;
        },
        [this, call](bool success) {
          if (call->finished) return;
          call->finished = true;
          call->stream.reset();  // ends the read transaction and returns the connection
          const std::string outcome = success && call->complete ? call->outcome
                                      : call->failure.empty()   ? std::string("aborted")
                                                                : call->failure;
          log_.Call(call->method, call->requestBytes, call->sent, std::chrono::steady_clock::now() - call->start,
                    outcome);
          LeaveCall();
        });
  });

  http_->Get(pattern, [](const httplib::Request&, httplib::Response& res) {
    res.set_content(RemoteService::Describe(), kJson);
  });

  if (options_.localDb) {
    http_->Get(pattern + "/local\\.db", [this](const httplib::Request& req, httplib::Response& res) {
      ServeLocalDb(*options_.localDb, req.get_header_value("If-None-Match"), res);
    });
  }

  const auto notAllowed = [](const httplib::Request& req, httplib::Response& res) {
    res.status = 405;
    res.set_header("Allow", "GET, POST");
    res.set_content(ErrorBody(405, "method " + req.method + " not allowed; use POST"), kJson);
  };
  http_->Put(pattern, notAllowed);
  http_->Delete(pattern, notAllowed);
  http_->Patch(pattern, notAllowed);
  http_->Options(pattern, notAllowed);

  const httplib::Server::HandlerWithResponse onError = [path](const httplib::Request&, httplib::Response& res) {
    if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
    std::string message;
    switch (res.status) {
      case 404: message = "no such path; the service is at " + path; break;
      case 413: message = "request body too large"; break;
      case 400: message = "bad HTTP request"; break;
      default: message = "HTTP error " + std::to_string(res.status);
    }
    res.set_content(ErrorBody(res.status, message), kJson);
    return httplib::Server::HandlerResponse::Handled;
  };
  http_->set_error_handler(onError);
  http_->set_exception_handler([this](const httplib::Request&, httplib::Response& res, std::exception_ptr ep) {
    std::string what = "unknown failure";
    try {
      std::rethrow_exception(ep);
    } catch (const std::exception& e) {
      what = e.what();
    } catch (...) {
    }
    log_.Note("request failed: " + what);
    res.status = 500;
    res.set_content(ErrorBody(500, "internal error"), kJson);
  });
}

HttpServer::~HttpServer() = default;

int HttpServer::Bind() {
  if (options_.port == 0) {
    const int port = http_->bind_to_any_port(options_.host);
    if (port <= 0) throw std::runtime_error("cannot listen on " + options_.host + " (any port)");
    options_.port = port;
  } else if (!http_->bind_to_port(options_.host, options_.port)) {
    throw std::runtime_error("cannot listen on " + options_.host + ":" + std::to_string(options_.port) +
                             " (address in use or not available)");
  }
  http_->RaiseBacklog();
  return options_.port;
}

void HttpServer::Run() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return;
    running_ = true;
  }
  http_->listen_after_bind();
  std::lock_guard<std::mutex> lock(mutex_);
  running_ = false;
  ran_ = true;
  idle_.notify_all();
}

void HttpServer::Stop() {
  std::unique_lock<std::mutex> lock(mutex_);
  stopping_ = true;
  idle_.wait(lock, [this] { return callsUnderWay_ == 0; });
  // The listener may not be accepting yet when Stop comes early; keep asking until Run returned.
  while (running_ && !ran_) {
    lock.unlock();
    http_->stop();
    lock.lock();
    idle_.wait_for(lock, std::chrono::milliseconds(20), [this] { return ran_; });
  }
}

bool HttpServer::EnterCall() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (stopping_) return false;
  ++callsUnderWay_;
  return true;
}

void HttpServer::LeaveCall() {
  std::lock_guard<std::mutex> lock(mutex_);
  --callsUnderWay_;
  idle_.notify_all();
}

}  // namespace server
