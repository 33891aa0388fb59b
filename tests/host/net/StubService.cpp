#include "tests/host/net/StubService.h"

#include <algorithm>
#include <chrono>

#include "host/wire/JsonRpcRequest.h"
#include "host/wire/JsonRpcResponse.h"
#include "host/wire/PacketWriter.h"
#include "host/wire/RawResult.h"
#include "host/wire/ServiceName.h"

namespace testsupport {

namespace wire = host::wire;

StubService::StubService(Options options) : options_(std::move(options)) {
  if (options_.cert.empty()) {
    server_ = std::make_unique<httplib::Server>();
  } else {
    server_ = std::make_unique<httplib::SSLServer>(options_.cert.c_str(), options_.key.c_str());
  }
  const std::string path(wire::kServicePath);
  server_->Get(path, [this](const httplib::Request& req, httplib::Response& res) {
    if (Allowed(req, res)) res.set_content("{}", "application/json");
  });
  server_->Post(path, [this](const httplib::Request& req, httplib::Response& res) {
    if (Allowed(req, res)) Answer(req, res);
  });
  server_->set_tcp_nodelay(true);
  port_ = server_->bind_to_any_port("127.0.0.1");
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  while (!server_->is_running()) std::this_thread::yield();
}

StubService::~StubService() {
  Release();
  server_->stop();
  thread_.join();
}

std::vector<std::string> StubService::Seen() {
  std::lock_guard lock(mutex_);
  return seen_;
}

std::vector<int> StubService::ClientPorts() {
  std::lock_guard lock(mutex_);
  return clientPorts_;
}

void StubService::Release() {
  std::lock_guard lock(mutex_);
  isReleased_ = true;
  released_.notify_all();
}

bool StubService::Allowed(const httplib::Request& req, httplib::Response& res) {
  ++requests_;
  const std::string header = req.get_header_value("Authorization");
  {
    std::lock_guard lock(mutex_);
    seen_.push_back(req.method + " " + header);
    if (req.method == "POST") clientPorts_.push_back(req.remote_port);
  }
  const auto& tokens = options_.tokens;
  if (tokens.empty() ||
      std::any_of(tokens.begin(), tokens.end(), [&](const std::string& t) { return header == "Bearer " + t; }))
    return true;
  res.status = 401;
  res.set_content(R"({"status":401,"error":"a valid access token is required"})", "application/json");
  return false;
}

void StubService::Answer(const httplib::Request& req, httplib::Response& res) {
  const auto call = wire::JsonRpcRequest::Parse(req.body);
  const std::string& m = call.Method();
  const auto ok = [&](const std::string& data) {
    res.set_content(wire::JsonRpcResponse::Result(call.IdJson(), wire::RawResult::Ok(data)), "application/json");
  };
  if (m == "echo") {
    std::string data = "[";
    for (std::size_t i = 0; i < call.Params().size(); ++i) {
      if (i > 0) data += ',';
      const auto& p = call.Params()[i];
      if (p.kind == wire::JsonRpcParam::Kind::Object) {
        data += p.value;
      } else {
        wire::PacketWriter::AppendJsonString(data, p.value);
      }
    }
    ok(data + "]");
  } else if (m == "authorization") {
    std::string data;
    wire::PacketWriter::AppendJsonString(data, req.get_header_value("Authorization"));
    ok(data);
  } else if (m == "grande") {
    auto body = std::make_shared<std::string>(wire::JsonRpcResponse::Result(
        call.IdJson(), wire::RawResult::Ok("\"" + std::string(1 << 20, 'x') + "\"")));
    res.set_chunked_content_provider("application/json", [body](std::size_t offset, httplib::DataSink& sink) {
      if (offset < body->size()) {
        sink.write(body->data() + offset, std::min<std::size_t>(8192, body->size() - offset));
      } else {
        sink.done();
      }
      return true;
    });
  } else if (m == "lento") {
    std::unique_lock lock(mutex_);
    released_.wait_for(lock, std::chrono::seconds(10), [this] { return isReleased_; });
    lock.unlock();
    ok("1");
  } else if (m == "http500") {
    res.status = 500;
    res.set_content("boom", "text/plain");
  } else if (m == "lixo") {
    res.set_content("{\"jsonrpc\":\"2.0\",\"id\":", "application/json");
  } else if (m == "outroId") {
    res.set_content(wire::JsonRpcResponse::Result("999", wire::RawResult::Ok("1")), "application/json");
  } else {
    res.set_content(wire::JsonRpcResponse::Error(call.IdJson(), -32601, "Method not found"), "application/json");
  }
}

}  // namespace testsupport
