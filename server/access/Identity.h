// Who a request comes from, as the server's access rules see it: the person's name, the role
// that says what they may do, and how they were identified. Also the rules for user names, which
// reach the directory's queries and the store's keys: a name is plain (ASCII letters, digits,
// '.', '_', '-', '@'; 1 to 64 characters), so it can be neither an LDAP filter nor a piece of a
// distinguished name, and names are matched without regard to case (by their key, the name in
// lower case).
//
// Header only (the fuzz build of the HTTP front compiles the access tokens alone). Stateless;
// thread-safe. Identity is intentionally copyable.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace server {

// What a person may do. kConsulta: open, move, search, check, export, read history, download the
// local database. kEdicao: all of that, and save.
enum class Role { kEdicao, kConsulta };

inline std::string_view RoleName(Role role) { return role == Role::kConsulta ? "consulta" : "edicao"; }

inline std::optional<Role> ParseRole(std::string_view text) {
  if (text == "edicao") return Role::kEdicao;
  if (text == "consulta") return Role::kConsulta;
  return std::nullopt;
}

// How the person of a request was identified; the audit trail keeps the name (see AccessName).
enum class AccessKind {
  kAnyone,     // the server lets anyone in: no name
  kToken,      // a token of the tokens file
  kLocal,      // a session of a local user (the store's)
  kDirectory,  // a session of a user of the company's directory
};

inline std::string_view AccessName(AccessKind kind) {
  switch (kind) {
    case AccessKind::kToken: return "token";
    case AccessKind::kLocal: return "local";
    case AccessKind::kDirectory: return "diretorio";
    case AccessKind::kAnyone: break;
  }
  return "";
}

inline std::optional<AccessKind> ParseAccessName(std::string_view text) {
  for (const AccessKind kind : {AccessKind::kToken, AccessKind::kLocal, AccessKind::kDirectory, AccessKind::kAnyone}) {
    if (AccessName(kind) == text) return kind;
  }
  return std::nullopt;
}

struct Identity {
  std::string user;  // as the tokens file, the local user or the directory spells it; "" for anyone
  Role role = Role::kEdicao;
  AccessKind access = AccessKind::kAnyone;
};

inline constexpr size_t kMaxUserNameLength = 64;

// True when name is a plain user name (see above).
inline bool PlainUserName(std::string_view name) {
  if (name.empty() || name.size() > kMaxUserNameLength) return false;
  for (const char c : name) {
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    const bool digit = c >= '0' && c <= '9';
    if (!letter && !digit && c != '.' && c != '_' && c != '-' && c != '@') return false;
  }
  return true;
}

// The key a name is matched by: the name with ASCII letters in lower case.
inline std::string UserKey(std::string_view name) {
  std::string key(name);
  for (char& c : key) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return key;
}

}  // namespace server
