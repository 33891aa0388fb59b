#include "fuzz/HttpFrontEntry.h"

#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>

#include <algorithm>
#include <cctype>
#include <string>

#include "host/wire/ServiceName.h"
#include "server/access/AccessTokens.h"
#include "server/http/RequestPolicy.h"

namespace server::fuzz {
namespace {

namespace http = boost::beast::http;
using host::fuzz::EInvariantBroken;
using host::fuzz::Outcome;

const std::string kPath(host::wire::kServicePath);
constexpr std::string_view kToken = "0123456789abcdefghij";

const AccessTokens& Tokens() {
  static const AccessTokens tokens = AccessTokens::Parse(std::string(kToken) + " maria\n", "fuzz");
  return tokens;
}

bool Lower(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

void Check(bool holds, const char* promise) {
  if (!holds) throw EInvariantBroken(promise);
}

}  // namespace

Outcome FeedHttpRequest(std::string_view bytes) {
  if (bytes.empty()) return Outcome::Rejected;
  const size_t piece = 1 + static_cast<unsigned char>(bytes.front());
  bytes.remove_prefix(1);

  http::request_parser<http::string_body> parser;
  parser.header_limit(static_cast<std::uint32_t>(kFuzzHeaderLimit));
  parser.body_limit(kFuzzBodyLimit);
  parser.eager(true);

  // Feeds the parser as a connection does: what has arrived so far, what it did not use kept.
  std::string pending;
  size_t offset = 0;
  bool judged = false;
  while (!parser.is_done()) {
    if (offset >= bytes.size()) return Outcome::Rejected;  // the request never ended
    const size_t n = std::min(piece, bytes.size() - offset);
    pending.append(bytes.substr(offset, n));
    offset += n;
    boost::system::error_code ec;
    const size_t used = parser.put(boost::asio::buffer(pending), ec);
    pending.erase(0, used);
    if (ec == http::error::need_more) continue;
    if (ec) return Outcome::Rejected;
    if (parser.is_header_done() && !judged) {
      judged = true;
      const auto& head = parser.get().base();
      // The page, served without a token, takes only GET and HEAD and never the service's path.
      if (JudgeHead(head, kPath, &Tokens(), true, true).route == HeadVerdict::Route::Page) {
        const std::string_view target(head.target().data(), head.target().size());
        const std::string_view path = target.substr(0, target.find_first_of("?#"));
        Check(head.method() == http::verb::get || head.method() == http::verb::head,
              "the page took a method but GET and HEAD");
        Check(path != kPath && !path.starts_with(kPath + "/"), "the page answered the service's path");
      }
      for (const AccessTokens* tokens : {static_cast<const AccessTokens*>(nullptr), &Tokens()}) {
        const HeadVerdict v = JudgeHead(head, kPath, tokens, true);
        if (v.route == HeadVerdict::Route::Call) {
          Check(head.method() == http::verb::post && head.target() == kPath, "a call that is not a POST to the path");
          for (const auto field : {http::field::content_encoding, http::field::transfer_encoding}) {
            const auto coding = head.find(field);
            if (coding == head.end()) continue;
            std::string_view value(coding->value().data(), coding->value().size());
            while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
            while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
            Check(Lower(value, field == http::field::content_encoding ? "identity" : "chunked"),
                  "a coded body let through");
          }
        }
        // The health route alone is open without a token, and only to a GET of its path.
        const bool health = head.target() == kHealthPath;
        if (v.route == HeadVerdict::Route::Health) {
          Check(health && head.method() == http::verb::get, "the health route for another request");
        }
        if (tokens && v.route != HeadVerdict::Route::Refuse && v.route != HeadVerdict::Route::Health) {
          const auto fields = head.equal_range(http::field::authorization);
          Check(std::distance(fields.first, fields.second) == 1, "let in without exactly one Authorization header");
          const std::string_view given(fields.first->value().data(), fields.first->value().size());
          Check(given.find(kToken) != std::string_view::npos, "let in without the token");
          // An answer of the edge's own (404, 405) names no user; a call, the description and the
          // local database go with the token's.
          Check(v.route == HeadVerdict::Route::Answer || v.user == "maria", "let in under another user");
        }
        if (v.route == HeadVerdict::Route::Refuse || v.route == HeadVerdict::Route::Answer) {
          const std::string body = v.route == HeadVerdict::Route::Refuse ? ErrorBody(v.status, v.message) : v.body;
          Check(body.find('\n') == std::string::npos && body.find('\r') == std::string::npos,
                "an answer body with a raw line break");
          Check(v.why.find('\n') == std::string::npos && v.why.find('\x1b') == std::string::npos,
                "a log note with a raw control character");
        }
      }
    }
  }
  Check(parser.get().body().size() <= kFuzzBodyLimit, "a body read past its limit");
  return Outcome::Accepted;
}

}  // namespace server::fuzz
