#include "server/http/AccessTokens.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

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

}  // namespace

AccessTokens AccessTokens::Load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read the tokens file " + path);
  std::ostringstream text;
  text << in.rdbuf();
  return Parse(text.str(), path);
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
    const std::string_view user = Trim(line.substr(split));
    for (const char c : token) {
      if (static_cast<unsigned char>(c) < 0x21 || c == 0x7F) {
        throw std::runtime_error(where() + ": a token holds only printable characters");
      }
    }
    if (user.empty()) throw std::runtime_error(where() + ": expected \"TOKEN USER\"");
    for (const Entry& e : tokens.entries_) {
      if (e.token == token) throw std::runtime_error(where() + ": the token is listed twice");
    }
    tokens.entries_.push_back({std::string(token), std::string(user)});
  }
  if (tokens.entries_.empty()) throw std::runtime_error(source + ": no token listed; nobody could call the server");
  return tokens;
}

std::optional<std::string> AccessTokens::UserFor(std::string_view authorization) const {
  authorization = Trim(authorization);
  constexpr std::string_view kScheme = "bearer";
  if (authorization.size() <= kScheme.size() || !Blank(authorization[kScheme.size()])) return std::nullopt;
  for (size_t i = 0; i < kScheme.size(); ++i) {
    const char c = authorization[i];
    if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != kScheme[i]) return std::nullopt;
  }
  const std::string_view token = Trim(authorization.substr(kScheme.size()));
  if (token.empty()) return std::nullopt;
  std::optional<std::string> user;
  for (const Entry& e : entries_) {
    if (SameText(e.token, token) && !user) user = e.user;
  }
  return user;
}

}  // namespace server
