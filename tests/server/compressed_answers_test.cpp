// Compressed answers: the coding chosen from Accept-Encoding, a streamed answer compressed piece by
// piece (on a helper thread when it is long) decoding to exactly the plain answer, and, through the
// real server on each store, getDados answered compressed only to a client that asks.
#include <gtest/gtest.h>
#include <zlib.h>
#include <zstd.h>

#include <stdexcept>

#include "ServiceFixture.h"
#include "server/service/AnswerCompression.h"

namespace server::test {
namespace {

std::string Unzstd(const std::string& coded) {
  ZSTD_DCtx* context = ZSTD_createDCtx();
  std::string out;
  std::string piece(1 << 16, '\0');
  ZSTD_inBuffer in{coded.data(), coded.size(), 0};
  size_t left = 1;
  while (in.pos < in.size || left != 0) {
    ZSTD_outBuffer o{piece.data(), piece.size(), 0};
    left = ZSTD_decompressStream(context, &o, &in);
    if (ZSTD_isError(left) || (o.pos == 0 && in.pos == in.size && left != 0)) {
      out = "undecodable";
      break;
    }
    out.append(piece.data(), o.pos);
  }
  ZSTD_freeDCtx(context);
  return out;
}

std::string Ungzip(const std::string& coded) {
  z_stream z{};
  inflateInit2(&z, 16 + MAX_WBITS);
  std::string out;
  std::string piece(1 << 16, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(coded.data()));
  z.avail_in = static_cast<uInt>(coded.size());
  int status = Z_OK;
  while (status == Z_OK) {
    z.next_out = reinterpret_cast<Bytef*>(piece.data());
    z.avail_out = static_cast<uInt>(piece.size());
    status = inflate(&z, Z_NO_FLUSH);
    out.append(piece.data(), piece.size() - z.avail_out);
  }
  inflateEnd(&z);
  return status == Z_STREAM_END ? out : "undecodable";
}

std::string Decoded(const std::string& coded, const std::string& coding) {
  return coding == "zstd" ? Unzstd(coded) : coding == "gzip" ? Ungzip(coded) : coded;
}

TEST(AnswerCompression, TheCodingFollowsAcceptEncoding) {
  const std::pair<const char*, ContentCoding> cases[] = {
      {"", ContentCoding::Identity},
      {"identity", ContentCoding::Identity},
      {"br, deflate", ContentCoding::Identity},
      {"gzip, deflate, br, zstd", ContentCoding::Zstd},
      {"GZIP", ContentCoding::Gzip},
      {"x-gzip", ContentCoding::Gzip},
      {"zstd;q=0, gzip;q=0.5", ContentCoding::Gzip},
      {"zstd ; q=0.000, gzip;q=0", ContentCoding::Identity},
      {"*", ContentCoding::Zstd},
      {"*;q=0", ContentCoding::Identity},
      {"zstd;q=0, *", ContentCoding::Gzip},
      {"zstd;q=junk", ContentCoding::Identity},
  };
  for (const auto& [header, coding] : cases) EXPECT_EQ(ChooseCoding(header), coding) << header;
}

// n pieces of JSON-like text, then (when failAt >= 0) a storage failure at piece failAt.
class Pieces : public ReplyStream {
 public:
  Pieces(int n, int failAt = -1) : n_(n), failAt_(failAt) {}
  bool Fill(std::string& out) override {
    if (at_ == failAt_) throw std::runtime_error("store gone");
    out.clear();
    for (int i = 0; i < 2000; ++i) out += "[\"P" + std::to_string(at_ * 2000 + i) + "\",\"Fornecedor\"],";
    return ++at_ < n_;
  }
  std::string All() const {
    Pieces again(n_);
    std::string all, piece;
    for (bool more = true; more;) {
      more = again.Fill(piece);
      all += piece;
    }
    return all;
  }

 private:
  int n_, failAt_, at_ = 0;
};

TEST(AnswerCompression, StreamsDecodeToThePlainAnswerAndFailuresPassOn) {
  for (const ContentCoding coding : {ContentCoding::Zstd, ContentCoding::Gzip}) {
    for (const int n : {1, 80}) {  // one piece (compressed in the caller), and several megabytes
      CompressedStream stream(std::make_unique<Pieces>(n), coding);
      std::string coded, piece;
      for (bool more = true; more;) {
        more = stream.Fill(piece);
        coded += piece;
      }
      const std::string plain = Pieces(n).All();
      EXPECT_EQ(Decoded(coded, CodingName(coding)), plain) << CodingName(coding) << " " << n;
      EXPECT_LT(coded.size() * 5, plain.size());
      EXPECT_EQ(Decoded(Compress(plain, coding), CodingName(coding)), plain);
    }
    CompressedStream failing(std::make_unique<Pieces>(10, 3), coding);
    std::string piece;
    EXPECT_THROW(
        {
          for (int i = 0; i < 10; ++i) failing.Fill(piece);
        },
        std::runtime_error);
  }
}

class CompressedAnswersTest : public ServiceFixture {};
INSTANTIATE_TEST_SUITE_P(Stores, CompressedAnswersTest, ::testing::Values(StoreKind::Sqlite, StoreKind::Postgres),
                         StoreParamName());

TEST_P(CompressedAnswersTest, GetDadosIsCompressedOnlyForAClientThatAsks) {
  Save("SetFornecedor", SupplierFields(),
       {{host::wire::ChangeOp::Insert, SupplierRow("P1", "F1")}, {host::wire::ChangeOp::Insert, SupplierRow("P3", "F2")}});
  httplib::Client& http = rpc_->Http();
  http.set_decompress(false);
  const std::string request = R"({"jsonrpc":"2.0","id":7,"method":"getDados","params":[]})";
  const auto post = [&](const std::string& acceptEncoding) {
    httplib::Headers headers;
    if (!acceptEncoding.empty()) headers.emplace("Accept-Encoding", acceptEncoding);
    return http.Post(ServerProcess::Path(), headers, request, "application/json");
  };
  const auto plain = post("");
  ASSERT_TRUE(plain);
  ASSERT_EQ(plain->status, 200);
  EXPECT_FALSE(plain->has_header("Content-Encoding"));
  EXPECT_NE(plain->body.find("\"ok\":true"), std::string::npos);
  for (const auto& [asked, coding] : std::vector<std::pair<std::string, std::string>>{
           {"zstd, gzip", "zstd"}, {"gzip, deflate, br", "gzip"}, {"gzip;q=0, identity", ""}}) {
    const auto answer = post(asked);
    ASSERT_TRUE(answer) << asked;
    EXPECT_EQ(answer->get_header_value("Content-Encoding"), coding) << asked;
    EXPECT_EQ(Decoded(answer->body, coding), plain->body) << asked;
    if (!coding.empty()) {
      EXPECT_EQ(answer->get_header_value("Vary"), "Accept-Encoding");
    }
  }
  // A small whole answer is not worth compressing.
  httplib::Headers headers{{"Accept-Encoding", "zstd"}};
  const auto small = http.Post(ServerProcess::Path(), headers,
                               R"({"jsonrpc":"2.0","id":8,"method":"nope","params":[]})", "application/json");
  ASSERT_TRUE(small);
  EXPECT_FALSE(small->has_header("Content-Encoding"));
  EXPECT_NE(small->body.find("-32601"), std::string::npos);
}

}  // namespace
}  // namespace server::test
