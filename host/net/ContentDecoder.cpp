#include "host/net/ContentDecoder.h"

#include <zlib.h>
#include <zstd.h>

namespace host {

namespace {

// The largest zstd window accepted, as a power of two (16 MiB).
constexpr int kMostWindowLog = 24;

std::string Lower(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (c == ' ' || c == '\t') continue;
    out += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  }
  return out;
}

}  // namespace

struct ContentDecoder::Zstd {
  Zstd() : context(ZSTD_createDStream()) {}
  ~Zstd() { ZSTD_freeDStream(context); }
  ZSTD_DStream* context;
};

struct ContentDecoder::Gzip {
  Gzip() { ready = inflateInit2(&stream, 16 + MAX_WBITS) == Z_OK; }
  ~Gzip() {
    if (ready) inflateEnd(&stream);
  }
  z_stream stream{};
  bool ready = false;
};

std::optional<ContentDecoder::Coding> ContentDecoder::Named(std::string_view contentEncoding) {
  const std::string name = Lower(contentEncoding);
  if (name.empty() || name == "identity") return Coding::Identity;
  if (name == "zstd") return Coding::Zstd;
  if (name == "gzip" || name == "x-gzip") return Coding::Gzip;
  return std::nullopt;
}

ContentDecoder::ContentDecoder(Coding coding) : coding_(coding) {
  if (coding_ == Coding::Identity) {
    midStream_ = false;
    return;
  }
  piece_.resize(kPieceBytes);
  if (coding_ == Coding::Zstd) {
    zstd_ = std::make_unique<Zstd>();
    if (zstd_->context == nullptr ||
        ZSTD_isError(ZSTD_DCtx_setParameter(zstd_->context, ZSTD_d_windowLogMax, kMostWindowLog))) {
      Fail("não foi possível preparar a descompressão zstd");
    }
  } else {
    gzip_ = std::make_unique<Gzip>();
    if (!gzip_->ready) Fail("não foi possível preparar a descompressão gzip");
  }
}

ContentDecoder::~ContentDecoder() = default;

bool ContentDecoder::Fail(std::string why) {
  if (failure_.empty()) failure_ = std::move(why);
  stopped_ = true;
  return false;
}

bool ContentDecoder::Hand(const Sink& sink, std::size_t bytes) {
  if (bytes == 0 || sink(std::string_view(piece_.data(), bytes))) return true;
  stopped_ = true;
  return false;
}

bool ContentDecoder::Feed(std::string_view coded, const Sink& sink) {
  if (stopped_) return false;
  if (coding_ == Coding::Identity) {
    if (!coded.empty() && !sink(coded)) stopped_ = true;
    return !stopped_;
  }
  if (coding_ == Coding::Zstd) {
    ZSTD_inBuffer in{coded.data(), coded.size(), 0};
    bool full = false;  // the last output filled its piece: more may wait inside the decoder
    while (in.pos < in.size || full) {
      ZSTD_outBuffer out{piece_.data(), piece_.size(), 0};
      const std::size_t left = ZSTD_decompressStream(zstd_->context, &out, &in);
      if (ZSTD_isError(left)) return Fail(std::string("resposta zstd inválida: ") + ZSTD_getErrorName(left));
      // 0: a frame ended and all of it was handed out; another frame may follow.
      midStream_ = left != 0;
      if (!Hand(sink, out.pos)) return false;
      full = out.pos == out.size;
    }
    return true;
  }
  z_stream& z = gzip_->stream;
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(coded.data()));
  z.avail_in = static_cast<uInt>(coded.size());
  for (;;) {
    // Bytes after the end of a gzip member: another member, as gzip allows.
    if (!midStream_ && z.avail_in > 0) {
      inflateReset(&z);
      midStream_ = true;
    }
    z.next_out = reinterpret_cast<Bytef*>(piece_.data());
    z.avail_out = static_cast<uInt>(piece_.size());
    const int status = inflate(&z, Z_NO_FLUSH);
    if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) {
      return Fail(std::string("resposta gzip inválida: ") + (z.msg != nullptr ? z.msg : "dados corrompidos"));
    }
    if (status == Z_STREAM_END) midStream_ = false;
    const std::size_t produced = piece_.size() - z.avail_out;
    if (!Hand(sink, produced)) return false;
    if (z.avail_out == 0) continue;  // the piece was filled: more may wait inside
    if (z.avail_in == 0 || status == Z_BUF_ERROR) return true;
  }
}

bool ContentDecoder::Finish() {
  if (stopped_) return false;
  if (midStream_) return Fail("a resposta comprimida terminou antes do fim dos dados");
  return true;
}

}  // namespace host
