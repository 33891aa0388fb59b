#include "server/service/AnswerCompression.h"

#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <new>
#include <stdexcept>
#include <vector>

namespace server {

namespace {

constexpr int kZstdLevel = 1;
constexpr int kGzipLevel = 1;

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool SameWord(std::string_view a, std::string_view lower) {
  if (a.size() != lower.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const char c = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
    if (c != lower[i]) return false;
  }
  return true;
}

// Whether the parameters of one element of Accept-Encoding (";q=0.5") accept it: yes without a
// q-value or with one above zero; no for "q=0", "q=0.000" and anything unreadable.
bool Accepted(std::string_view parameters) {
  for (size_t at = 0; at < parameters.size();) {
    const size_t end = std::min(parameters.find(';', at), parameters.size());
    const std::string_view p = Trimmed(parameters.substr(at, end - at));
    at = end + 1;
    if (p.size() < 2 || (p[0] != 'q' && p[0] != 'Q') || p[1] != '=') continue;
    for (const char c : Trimmed(p.substr(2))) {
      if (c >= '1' && c <= '9') return true;
      if (c != '0' && c != '.') return false;
    }
    return false;
  }
  return true;
}

using Coder = CompressedStream::Coder;

class ZstdCoder final : public Coder {
 public:
  // threaded: compress on a helper thread of libzstd's, beside the caller producing the pieces.
  explicit ZstdCoder(bool threaded) : context_(ZSTD_createCCtx()) {
    if (context_ == nullptr) throw std::bad_alloc();
    ZSTD_CCtx_setParameter(context_, ZSTD_c_compressionLevel, kZstdLevel);
    // A library built without threads refuses the worker; it then compresses in the caller.
    if (threaded) ZSTD_CCtx_setParameter(context_, ZSTD_c_nbWorkers, 1);
    piece_.resize(ZSTD_CStreamOutSize());
  }
  ~ZstdCoder() override { ZSTD_freeCCtx(context_); }

  void Put(std::string_view data, bool last, std::string& out) override {
    ZSTD_inBuffer in{data.data(), data.size(), 0};
    for (;;) {
      ZSTD_outBuffer o{piece_.data(), piece_.size(), 0};
      const size_t left = ZSTD_compressStream2(context_, &o, &in, last ? ZSTD_e_end : ZSTD_e_continue);
      if (ZSTD_isError(left)) throw std::runtime_error(std::string("zstd: ") + ZSTD_getErrorName(left));
      out.append(piece_.data(), o.pos);
      // Continuing: done once the input is taken and the output had room (nothing more waits).
      if (last ? left == 0 : in.pos == in.size && o.pos < o.size) return;
    }
  }

 private:
  ZSTD_CCtx* context_;
  std::vector<char> piece_;
};

class GzipCoder final : public Coder {
 public:
  GzipCoder() {
    if (deflateInit2(&z_, kGzipLevel, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
      throw std::runtime_error("gzip: cannot start");
    }
    piece_.resize(64 * 1024);
  }
  ~GzipCoder() override { deflateEnd(&z_); }

  void Put(std::string_view data, bool last, std::string& out) override {
    z_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z_.avail_in = static_cast<uInt>(data.size());
    for (;;) {
      z_.next_out = reinterpret_cast<Bytef*>(piece_.data());
      z_.avail_out = static_cast<uInt>(piece_.size());
      const int status = deflate(&z_, last ? Z_FINISH : Z_NO_FLUSH);
      if (status == Z_STREAM_ERROR) throw std::runtime_error("gzip: compression failed");
      out.append(piece_.data(), piece_.size() - z_.avail_out);
      if (last ? status == Z_STREAM_END : (z_.avail_in == 0 && z_.avail_out != 0)) return;
    }
  }

 private:
  z_stream z_{};
  std::vector<char> piece_;
};

std::unique_ptr<Coder> MakeCoder(ContentCoding coding, bool threaded) {
  if (coding == ContentCoding::Zstd) return std::make_unique<ZstdCoder>(threaded);
  if (coding == ContentCoding::Gzip) return std::make_unique<GzipCoder>();
  throw std::logic_error("no coder for the identity coding");
}

}  // namespace

ContentCoding ChooseCoding(std::string_view acceptEncoding) {
  // Per coding: named with a q above 0, named with q 0, or not named (then "*" decides).
  enum class Said { Nothing, Yes, No };
  Said zstd = Said::Nothing, gzip = Said::Nothing, any = Said::Nothing;
  for (size_t at = 0; at < acceptEncoding.size();) {
    const size_t end = std::min(acceptEncoding.find(',', at), acceptEncoding.size());
    const std::string_view element = acceptEncoding.substr(at, end - at);
    at = end + 1;
    const size_t semicolon = std::min(element.find(';'), element.size());
    const std::string_view name = Trimmed(element.substr(0, semicolon));
    const Said said = Accepted(element.substr(semicolon)) ? Said::Yes : Said::No;
    if (SameWord(name, "zstd")) zstd = said;
    if (SameWord(name, "gzip") || SameWord(name, "x-gzip")) gzip = said;
    if (name == "*") any = said;
  }
  if (zstd == Said::Yes || (zstd == Said::Nothing && any == Said::Yes)) return ContentCoding::Zstd;
  if (gzip == Said::Yes || (gzip == Said::Nothing && any == Said::Yes)) return ContentCoding::Gzip;
  return ContentCoding::Identity;
}

const char* CodingName(ContentCoding coding) {
  switch (coding) {
    case ContentCoding::Zstd: return "zstd";
    case ContentCoding::Gzip: return "gzip";
    case ContentCoding::Identity: break;
  }
  return "";
}

std::string Compress(std::string_view body, ContentCoding coding) {
  std::string out;
  MakeCoder(coding, false)->Put(body, true, out);
  return out;
}

CompressedStream::CompressedStream(std::unique_ptr<ReplyStream> inner, ContentCoding coding)
    : inner_(std::move(inner)), coding_(coding) {
  if (coding_ == ContentCoding::Identity) throw std::logic_error("CompressedStream needs a coding");
}

CompressedStream::~CompressedStream() {
  // The coder's helper thread stops before the inner stream (and its snapshot) goes.
  coder_.reset();
  inner_.reset();
}

bool CompressedStream::Fill(std::string& out) {
  std::string piece;
  const bool more = inner_->Fill(piece);
  // The coder is made with the first piece: an answer of one piece is compressed here, a longer
  // one on the coder's helper thread, beside this one producing the next pieces.
  if (!coder_) coder_ = MakeCoder(coding_, more);
  out.clear();
  coder_->Put(piece, !more, out);
  return more;
}

}  // namespace server
