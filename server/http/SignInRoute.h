// The sign-in's routes of the HTTP front, and the gatekeeper of a server with access rules.
//
//   POST /login   {"user":"…","password":"…"} (application/json): AccessControl::SignIn. 200
//                 answers {"token":"…","user":"…","role":"edicao"|"consulta","expires":"ISO 8601"}
//                 and sets the cookie pdi_session (HttpOnly; SameSite=Strict; Path=/; Max-Age of
//                 the session's longest life; Secure under TLS), for browsers; a refusal answers
//                 {"status":N,"error":"…"} (429 with Retry-After). A body that is not such an
//                 object is 400.
//   POST /logout  ends the session of the request's bearer token or cookie, if any, and clears
//                 the cookie: 200 {"ok":true} whatever the session was.
//
// Each answer comes with the outcome the call log writes: the address, the name tried and what
// happened (never the password).
//
// Stateless but for the AccessControl it is given; thread-safe as that is.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "server/access/AccessControl.h"
#include "server/http/RequestPolicy.h"

namespace server {

// The gatekeeper of a server with access rules, for one request: tokens is the tokens file as the
// server holds it now (null: none). REQUIRES: access and tokens outlive it.
class AccessGate final : public Gatekeeper {
 public:
  AccessGate(AccessControl& access, const AccessTokens* tokens) : access_(access), tokens_(tokens) {}
  bool Required() const override { return access_.Required(tokens_); }
  bool OffersSignIn() const override { return access_.SignInOffered(); }
  std::optional<Identity> FromAuthorization(std::string_view value) override {
    return access_.FromAuthorization(value, tokens_);
  }
  std::optional<Identity> FromSession(std::string_view token) override { return access_.FromSession(token); }

 private:
  AccessControl& access_;
  const AccessTokens* tokens_;
};

struct RouteAnswer {
  int status = 200;
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string outcome;  // for the call log
};

// client: "HOST:PORT" (an IPv6 host in brackets); tls: the request came over TLS.
RouteAnswer AnswerSignIn(AccessControl& access, std::string_view body, std::string_view client, bool tls);
RouteAnswer AnswerSignOut(AccessControl& access, std::string_view token, bool tls);

// The address of "HOST:PORT", without the port (and without brackets).
std::string AddressOf(std::string_view client);

}  // namespace server
