// AccessTokens is the list of access tokens a server accepts, read from a file with one
// "TOKEN USER [ROLE]" per line: the token (at least 16 printable ASCII characters without blanks)
// and, after blanks, the user name it stands for (the rest of the line, without control
// characters). When the line's last word is "edicao" or "consulta" and a name comes before it,
// that word is the token's role; without it the role is edicao, as before roles existed.
// Blank lines and lines starting with '#' are ignored. The file is a secret: owned by the server's
// user (mode 0600) or by root (0640 at most), never readable by others (see PrivateFile.h). A
// request is let in when its Authorization header is exactly "Bearer TOKEN" with a listed token; the user
// name then goes to the audit trail.
//
// Immutable once loaded; safe to read from any thread. Intentionally copyable.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/access/Identity.h"

namespace server {

class AccessTokens {
 public:
  // Shortest token accepted: long enough that it cannot be guessed by trying.
  static constexpr size_t kMinTokenLength = 16;

  // Reads the file at path. Raises std::runtime_error naming the file (and the line) when it
  // cannot be read (saying why), is not a regular file, breaks the rule of private files, a line has a
  // token without a user, a token is too short or holds a character that is not printable, a user
  // name holds a control character, a token is listed twice, or no token is listed at all (a
  // server nobody could call).
  static AccessTokens Load(const std::string& path);
  // Reads the text of such a file; source names it in messages.
  static AccessTokens Parse(std::string_view text, const std::string& source);

  // The user of the token an Authorization header value carries: exactly "Bearer TOKEN" (the
  // scheme in any case, one space, the token to the end of the value), or nothing when the header
  // is empty, of another scheme, has blanks, control characters or anything else around the
  // token, or the token is not listed. The comparison takes the same time whatever the tokens
  // have in common.
  std::optional<std::string> UserFor(std::string_view authorization) const;
  // The same, with the token's role (access kToken).
  std::optional<Identity> IdentityFor(std::string_view authorization) const;

  size_t Size() const { return entries_.size(); }

  // The token of an Authorization header value that is exactly "Bearer TOKEN" (see UserFor),
  // listed or not; nothing for any other value.
  static std::optional<std::string_view> BearerToken(std::string_view authorization);

 private:
  struct Entry {
    std::string token;
    std::string user;
    Role role = Role::kEdicao;
  };
  std::vector<Entry> entries_;
};

}  // namespace server
