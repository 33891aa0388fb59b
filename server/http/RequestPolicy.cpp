#include "server/http/RequestPolicy.h"

#include <iterator>
#include <optional>

#include "host/wire/EscapedText.h"
#include "host/wire/PacketWriter.h"
#include "server/http/HeaderText.h"

namespace server {
namespace {

namespace http = boost::beast::http;

using header::View;

HeadVerdict Refusal(int status, std::string message, std::string why) {
  HeadVerdict v;
  v.route = HeadVerdict::Route::Refuse;
  v.status = status;
  v.message = std::move(message);
  v.why = std::move(why);
  return v;
}

HeadVerdict Answer(int status, std::string body) {
  HeadVerdict v;
  v.route = HeadVerdict::Route::Answer;
  v.status = status;
  v.body = std::move(body);
  return v;
}

// 405 for a method the path does not take, naming the one to use and listing those it takes.
HeadVerdict NotAllowed(const std::string& method, const char* use, const char* allow) {
  HeadVerdict v = Answer(405, ErrorBody(405, "method " + method + " not allowed; use " + use));
  v.headers.emplace_back("Allow", allow);
  return v;
}

// A method named in an answer to the client: escaped (it came from the client) and short.
std::string Shown(std::string_view text) { return host::wire::EscapedText(text, 200); }
// A header's value named in a refusal's reason, which the log escapes: short.
std::string Capped(std::string_view text) { return std::string(text.substr(0, 200)); }

}  // namespace

HeadVerdict JudgeHead(const http::request_header<>& head, const std::string& path, const AccessTokens* tokens,
                      bool localDb, bool page) {
  // The balancer's question needs no token and reveals nothing but the store's state.
  if (View(head.target()) == kHealthPath) {
    if (head.method() != http::verb::get) return NotAllowed(Shown(View(head.method_string())), "GET", "GET");
    HeadVerdict v;
    v.route = HeadVerdict::Route::Health;
    return v;
  }
  if (page && (head.method() == http::verb::get || head.method() == http::verb::head)) {
    const std::string_view target = View(head.target());
    const std::string_view service = target.substr(0, target.find_first_of("?#"));
    if (service != path && !service.starts_with(path + "/")) {
      HeadVerdict v;
      v.route = HeadVerdict::Route::Page;
      return v;
    }
  }
  std::string user;
  if (tokens) {
    // One header only: with two, which one a proxy or the server reads is anyone's guess.
    const auto fields = head.equal_range(http::field::authorization);
    const auto count = std::distance(fields.first, fields.second);
    std::optional<std::string> named;
    if (count == 1) named = tokens->UserFor(View(fields.first->value()));
    if (!named) {
      HeadVerdict v = Refusal(401, "a valid access token is required",
                              count == 0 ? "no access token"
                              : count > 1 ? "several Authorization headers"
                                          : "unknown access token");
      v.headers.emplace_back("WWW-Authenticate", "Bearer");
      return v;
    }
    user = *named;
  }
  // Compressed bodies are refused rather than inflated: a small body could inflate without bound.
  if (const auto coding = head.find(http::field::content_encoding); coding != head.end()) {
    if (!header::Is(coding->value(), "identity")) {
      return Refusal(415, "content coding not accepted; send the body as it is",
                     "Content-Encoding " + Capped(View(coding->value())));
    }
  }
  if (const auto coding = head.find(http::field::transfer_encoding); coding != head.end()) {
    if (!header::Is(coding->value(), "chunked")) {
      return Refusal(415, "transfer coding not accepted; use chunked or none",
                     "Transfer-Encoding " + Capped(View(coding->value())));
    }
  }

  const std::string_view target = View(head.target());
  const std::string method = Shown(View(head.method_string()));
  if (localDb && target == path + "/local.db") {
    if (head.method() != http::verb::get) {
      return NotAllowed(method, "GET", "GET");
    }
    HeadVerdict v;
    v.route = HeadVerdict::Route::LocalDb;
    v.user = user;
    return v;
  }
  if (target != path) return Answer(404, ErrorBody(404, "no such path; the service is at " + path));
  if (head.method() == http::verb::get) {
    HeadVerdict v;
    v.route = HeadVerdict::Route::Describe;
    v.user = user;
    return v;
  }
  if (head.method() != http::verb::post) {
    return NotAllowed(method, "POST", "GET, POST");
  }
  HeadVerdict v;
  v.route = HeadVerdict::Route::Call;
  v.user = user;
  return v;
}

std::string AcceptedRequestId(std::string_view value) {
  if (value.empty() || value.size() > 64) return {};
  for (const char c : value) {
    const bool fit = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                     c == '_' || c == ':' || c == '-';
    if (!fit) return {};
  }
  return std::string(value);
}

std::string ErrorBody(int status, std::string_view message) {
  std::string out = R"({"status":)" + std::to_string(status) + R"(,"error":)";
  host::wire::PacketWriter::AppendJsonString(out, message);
  out += '}';
  return out;
}

}  // namespace server
