// LocalDatabaseDownload brings a desktop's local read-only database up to date from the
// application server: GET "/" + ServerName + "/local.db", with If-None-Match carrying the ETag of
// the copy it holds (kept beside it in LOCAL.etag), so an unchanged copy costs one small answer.
// A new copy is written beside the old one (LOCAL.new), checked (SQLite opens it and it holds the
// tables PRODUTO, FORNECEDOR, CLIENTE and FILIAL with their columns), flushed to disk and only then
// renamed over the old one, so the file the screens read is always a whole, valid copy.
//
// Refresh never raises: when the server cannot be reached, refuses the token, or sends something
// that is not a valid copy, the old copy stays and the result carries one message (in Portuguese)
// for the host to show the user once. Every wait has a deadline and the body a size cap.
//
// Access: the request carries "Authorization: Bearer TOKEN" with the given token, or, when it is
// empty, the host's (Services().AccessToken()), as TNetConnection does.
//
// Stateless between calls; one call at a time per local path. Intentionally copyable.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace host {

struct LocalDatabaseRefresh {
  enum class Outcome { Updated, Unchanged, Failed };
  Outcome outcome = Outcome::Failed;
  std::string message;  // for the user when Failed; a short note otherwise
};

class LocalDatabaseDownload {
 public:
  LocalDatabaseDownload(std::string host, int port, std::string serverName, std::string accessToken = {});

  void SetTimeout(std::chrono::milliseconds timeout) { timeout_ = timeout; }
  void SetMaxBytes(size_t maxBytes) { maxBytes_ = maxBytes; }

  // Updates the file at localPath from the server (see above). Never raises.
  LocalDatabaseRefresh Refresh(const std::string& localPath) const;

  // Empty when the file at path is a usable local database, else why not (Portuguese).
  static std::string CheckLocalDatabase(const std::string& path);

 private:
  std::string host_;
  int port_;
  std::string serverName_;
  std::string accessToken_;
  std::chrono::milliseconds timeout_{60000};
  size_t maxBytes_ = size_t{4} << 30;
};

}  // namespace host
