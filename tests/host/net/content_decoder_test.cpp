// Compressed answers: zstd and gzip bodies decoded as they arrive in pieces cut anywhere, and what
// is refused: damaged or cut data, bytes after its end, codings not asked for, and a small body
// that decodes to more than the answer cap.
#include <gtest/gtest.h>
#include <zlib.h>
#include <zstd.h>

#include <string>

#include "host/net/ContentDecoder.h"
#include "host/net/HttpTransport.h"
#include "host/net/NetConnection.h"
#include "host/wire/ServiceName.h"
#include "tests/support/RawHttpStub.h"

namespace host {
namespace {

using Coding = ContentDecoder::Coding;

std::string Zstd(const std::string& text, int level = 1) {
  std::string out(ZSTD_compressBound(text.size()), '\0');
  out.resize(ZSTD_compress(out.data(), out.size(), text.data(), text.size(), level));
  return out;
}

std::string Gzip(const std::string& text) {
  z_stream z{};
  deflateInit2(&z, 1, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, text.size()), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  z.avail_in = static_cast<uInt>(text.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// Decodes coded in pieces of `piece` bytes; returns the text, or "failed: WHY".
std::string Decode(Coding coding, const std::string& coded, size_t piece) {
  ContentDecoder decoder(coding);
  std::string out;
  for (size_t at = 0; at < coded.size(); at += piece) {
    if (!decoder.Feed(std::string_view(coded).substr(at, piece), [&](std::string_view d) {
          out.append(d);
          return true;
        })) {
      return "failed: " + decoder.Failure();
    }
  }
  if (!decoder.Finish()) return "failed: " + decoder.Failure();
  return out;
}

bool Failed(const std::string& decoded) { return decoded.rfind("failed: ", 0) == 0; }

// Over a megabyte: the decoded pieces fill the decoder's buffer several times over.
std::string Sample() {
  std::string text;
  for (int i = 0; i < 60000; ++i) text += R"(["P)" + std::to_string(i % 977) + R"(","Fornecedor São José",")" + std::to_string(i) + "\"],";
  return text;
}

TEST(ContentDecoderTest, BodiesDecodeWhateverTheirPiecesAndFrames) {
  const std::string text = Sample();
  EXPECT_EQ(Decode(Coding::Zstd, Zstd(text.substr(0, 3000)), 1), text.substr(0, 3000));
  EXPECT_EQ(Decode(Coding::Gzip, Gzip(text.substr(0, 3000)), 1), text.substr(0, 3000));
  for (const size_t piece : {size_t{7}, size_t{4096}, size_t{1} << 22}) {
    EXPECT_EQ(Decode(Coding::Zstd, Zstd(text), piece), text) << piece;
    EXPECT_EQ(Decode(Coding::Gzip, Gzip(text), piece), text) << piece;
  }
  // Several frames (members) one after the other are one body, as the codings allow.
  EXPECT_EQ(Decode(Coding::Zstd, Zstd("abc") + Zstd("def", 3), 5), "abcdef");
  EXPECT_EQ(Decode(Coding::Gzip, Gzip("abc") + Gzip("def"), 5), "abcdef");
  EXPECT_EQ(Decode(Coding::Identity, "plain", 2), "plain");
}

TEST(ContentDecoderTest, DamagedCutEmptyOrTrailingDataFails) {
  const std::string text = Sample();
  for (const Coding coding : {Coding::Zstd, Coding::Gzip}) {
    const std::string coded = coding == Coding::Zstd ? Zstd(text) : Gzip(text);
    EXPECT_TRUE(Failed(Decode(coding, coded.substr(0, coded.size() / 2), 999)));
    EXPECT_TRUE(Failed(Decode(coding, coded.substr(0, coded.size() - 1), 999)));
    EXPECT_TRUE(Failed(Decode(coding, "", 999)));
    EXPECT_TRUE(Failed(Decode(coding, coded + "garbage", 999)));
    std::string damaged = coded;
    damaged[damaged.size() / 3] ^= 0x5a;
    damaged[damaged.size() / 3 + 1] ^= 0x33;
    EXPECT_NE(Decode(coding, damaged, 999), text);
  }
  EXPECT_EQ(ContentDecoder::Named(" GZip"), Coding::Gzip);
  EXPECT_EQ(ContentDecoder::Named(""), Coding::Identity);
  EXPECT_FALSE(ContentDecoder::Named("br").has_value());
}

// A call's answer sent as the server of the test chooses: head fields, then the body.
struct CodedServer {
  std::string encoding;  // the Content-Encoding sent ("" none)
  std::string body;      // the body, already coded
  std::string asked{};   // the Accept-Encoding of the last call
  testsupport::RawHttpStub stub{[this](int fd, const std::string& head, const std::string&) {
    const size_t at = head.find("Accept-Encoding: ");
    asked = at == std::string::npos ? "" : head.substr(at + 17, head.find("\r\n", at) - at - 17);
    const std::string fields = encoding.empty() ? "" : "Content-Encoding: " + encoding + "\r\n";
    return stub.Send(fd, "HTTP/1.1 200 OK\r\n" + fields + "Content-Length: " + std::to_string(body.size()) +
                             "\r\n\r\n" + body);
  }};
};

// Calls getDados on server; returns its data, or "failed: " and the message.
std::string Call(CodedServer& server, std::uint64_t cap = TNetConnection::kDefaultMaxAnswerBytes) {
  TNetConnection net{"netProdDeso"};
  net.SetHost("127.0.0.1");
  net.SetPort(server.stub.Port());
  net.SetServerName(std::string(wire::kServiceName));
  net.SetMaxAnswerBytes(cap);
  try {
    return net.Call("getDados", {}).AsText();
  } catch (const ENetError& e) {
    return std::string("failed: ") + e.what();
  }
}

TEST(ContentDecoderTest, CallsAskForCompressedAnswersDecodeThemAndCapWhatTheyDecodeTo) {
  const std::string answer = R"({"jsonrpc":"2.0","id":1,"result":{"ok":true,"data":"compressed"}})";
  CodedServer server{"zstd", Zstd(answer)};
  EXPECT_EQ(Call(server), R"({"ok":true,"data":"compressed"})");
  EXPECT_EQ(server.asked, ContentDecoder::kAccepted);
  server.encoding = "gzip";
  server.body = Gzip(answer);
  EXPECT_EQ(Call(server), R"({"ok":true,"data":"compressed"})");

  // 64 MiB of blanks inside the answer are a few kilobytes coded: the cap holds for what they
  // decode to, and decoding stops there.
  server.encoding = "zstd";
  server.body = Zstd(answer.substr(0, answer.size() - 2) + std::string(64 << 20, ' ') + "}}", 3);
  EXPECT_NE(Call(server, 1 << 20).find("excede o limite de 1048576 bytes"), std::string::npos);

  server.body = Zstd(answer);
  server.body.resize(server.body.size() - 3);
  EXPECT_NE(Call(server).find("terminou antes do fim"), std::string::npos);
  server.encoding = "br";
  EXPECT_NE(Call(server).find("codificação \"br\""), std::string::npos);

  HttpTransport::SetCompressedAnswers(false);
  server.encoding.clear();
  server.body = answer;
  EXPECT_EQ(Call(server), R"({"ok":true,"data":"compressed"})");
  EXPECT_EQ(server.asked, "identity");
  HttpTransport::SetCompressedAnswers(true);
}

}  // namespace
}  // namespace host
