// ContentDecoder undoes the content coding of an answer body (Content-Encoding: zstd or gzip)
// while its bytes arrive, handing the decoded bytes on piece by piece, so that a compressed answer
// is decoded as it streams in, as a plain one is, and is never held whole, coded or decoded.
//
// Promises: a body that is not what its coding says (a damaged frame, bytes after the end of the
// coded data, a body cut before its end, an empty body) is a failure with a reason in Portuguese.
// Memory is bounded whatever the body: decoded bytes go out in pieces of at most kPieceBytes (the
// receiver caps their total: a small body decoding to gigabytes is stopped there), and a zstd
// frame asking for a window over 16 MiB is refused (the server's are under 1 MiB).
//
// Thread rules: one decoder per answer, used by one thread at a time. Not copyable or movable.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace host {

class ContentDecoder {
 public:
  enum class Coding { Identity, Zstd, Gzip };
  // The value of Accept-Encoding a client sends to receive the codings decoded here.
  static constexpr const char* kAccepted = "zstd, gzip";
  // The largest piece handed to the sink at once.
  static constexpr std::size_t kPieceBytes = 256 * 1024;

  // The coding a Content-Encoding value names ("" or "identity": identity), or nothing for a
  // coding not decoded here.
  static std::optional<Coding> Named(std::string_view contentEncoding);

  explicit ContentDecoder(Coding coding);
  ~ContentDecoder();
  ContentDecoder(const ContentDecoder&) = delete;
  ContentDecoder& operator=(const ContentDecoder&) = delete;

  // Where decoded bytes go; returning false stops the decoding (Feed then returns false, without
  // a failure of its own).
  using Sink = std::function<bool(std::string_view decoded)>;

  // Decodes the next coded bytes. Returns false when they are malformed (Failure() says why) or
  // the sink stopped; later calls do nothing and return false.
  bool Feed(std::string_view coded, const Sink& sink);
  // The body has ended: false (Failure() says why) when the coded data did not end with it.
  bool Finish();
  // What is wrong with the coded body; "" when nothing.
  const std::string& Failure() const { return failure_; }

 private:
  struct Zstd;
  struct Gzip;
  bool Fail(std::string why);
  bool Hand(const Sink& sink, std::size_t bytes);

  Coding coding_;
  std::unique_ptr<Zstd> zstd_;
  std::unique_ptr<Gzip> gzip_;
  std::vector<char> piece_;
  bool stopped_ = false;
  bool midStream_ = true;  // coded data not yet ended (nothing is not a whole coded body)
  std::string failure_;
};

}  // namespace host
