// AnswerCompression compresses answers for the clients that ask for it (Accept-Encoding): zstd,
// which our own clients ask for, else gzip (browsers and other HTTP clients), chosen from the
// request's header. A streamed answer is compressed piece by piece while it is produced
// (CompressedStream), never held whole. A long zstd answer is compressed on a helper thread of
// libzstd's beside the one producing the pieces, so that on a fast link (loopback) it costs little
// more time than sent plain. Levels are chosen for throughput: zstd 1 and gzip 1 (our lists come
// to about a tenth of their plain size at either).
//
// Thread rules: ChooseCoding, CodingName and Compress are stateless; a CompressedStream is used by
// one thread at a time (its helper thread is its own). Not copyable.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "server/service/ReplyStream.h"

namespace server {

enum class ContentCoding { Identity, Zstd, Gzip };

// The coding to answer in for an Accept-Encoding header: zstd when the client accepts it, else
// gzip when it accepts that, else none. q-values are honoured ("gzip;q=0" refuses gzip); "*"
// stands for any coding not named. A request without the header gets identity.
ContentCoding ChooseCoding(std::string_view acceptEncoding);

// The Content-Encoding header's value for a coding ("" for identity).
const char* CodingName(ContentCoding coding);

// body compressed whole. REQUIRES: coding is not Identity.
std::string Compress(std::string_view body, ContentCoding coding);

// Whole answers smaller than this are sent plain: compressing them saves less than it costs.
inline constexpr size_t kSmallestCompressed = 1024;

// A streamed answer compressed while it streams: each Fill hands out the compressed bytes of what
// the inner stream produced so far (possibly none for a piece); the last Fill ends the coded
// data. A failure of the inner stream passes on unchanged. Destroying it stops its helper thread,
// then destroys the inner stream (ending its read snapshot).
class CompressedStream : public ReplyStream {
 public:
  // REQUIRES: coding is not Identity.
  CompressedStream(std::unique_ptr<ReplyStream> inner, ContentCoding coding);
  ~CompressedStream() override;

  bool Fill(std::string& out) override;

  // What compresses the pieces: each piece put in turn, the last one ending the coded data; the
  // coded bytes are appended to out.
  class Coder {
   public:
    virtual ~Coder() = default;
    virtual void Put(std::string_view in, bool last, std::string& out) = 0;
  };

 private:
  std::unique_ptr<ReplyStream> inner_;
  ContentCoding coding_;
  std::unique_ptr<Coder> coder_;
};

}  // namespace server
