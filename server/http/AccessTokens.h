// AccessTokens is the list of access tokens a server accepts, read from a file with one
// "TOKEN USER" per line: the token (any run of printable characters without blanks) and, after
// blanks, the user name it stands for (the rest of the line). Blank lines and lines starting with
// '#' are ignored. A request is let in when its Authorization header is "Bearer TOKEN" with a
// listed token; the user name then goes to the audit trail.
//
// Immutable once loaded; safe to read from any thread. Intentionally copyable.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace server {

class AccessTokens {
 public:
  // Reads the file at path. Raises std::runtime_error naming the file (and the line) when it
  // cannot be read, a line has a token without a user, a token is listed twice, or no token is
  // listed at all (a server nobody could call).
  static AccessTokens Load(const std::string& path);
  // Reads the text of such a file; source names it in messages.
  static AccessTokens Parse(std::string_view text, const std::string& source);

  // The user of the token an Authorization header value carries ("Bearer TOKEN", the scheme in
  // any case), or nothing when the header is empty, of another scheme, or the token is not
  // listed. The comparison takes the same time whatever the tokens have in common.
  std::optional<std::string> UserFor(std::string_view authorization) const;

  size_t Size() const { return entries_.size(); }

 private:
  struct Entry {
    std::string token;
    std::string user;
  };
  std::vector<Entry> entries_;
};

}  // namespace server
