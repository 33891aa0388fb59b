#include "server/access/AccessTokens.h"

#include <stdexcept>

#include "server/http/PrivateFile.h"

namespace server {
namespace {

bool Blank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (Blank(s.front()) || s.front() == '\r')) s.remove_prefix(1);
  while (!s.empty() && (Blank(s.back()) || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

// Compares without stopping at the first difference, so the time taken does not tell how much of
// a guessed token was right.
bool SameText(std::string_view a, std::string_view b) {
  unsigned char diff = a.size() == b.size() ? 0 : 1;
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  return diff == 0;
}

// Printable ASCII without blanks: what a token and a header's token are made of.
bool TokenChar(char c) { return static_cast<unsigned char>(c) > 0x20 && static_cast<unsigned char>(c) < 0x7F; }

// Tokens files larger than this are not tokens files.
constexpr size_t kMaxFileBytes = 1 << 20;

}  // namespace

AccessTokens AccessTokens::Load(const std::string& path) {
  return Parse(ReadPrivateFile(path, "the tokens file " + path, kMaxFileBytes), path);
}

AccessTokens AccessTokens::Parse(std::string_view text, const std::string& source) {
  AccessTokens tokens;
  size_t lineNo = 0;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    const std::string_view line = Trim(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ++lineNo;
    if (line.empty() || line.front() == '#') continue;
    const auto where = [&] { return source + ", line " + std::to_string(lineNo); };
    size_t split = 0;
    while (split < line.size() && !Blank(line[split])) ++split;
    const std::string_view token = line.substr(0, split);
    std::string_view user = Trim(line.substr(split));
    // An optional last word names the role.
    Role role = Role::kEdicao;
    if (const size_t blank = user.find_last_of(" \t"); blank != std::string_view::npos) {
      if (const auto named = ParseRole(user.substr(blank + 1))) {
        role = *named;
        user = Trim(user.substr(0, blank));
      }
    }
    for (const char c : token) {
      if (!TokenChar(c)) throw std::runtime_error(where() + ": a token holds only printable characters");
    }
    if (user.empty()) throw std::runtime_error(where() + ": expected \"TOKEN USER\"");
    if (token.size() < kMinTokenLength) {
      throw std::runtime_error(where() + ": a token has at least " + std::to_string(kMinTokenLength) +
                               " characters (this one has " + std::to_string(token.size()) + ")");
    }
    for (const char c : user) {
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
        throw std::runtime_error(where() + ": a user name holds no control characters");
      }
    }
    for (const Entry& e : tokens.entries_) {
      if (e.token == token) throw std::runtime_error(where() + ": the token is listed twice");
    }
    tokens.entries_.push_back({std::string(token), std::string(user), role});
  }
  if (tokens.entries_.empty()) throw std::runtime_error(source + ": no token listed; nobody could call the server");
  return tokens;
}

std::optional<std::string> AccessTokens::UserFor(std::string_view authorization) const {
  const auto identity = IdentityFor(authorization);
  if (!identity) return std::nullopt;
  return identity->user;
}

std::optional<std::string_view> AccessTokens::BearerToken(std::string_view authorization) {
  constexpr std::string_view kScheme = "bearer";
  if (authorization.size() <= kScheme.size() + 1 || authorization[kScheme.size()] != ' ') return std::nullopt;
  for (size_t i = 0; i < kScheme.size(); ++i) {
    const char c = authorization[i];
    if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != kScheme[i]) return std::nullopt;
  }
  // The token runs to the end of the value: a second blank, a NUL or anything after the token
  // makes the header not a bearer header at all.
  const std::string_view token = authorization.substr(kScheme.size() + 1);
  for (const char c : token) {
    if (!TokenChar(c)) return std::nullopt;
  }
  return token;
}

std::optional<Identity> AccessTokens::IdentityFor(std::string_view authorization) const {
  const auto token = BearerToken(authorization);
  if (!token) return std::nullopt;
  std::optional<Identity> identity;
  for (const Entry& e : entries_) {
    if (SameText(e.token, *token) && !identity) identity = Identity{e.user, e.role, AccessKind::kToken};
  }
  return identity;
}

}  // namespace server
