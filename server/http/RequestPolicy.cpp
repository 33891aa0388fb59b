#include "server/http/RequestPolicy.h"

#include <iterator>
#include <optional>
#include <charconv>
#include <string>

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

// The media type of a Content-Type value, parameters aside, is application/json.
bool DeclaresJson(const http::request_header<>& head) {
  const auto type = head.find(http::field::content_type);
  if (type == head.end()) return false;
  std::string_view value = View(type->value());
  value = value.substr(0, value.find(';'));
  return header::EqualsNoCase(header::Trimmed(value), "application/json");
}

// True when the request carries an Origin of another site than this server's (by its Host,
// either scheme). No Origin is no claim: clients that are not browsers send none.
bool ForeignOrigin(const http::request_header<>& head) {
  const auto origin = head.find(http::field::origin);
  if (origin == head.end()) return false;
  std::string_view value = header::Trimmed(View(origin->value()));
  for (const std::string_view scheme : {std::string_view("https://"), std::string_view("http://")}) {
    if (value.size() > scheme.size() && header::EqualsNoCase(value.substr(0, scheme.size()), scheme)) {
      value.remove_prefix(scheme.size());
      const auto host = head.find(http::field::host);
      return host == head.end() || !header::EqualsNoCase(value, header::Trimmed(View(host->value())));
    }
  }
  return true;  // "null", or no scheme of the web
}

// What a browser's POST must show to be taken (see the header): nothing when it does.
std::optional<HeadVerdict> CrossSite(const http::request_header<>& head) {
  if (!DeclaresJson(head)) {
    return Refusal(403, "a browser's request must be sent as application/json", "CSRF: not application/json");
  }
  if (ForeignOrigin(head)) {
    return Refusal(403, "request from another site refused",
                   "CSRF: Origin " + Capped(View(head[http::field::origin])));
  }
  return std::nullopt;
}

HeadVerdict Routed(HeadVerdict::Route route, Identity who = {}) {
  HeadVerdict v;
  v.route = route;
  v.user = who.user;
  v.who = std::move(who);
  return v;
}

// The sign-in's routes.
HeadVerdict JudgeSignIn(const http::request_header<>& head, std::string_view target, const std::string& method) {
  if (head.method() != http::verb::post) return NotAllowed(method, "POST", "POST");
  if (target == kSignInPath) {
    if (const auto length = head.find(http::field::content_length); length != head.end()) {
      const std::string_view value = header::Trimmed(View(length->value()));
      size_t bytes = 0;
      const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), bytes);
      if (error != std::errc() || end != value.data() + value.size() || bytes > kMaxSignInBytes) {
        return Refusal(413, "sign-in body too large", "sign-in body over the limit");
      }
    }
    if (auto refused = CrossSite(head)) return *refused;
    return Routed(HeadVerdict::Route::SignIn);
  }
  HeadVerdict v = Routed(HeadVerdict::Route::SignOut);
  const auto fields = head.equal_range(http::field::authorization);
  if (fields.first != fields.second) {
    if (const auto token = AccessTokens::BearerToken(View(fields.first->value()))) v.token = std::string(*token);
  } else {
    v.token = SessionCookie(head);
    if (!v.token.empty()) {
      if (auto refused = CrossSite(head)) return *refused;
    }
  }
  return v;
}

}  // namespace

std::string SessionCookie(const http::request_header<>& head) {
  const auto fields = head.equal_range(http::field::cookie);
  for (auto field = fields.first; field != fields.second; ++field) {
    std::string_view rest = View(field->value());
    while (!rest.empty()) {
      const size_t end = rest.find(';');
      const std::string_view pair = header::Trimmed(rest.substr(0, end));
      rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
      if (pair.size() > kSessionCookie.size() && pair.substr(0, kSessionCookie.size()) == kSessionCookie &&
          pair[kSessionCookie.size()] == '=') {
        return std::string(pair.substr(kSessionCookie.size() + 1));
      }
    }
  }
  return {};
}

HeadVerdict JudgeHead(const http::request_header<>& head, const std::string& path, const AccessTokens* tokens,
                      bool localDb, bool page) {
  if (tokens == nullptr) return JudgeHead(head, path, static_cast<Gatekeeper*>(nullptr), localDb, page);
  TokensOnly gate(*tokens);
  return JudgeHead(head, path, &gate, localDb, page);
}

HeadVerdict JudgeHead(const http::request_header<>& head, const std::string& path, Gatekeeper* gate, bool localDb,
                      bool page) {
  const std::string_view target = View(head.target());
  const std::string method = Shown(View(head.method_string()));
  // The balancer's question needs no token and reveals nothing but the store's state.
  if (target == kHealthPath) {
    if (head.method() != http::verb::get) return NotAllowed(method, "GET", "GET");
    return Routed(HeadVerdict::Route::Health);
  }
  if (page && (head.method() == http::verb::get || head.method() == http::verb::head)) {
    const std::string_view service = target.substr(0, target.find_first_of("?#"));
    if (service != path && !service.starts_with(path + "/")) return Routed(HeadVerdict::Route::Page);
  }
  if (gate && gate->OffersSignIn() && (target == kSignInPath || target == kSignOutPath)) {
    return JudgeSignIn(head, target, method);
  }
  Identity who;
  if (gate && gate->Required()) {
    // One header only: with two, which one a proxy or the server reads is anyone's guess.
    const auto fields = head.equal_range(http::field::authorization);
    const auto count = std::distance(fields.first, fields.second);
    std::optional<Identity> named;
    bool cookie = false;
    if (count == 1) {
      named = gate->FromAuthorization(View(fields.first->value()));
    } else if (count == 0 && gate->OffersSignIn()) {
      const std::string token = SessionCookie(head);
      cookie = !token.empty();
      if (cookie) named = gate->FromSession(token);
    }
    if (!named) {
      HeadVerdict v = Refusal(401, "a valid access token is required",
                              count > 1    ? "several Authorization headers"
                              : count == 1 ? "unknown access token or session"
                              : cookie     ? "unknown or ended session"
                                           : "no access token");
      v.headers.emplace_back("WWW-Authenticate", "Bearer");
      return v;
    }
    if (cookie && head.method() == http::verb::post) {
      if (auto refused = CrossSite(head)) return *refused;
    }
    who = std::move(*named);
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

  if (localDb && target == path + "/local.db") {
    if (head.method() != http::verb::get) return NotAllowed(method, "GET", "GET");
    return Routed(HeadVerdict::Route::LocalDb, std::move(who));
  }
  if (target != path) return Answer(404, ErrorBody(404, "no such path; the service is at " + path));
  if (head.method() == http::verb::get) return Routed(HeadVerdict::Route::Describe, std::move(who));
  if (head.method() != http::verb::post) return NotAllowed(method, "POST", "GET, POST");
  return Routed(HeadVerdict::Route::Call, std::move(who));
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
