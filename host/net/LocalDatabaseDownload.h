// LocalDatabaseDownload brings a desktop's local read-only database up to date from the
// application server: GET "/" + ServerName + "/local.db", with If-None-Match carrying the ETag of
// the copy it holds (kept beside it in LOCAL.etag), so an unchanged copy costs one small answer.
// A new copy is written beside the old one (LOCAL.new), checked (SQLite opens it and it holds the
// tables PRODUTO, FORNECEDOR, CLIENTE and FILIAL with their columns), flushed to disk and only then
// renamed over the old one, so the file the screens read is always a whole, valid copy.
//
// The exchange goes through the connection's transport (HttpTransport), with TNetConnection's
// rules: a host "https://NAME" is reached over TLS, the server's certificate verified against the
// CA file (the download's, else the host's Services().CaFile(), else the system's store) and
// required to name NAME; over plain HTTP the access token goes only to a loopback address unless
// the download or the host allows it (Insecure). Failures are told in the transport's words.
//
// Refresh never raises: when the server cannot be reached, refuses the token, or sends something
// that is not a valid copy, the result carries one message (in Portuguese) for the host to show
// the user once, saying what happened and what is left: the old copy, still in use, or no copy
// at all. Every wait has a deadline and the body a size cap.
//
// Access: the request carries "Authorization: Bearer TOKEN" with the given token, or, when it is
// empty, the host's (Services().AccessToken()), as TNetConnection does.
//
// Stateless between calls; one call at a time per local path. Intentionally copyable.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>

namespace host {

class HttpTransport;

struct LocalDatabaseRefresh {
  enum class Outcome { Updated, Unchanged, Failed };
  Outcome outcome = Outcome::Failed;
  std::string message;  // for the user when Failed; a short note otherwise
};

// Gives up a Refresh under way from another thread: its exchange ends at once, as a broken
// connection would, and Refresh returns Failed leaving the local copy as it was. A Refresh begun
// after Cancel fails at once. Thread-safe; not copyable (share it by pointer).
class DownloadCanceller {
 public:
  DownloadCanceller() = default;
  DownloadCanceller(const DownloadCanceller&) = delete;
  DownloadCanceller& operator=(const DownloadCanceller&) = delete;

  void Cancel();
  bool Canceled() const;

 private:
  friend class LocalDatabaseDownload;
  // Registers the transport of the Refresh under way (null when it ends); false when already
  // cancelled.
  bool Attach(HttpTransport* transport);

  mutable std::mutex mutex_;
  bool canceled_ = false;
  HttpTransport* transport_ = nullptr;
};

class LocalDatabaseDownload {
 public:
  // host: "NAME", "http://NAME" or "https://NAME" (TLS), as TNetConnection's Host.
  LocalDatabaseDownload(std::string host, int port, std::string serverName, std::string accessToken = {});

  void SetTimeout(std::chrono::milliseconds timeout) { timeout_ = timeout; }
  void SetMaxBytes(size_t maxBytes) { maxBytes_ = maxBytes; }
  // The CA file (PEM) for a TLS server; "" (the default) takes the host's, then the system's.
  void SetCaFile(std::string path) { caFile_ = std::move(path); }
  // Allows the access token over plain HTTP to a server that is not on loopback.
  void SetInsecure(bool insecure) { insecure_ = insecure; }

  // Updates the file at localPath from the server (see above). Never raises. cancel (optional)
  // may end it from another thread.
  LocalDatabaseRefresh Refresh(const std::string& localPath, DownloadCanceller* cancel = nullptr) const;

  // Empty when the file at path is a usable local database, else why not (Portuguese).
  static std::string CheckLocalDatabase(const std::string& path);

 private:
  std::string host_;
  int port_;
  std::string serverName_;
  std::string accessToken_;
  std::string caFile_;
  bool insecure_ = false;
  std::chrono::milliseconds timeout_{60000};
  size_t maxBytes_ = size_t{4} << 30;
};

}  // namespace host
