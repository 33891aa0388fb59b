// RequestPolicy is what the server's edge decides about a request from its head alone, before a
// byte of its body is read: the access token (exactly one Authorization header naming a listed
// token), the codings (identity content, chunked or no transfer coding), the path and the
// method. GET /health needs no token: a balancer asks it. Kept apart from the connections so that
// it can be tested and fuzzed on its own.
//
// Stateless; thread-safe.
#pragma once

#include <boost/beast/http/message.hpp>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "server/http/AccessTokens.h"

namespace server {

struct HeadVerdict {
  enum class Route {
    Refuse,   // answer `status` with `message`, note `why` in the log, end the connection
    Answer,   // answer `status` with `body` (the JSON text) and go on
    Call,      // read the body and call the service
    Describe,  // answer the service's description (GET on its path)
    LocalDb,   // answer the local database
    Health,    // answer whether the store answers (GET /health)
    Page,      // answer a file of the browser client (or 404 when it has none of that name)
  };
  Route route = Route::Refuse;
  int status = 200;
  std::string message;  // Refuse: for the client
  std::string why;      // Refuse: for the log
  std::string body;     // Answer
  std::vector<std::pair<std::string, std::string>> headers;
  std::string user;     // the user the token names ("" without tokens)
};

// Judges a request head. path is the service's (host::wire::kServicePath); tokens null lets anyone
// in; localDb says whether path + "/local.db" is served; page whether the browser client is served
// under "/": then a GET or HEAD of any other path goes to it, without a token (the page holds no
// data, and its sign-in form must reach a browser that has no token yet).
HeadVerdict JudgeHead(const boost::beast::http::request_header<>& head, const std::string& path,
                      const AccessTokens* tokens, bool localDb, bool page = false);

// The path of the health route.
inline constexpr const char* kHealthPath = "/health";

// The value of an X-Request-Id header a trusted proxy sent, when it is fit to stand for the
// request in the log and in messages (1 to 64 letters, digits, '.', '_', ':' or '-'); else "".
std::string AcceptedRequestId(std::string_view value);

// {"status":N,"error":"message"}: the body of every answer the edge gives on its own.
std::string ErrorBody(int status, std::string_view message);

}  // namespace server
