// SignIn asks the application server for a session: POST /login with the person's name and
// password, answered with a session token the host then sends as its access token (Authorization:
// Bearer TOKEN), the name as the server spells it, the role (edicao or consulta) and when the
// session ends at the latest.
//
// The password goes over TLS when the server address is https://; over plain HTTP only to a
// loopback address unless insecure is set, as the access token. The server's certificate is
// verified as for calls (the CA file, or the system's store). Connecting and reading have a
// deadline and the answer a size cap. Never raises: a refusal or a failure comes back with a
// message in Portuguese for the person (wrong password, locked out for a while, directory down,
// server unreachable).
//
// Stateless; thread-safe.
#pragma once

#include <chrono>
#include <string>

namespace host {

struct SignInAnswer {
  bool ok = false;
  int status = 0;       // the HTTP status (0 when the server was not reached)
  std::string token;    // ok: the session token
  std::string user;     // ok: the name as the server spells it
  std::string role;     // ok: "edicao" or "consulta"
  std::string expires;  // ok: when the session ends at the latest (ISO 8601)
  std::string message;  // not ok: why, for the person
};

struct SignInServer {
  std::string host;  // "[https://]HOST", as the hosts' server address
  int port = 0;
  std::string caFile;  // TLS: CA certificates (PEM); "" for the system's store
  bool insecure = false;
  std::chrono::milliseconds timeout{30000};
};

SignInAnswer SignIn(const SignInServer& server, const std::string& user, const std::string& password);

}  // namespace host
