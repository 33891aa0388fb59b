// PrivateFile reads a file that holds a secret (the access tokens, the TLS private key) under the
// rule PostgreSQL keeps for its own key: the file is owned by the server's user or by root; owned
// by root it may be readable by its group (mode 0640, so a group the service belongs to can read
// it), owned by anyone else it is private to its owner (0600); it is never readable by others,
// nor writable by anyone but its owner. A file that breaks the rule is refused, saying who owns
// it, its mode and the fix; a file that cannot be read says why in the terms of the user the
// server runs as.
//
// Stateless functions; thread-safe.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace server {

// Why a file of that owner and mode, read by a process running as user `reader`, breaks the rule
// (see above), or "" when it keeps it. what names the file in the message ("the tokens file
// /etc/pdi07310/tokens"), path in the fix it gives.
std::string PrivateFileFault(uid_t owner, mode_t mode, uid_t reader, const std::string& what,
                             const std::string& path);

// Reads the whole regular file at path, at most maxBytes, after checking the rule on the open file
// itself. Raises std::runtime_error naming it (what, as above) and saying why when it cannot be
// read, is not a regular file, breaks the rule or is larger than maxBytes.
std::string ReadPrivateFile(const std::string& path, const std::string& what, size_t maxBytes);

// Reads a file that holds nothing secret (a certificate), at most maxBytes. Raises
// std::runtime_error as ReadPrivateFile does.
std::string ReadPublicFile(const std::string& path, const std::string& what, size_t maxBytes);

}  // namespace server
