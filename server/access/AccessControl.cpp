#include "server/access/AccessControl.h"

#include "server/access/PasswordHash.h"

namespace server {
namespace {

SignInOutcome Refused(int status, std::string message, std::string log) {
  SignInOutcome outcome;
  outcome.status = status;
  outcome.message = std::move(message);
  outcome.log = std::move(log);
  return outcome;
}

}  // namespace

AccessControl::AccessControl(Store& store, const DirectoryOptions& directory, SessionLimits limits,
                             Sessions::Clock clock)
    : store_(store),
      directory_(directory.Configured() ? std::make_unique<Directory>(directory) : nullptr),
      localUsers_(store.OpenSession()->CountUsers()),
      sessions_(store, limits, clock),
      throttle_(store, clock) {}

std::optional<Identity> AccessControl::FromAuthorization(std::string_view authorization,
                                                          const AccessTokens* tokens) {
  const auto token = AccessTokens::BearerToken(authorization);
  if (!token) return std::nullopt;
  if (tokens) {
    if (auto identity = tokens->IdentityFor(authorization)) return identity;
  }
  return sessions_.Check(*token);
}

std::optional<Identity> AccessControl::FromSession(std::string_view token) { return sessions_.Check(token); }

std::optional<Identity> AccessControl::CheckPassword(std::string_view name, std::string_view password,
                                                     SignInOutcome& outcome) {
  const std::optional<UserRecord> local = store_.OpenSession()->FindUser(UserKey(name));
  if (local && !local->disabled) {
    const auto role = ParseRole(local->role);
    if (PasswordHash::Verify(local->passwordHash, password) && role) {
      return Identity{local->name, *role, AccessKind::kLocal};
    }
    outcome.log = "wrong password of the local user";
    return std::nullopt;
  }
  // Not a local user who may sign in: the same cost as a wrong password, before anything else.
  PasswordHash::VerifyNothing(password);
  if (local) {
    outcome.log = "the local user is disabled";
    return std::nullopt;
  }
  if (!directory_) {
    outcome.log = "no such local user";
    return std::nullopt;
  }
  const DirectoryAnswer answer = directory_->SignIn(name, password);
  switch (answer.outcome) {
    case DirectoryAnswer::Outcome::kAccepted:
      outcome.log = "directory: " + answer.detail;
      return Identity{answer.user, answer.role, AccessKind::kDirectory};
    case DirectoryAnswer::Outcome::kRefused:
      outcome.log = "directory refused: " + answer.detail;
      return std::nullopt;
    case DirectoryAnswer::Outcome::kNoGroup:
      outcome = Refused(403, "O usuário " + answer.user + " não pertence a nenhum dos grupos com acesso a esta tela.",
                        "directory: " + answer.detail);
      return std::nullopt;
    case DirectoryAnswer::Outcome::kUnavailable:
      outcome = Refused(503,
                        "O diretório da empresa não respondeu; tente novamente em instantes. Usuários locais "
                        "continuam entrando.",
                        "directory unavailable: " + answer.detail);
      return std::nullopt;
  }
  return std::nullopt;
}

SignInOutcome AccessControl::SignIn(std::string_view name, std::string_view password, std::string_view address) {
  if (!PlainUserName(name)) {
    return Refused(400,
                   "O nome de usuário tem de 1 a " + std::to_string(kMaxUserNameLength) +
                       " letras sem acento, dígitos, '.', '_', '-' ou '@'.",
                   "not a plain user name");
  }
  const std::string key = UserKey(name);
  try {
    if (const int64_t wait = throttle_.RetryAfter(key, address); wait > 0) {
      SignInOutcome locked = Refused(429,
                                     "Muitas tentativas de entrada sem sucesso. Tente novamente em " +
                                         std::to_string((wait + 59) / 60) + " minuto(s).",
                                     "locked out for " + std::to_string(wait) + " s after failed sign-ins");
      locked.retryAfter = wait;
      return locked;
    }
    // To a directory an empty password is an anonymous bind, which succeeds: never sent.
    if (password.empty()) return Refused(401, kWrongPassword, "empty password");
    if (password.size() > PasswordHash::kMaxBytes) return Refused(401, kWrongPassword, "password too long");

    SignInOutcome outcome;
    outcome.status = 200;
    const std::optional<Identity> who = CheckPassword(name, password, outcome);
    if (!who) {
      if (outcome.status != 200) return outcome;  // 403, 503: no guess was refused
      throttle_.Failed(key, address);
      return Refused(401, kWrongPassword, outcome.log);
    }
    throttle_.Succeeded(key);
    const Sessions::Started started = sessions_.Start(*who);
    outcome.who = *who;
    outcome.token = started.token;
    outcome.expires = started.expires;
    outcome.log = "signed in as " + std::string(RoleName(who->role)) + " (" + outcome.log +
                  (who->access == AccessKind::kLocal ? "local user" : "") + ")";
    return outcome;
  } catch (const EPasswordBusy& e) {
    return Refused(503, "O servidor está ocupado com outras entradas; tente novamente em instantes.", e.what());
  } catch (const EStoreError& e) {
    return Refused(503, "O banco de dados do servidor não respondeu; tente novamente em instantes.",
                   std::string("store: ") + e.what());
  } catch (const std::exception& e) {
    return Refused(503, "Falha interna do servidor na entrada; tente novamente.", e.what());
  }
}

}  // namespace server
