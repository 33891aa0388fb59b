// RequestPolicy is what the server's edge decides about a request from its head alone, before a
// byte of its body is read: who it comes from, the codings (identity content, chunked or no
// transfer coding), the path and the method. GET /health needs no token: a balancer asks it. Kept
// apart from the connections so that it can be tested and fuzzed on its own.
//
// Who a request comes from is asked of a Gatekeeper: a token of the tokens file or a session
// ("Authorization: Bearer TOKEN", exactly one such header), or a session's cookie (pdi_session).
// When the gatekeeper requires either, any other request gets 401 (with "WWW-Authenticate:
// Bearer") before its body is read, but for the sign-in's own routes: POST /login and POST
// /logout, served when the gatekeeper offers sign-in. A request that a cookie lets in is a
// browser's, which sends cookies to any page that posts to the server: a cookie-authenticated
// POST must declare Content-Type application/json and, when it carries an Origin, one of this
// server's host (either scheme, for a balancer that ends TLS); else 403 (CSRF). /login takes the
// same two rules (a forged sign-in would put the victim in the forger's session) and a body of at
// most kMaxSignInBytes.
//
// Stateless; thread-safe as its gatekeeper is.
#pragma once

#include <boost/beast/http/message.hpp>

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "server/access/AccessTokens.h"
#include "server/access/Identity.h"

namespace server {

// Who a request's credentials name, as the edge asks it.
class Gatekeeper {
 public:
  virtual ~Gatekeeper() = default;
  // True when every request but the sign-in's routes needs a token or a session.
  virtual bool Required() const = 0;
  // True when /login and /logout are served.
  virtual bool OffersSignIn() const = 0;
  // Who an Authorization header value names, or nothing. May raise EStoreError.
  virtual std::optional<Identity> FromAuthorization(std::string_view value) = 0;
  // Who a session token (a cookie's) names, or nothing. May raise EStoreError.
  virtual std::optional<Identity> FromSession(std::string_view token) = 0;
};

// The gatekeeper of a server with a tokens file only (no sign-in). REQUIRES: tokens outlives it.
class TokensOnly final : public Gatekeeper {
 public:
  explicit TokensOnly(const AccessTokens& tokens) : tokens_(tokens) {}
  bool Required() const override { return true; }
  bool OffersSignIn() const override { return false; }
  std::optional<Identity> FromAuthorization(std::string_view value) override { return tokens_.IdentityFor(value); }
  std::optional<Identity> FromSession(std::string_view) override { return std::nullopt; }

 private:
  const AccessTokens& tokens_;
};

struct HeadVerdict {
  enum class Route {
    Refuse,    // answer `status` with `message`, note `why` in the log, end the connection
    Answer,    // answer `status` with `body` (the JSON text) and go on
    Call,      // read the body and call the service
    Describe,  // answer the service's description (GET on its path)
    LocalDb,   // answer the local database
    SignIn,    // read the body and sign in (POST /login)
    SignOut,   // end the session of `token` (POST /logout)
    Health,    // answer whether the store answers (GET /health)
    Page,      // answer a file of the browser client (or 404 when it has none of that name)
  };
  Route route = Route::Refuse;
  int status = 200;
  std::string message;  // Refuse: for the client
  std::string why;      // Refuse: for the log
  std::string body;     // Answer
  std::vector<std::pair<std::string, std::string>> headers;
  std::string user;     // who.user
  Identity who;         // Call, Describe, LocalDb: who the request comes from (kAnyone without access rules)
  std::string token;    // SignOut: the session token the request carries ("" when none)
};

// The paths of the sign-in's routes, and the largest sign-in body.
inline constexpr std::string_view kSignInPath = "/login";
inline constexpr std::string_view kSignOutPath = "/logout";
inline constexpr size_t kMaxSignInBytes = 16 * 1024;
// The session cookie's name.
inline constexpr std::string_view kSessionCookie = "pdi_session";

// Judges a request head. path is the service's (host::wire::kServicePath); gate null lets anyone
// in; localDb says whether path + "/local.db" is served; page whether the browser client is served
// under "/": then a GET or HEAD of any other path goes to it, without a token (the page holds no
// data, and its sign-in form must reach a browser that has no token yet). Raises EStoreError when
// the gatekeeper could not tell (its store failed).
HeadVerdict JudgeHead(const boost::beast::http::request_header<>& head, const std::string& path, Gatekeeper* gate,
                      bool localDb, bool page = false);
// The same with the tokens file alone (null lets anyone in).
HeadVerdict JudgeHead(const boost::beast::http::request_header<>& head, const std::string& path,
                      const AccessTokens* tokens, bool localDb, bool page = false);

// The path of the health route.
inline constexpr const char* kHealthPath = "/health";

// The value of an X-Request-Id header a trusted proxy sent, when it is fit to stand for the
// request in the log and in messages (1 to 64 letters, digits, '.', '_', ':' or '-'); else "".
std::string AcceptedRequestId(std::string_view value);

// The session token of the request's cookies, or "" when it carries no pdi_session cookie.
std::string SessionCookie(const boost::beast::http::request_header<>& head);

// {"status":N,"error":"message"}: the body of every answer the edge gives on its own.
std::string ErrorBody(int status, std::string_view message);

}  // namespace server
