// AccessControl decides who a request comes from and signs people in. It holds what a server
// knows about access but the tokens file: the local users of the store, the company's directory,
// the sessions, and the throttle against guessing. The tokens file (service accounts, and desktops
// of earlier releases) is given with each question, as the server holds it now: a reload may
// replace it while the server runs. The HTTP front asks it about every request; the service then
// enforces the role.
//
// Calls need a token or a session (Required) when there is a tokens file, when the store held
// local users as the server started, or when a directory is configured; otherwise anyone may
// call, as before users existed.
//
// A sign-in (SignIn) takes a name and a password and answers as the HTTP front answers /login:
//   200  a session: its token, the person's name (as the local user or the directory spells it)
//        and role, and when it ends at the latest;
//   400  the name is not a plain user name (see Identity.h): nothing is asked;
//   401  "Usuário ou senha inválidos.", the same text for an unknown name, a wrong password, a
//        disabled local user and an empty password. A name that is no local user costs one
//        password hash too, before the directory is asked, so the time does not tell them apart;
//        an empty password is refused before anything reaches the directory;
//   403  the directory knows the person, but they are in neither group;
//   429  too many failed sign-ins for the name or from the address (SignInThrottle): retryAfter;
//   503  the directory, the store or the password hashing did not answer in time; local users
//        still sign in while the directory is down.
// A local user of a name wins over a directory user of the same name. Every outcome comes with a
// line for the log (the name and what happened, never the password).
//
// Thread-safe. Not copyable. REQUIRES: the store outlives it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "server/access/AccessTokens.h"
#include "server/access/Directory.h"
#include "server/access/Identity.h"
#include "server/access/Sessions.h"
#include "server/access/SignInThrottle.h"
#include "server/store/Store.h"

namespace server {

// What a server is told about access at start-up.
struct AccessOptions {
  std::string tokensFile;  // "" for none
  DirectoryOptions directory;
  SessionLimits sessions;
};

struct SignInOutcome {
  int status = 401;
  std::string message;  // for the client when status is not 200 (Portuguese)
  std::string log;      // for the server's log
  Identity who;         // 200
  std::string token;    // 200
  int64_t expires = 0;  // 200: ms since the epoch
  int64_t retryAfter = 0;  // 429: seconds
};

class AccessControl {
 public:
  // The refusal of a wrong name or password, the same for every cause.
  static constexpr const char* kWrongPassword = "Usuário ou senha inválidos.";

  // Counts the store's local users. Raises EStoreError.
  AccessControl(Store& store, const DirectoryOptions& directory, SessionLimits limits,
                Sessions::Clock clock = Sessions::SystemClock);
  AccessControl(const AccessControl&) = delete;
  AccessControl& operator=(const AccessControl&) = delete;

  // True when every call (but the sign-in's own and the health check) needs a token or session,
  // tokens being the tokens file now (null: none).
  bool Required(const AccessTokens* tokens) const { return tokens != nullptr || SignInOffered(); }
  // True when people may sign in: local users or a directory.
  bool SignInOffered() const { return localUsers_ > 0 || directory_ != nullptr; }
  const Directory* CompanyDirectory() const { return directory_.get(); }
  int64_t LocalUsers() const { return localUsers_; }
  const Sessions& OpenSessions() const { return sessions_; }

  // Who an Authorization header value names: a token of tokens (the tokens file now; null: none),
  // else an open session whose token it carries ("Bearer TOKEN" exactly). Raises EStoreError.
  std::optional<Identity> FromAuthorization(std::string_view authorization, const AccessTokens* tokens);
  // Who the session of a token (a cookie's) is. Raises EStoreError.
  std::optional<Identity> FromSession(std::string_view token);

  // Signs a person in from address (without port). Never raises: failures are outcomes.
  SignInOutcome SignIn(std::string_view name, std::string_view password, std::string_view address);
  // Ends a session; false when the token named none. Raises EStoreError.
  bool SignOut(std::string_view token) { return sessions_.End(token); }

 private:
  std::optional<Identity> CheckPassword(std::string_view name, std::string_view password, SignInOutcome& outcome);

  Store& store_;
  std::unique_ptr<Directory> directory_;
  int64_t localUsers_ = 0;
  Sessions sessions_;
  SignInThrottle throttle_;
};

}  // namespace server
