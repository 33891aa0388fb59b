// PageFiles is the browser client as the server serves it under "/": the files of one folder
// (the page as scripts/build-web.sh writes it, installed beside the server), read once at start
// and kept in memory (a few megabytes), each answered with the page's security headers:
//
// - a content-hashed name (NAME.HASH.EXT, HASH 12 hex digits) never changes its bytes, so it is
//   sent with Cache-Control "public, max-age=31536000, immutable";
// - every other file (index.html, which names the hashed ones) with "no-cache" and an ETag, so a
//   browser revalidates it on every load and gets 304 while it is unchanged;
// - on every file: a Content-Security-Policy without inline script or style and with
//   frame-ancestors 'none', X-Content-Type-Options: nosniff, Referrer-Policy: no-referrer and
//   Cross-Origin-Opener-Policy: same-origin.
//
// A file NAME.gz beside NAME is NAME's gzip copy (the build writes one for each file): it is sent
// instead, with Content-Encoding: gzip, to a request that accepts gzip, and it is not served under
// its own name. Answers of a file that has one carry Vary: Accept-Encoding.
//
// The page needs no access token (it holds no data; the sign-in form is part of it): the service's
// own routes keep theirs.
//
// Immutable after Load; thread-safe. Intentionally not copyable (shared by pointer).
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace server {

class PageFiles {
 public:
  using Headers = std::vector<std::pair<std::string, std::string>>;

  struct Answer {
    int status = 200;  // 200, or 304 for an unchanged file the client holds
    Headers headers;   // Content-Type, Cache-Control, ETag (unhashed files) and the security headers
    std::shared_ptr<const std::string> body;  // the file's bytes (also for 304: empty then)
  };

  // Reads every regular file directly in folder. Raises std::runtime_error naming the folder when
  // it cannot be read or holds no index.html.
  static std::shared_ptr<const PageFiles> Load(const std::filesystem::path& folder);

  // The answer to a GET or HEAD of target (a query string is ignored; "/" is index.html), given the
  // request's If-None-Match and Accept-Encoding (empty when none); nullopt when target names none
  // of the files.
  std::optional<Answer> Get(std::string_view target, std::string_view ifNoneMatch,
                            std::string_view acceptEncoding = {}) const;
  // True when an Accept-Encoding value takes gzip (listed, or "*", without q=0).
  static bool AcceptsGzip(std::string_view acceptEncoding);

  // The headers every page file carries.
  static const Headers& SecurityHeaders();
  // True for NAME.HASH.EXT with HASH 12 lower-case hex digits.
  static bool IsHashedName(std::string_view name);

  PageFiles(const PageFiles&) = delete;
  PageFiles& operator=(const PageFiles&) = delete;

 private:
  PageFiles() = default;

  struct Variant {
    std::shared_ptr<const std::string> bytes;
    std::string etag;  // quoted; empty for hashed names
  };
  struct File {
    Variant plain;
    std::optional<Variant> gzip;
    std::string type;
    bool hashed = false;
  };
  std::map<std::string, File, std::less<>> files_;
};

}  // namespace server
