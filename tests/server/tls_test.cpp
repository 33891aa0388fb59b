// HTTPS on the server: with a certificate and key it answers over TLS only, verified by clients
// against the authority that signed it; plain HTTP on that port gets no answer; a key that does
// not match the certificate stops the server at start with a clear message; TLS 1.2 is offered
// with AEAD suites only.
#include <gtest/gtest.h>
#include <httplib.h>
#include <openssl/ssl.h>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>

#include <chrono>

#include "ServerTestSupport.h"
#include "tests/support/RawHttp.h"
#include "tests/support/ServerProcess.h"
#include "tests/support/TestCertificates.h"

namespace server::test {
namespace {

using testsupport::RawConnection;
using testsupport::RequestBytes;

class TlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    database_ = std::make_unique<TestDatabase>(StoreKind::Sqlite, dir_);
    const CommandResult r = RunServerCommand({"demo", "--db", database_->Location(), "--local", dir_.File("l.db"),
                                              "--products", "20", "--rows-per-product", "2"});
    ASSERT_EQ(r.status, 0) << r.output;
  }
  std::string Check() const {
    return host::wire::JsonRpcRequest::Write(1, "getVd_Produto", {host::wire::JsonRpcParam::Text("P000000001")});
  }

  testsupport::TestCertificates certs_;
  TempDir dir_;
  std::unique_ptr<TestDatabase> database_;
};

TEST_F(TlsTest, ServesVerifiedClientsOverTlsAndPlainHttpGetsNoAnswer) {
  ServerProcess process(ServerBinary(), database_->Location(),
                        {"--tls-cert", certs_.ServerCert(), "--tls-key", certs_.ServerKey(), "--head-timeout", "2"});
  EXPECT_NE(process.Log().find("listening on https://"), std::string::npos) << process.Log();

  httplib::SSLClient verified("localhost", process.Port());
  verified.set_ca_cert_path(certs_.CaCert());
  verified.enable_server_certificate_verification(true);
  for (int i = 0; i < 3; ++i) {  // kept alive over TLS
    const auto res = verified.Post(ServerProcess::Path(), Check(), "application/json");
    ASSERT_TRUE(res) << httplib::to_string(res.error()) << process.Log();
    EXPECT_EQ(res->status, 200);
    EXPECT_NE(res->body.find(R"("ok":true)"), std::string::npos) << res->body;
  }
  // A streamed load comes whole over TLS.
  const auto load = verified.Post(ServerProcess::Path(), host::wire::JsonRpcRequest::Write(2, "getDados", {}),
                                  "application/json");
  ASSERT_TRUE(load);
  EXPECT_EQ(ReadPackets(load->body.substr(load->body.find(R"("data":)") + 7,
                                          load->body.size() - load->body.find(R"("data":)") - 9))
                .size(),
            4u);

  httplib::SSLClient untrusted("localhost", process.Port());
  untrusted.set_ca_cert_path(certs_.UntrustedCaCert());
  untrusted.enable_server_certificate_verification(true);
  EXPECT_FALSE(untrusted.Get(ServerProcess::Path()));

  RawConnection plain(process.Port());
  ASSERT_TRUE(plain.Send(RequestBytes("POST", ServerProcess::Path(), Check())));
  const std::string answer = plain.ReadUntilClosed(std::chrono::seconds(10));
  EXPECT_EQ(answer.find("HTTP/"), std::string::npos) << answer;
  EXPECT_EQ(answer.find("ok"), std::string::npos);
  EXPECT_EQ(process.Stop(), 0);
}

// Whether a TLS 1.2 handshake offering only these cipher suites completes.
bool Handshakes(int port, const char* ciphers) {
  namespace net = boost::asio;
  net::io_context io;
  net::ssl::context context(net::ssl::context::tls_client);
  SSL_CTX_set_max_proto_version(context.native_handle(), TLS1_2_VERSION);
  SSL_CTX_set_cipher_list(context.native_handle(), ciphers);
  net::ssl::stream<net::ip::tcp::socket> stream(io, context);
  stream.lowest_layer().connect({net::ip::make_address("127.0.0.1"), static_cast<unsigned short>(port)});
  boost::system::error_code ec;
  stream.handshake(net::ssl::stream_base::client, ec);
  return !ec;
}

TEST_F(TlsTest, TlsTwelveOffersOnlyAeadSuites) {
  ServerProcess process(ServerBinary(), database_->Location(),
                        {"--tls-cert", certs_.ServerCert(), "--tls-key", certs_.ServerKey()});
  EXPECT_TRUE(Handshakes(process.Port(), "ECDHE-ECDSA-AES128-GCM-SHA256"));
  EXPECT_TRUE(Handshakes(process.Port(), "ECDHE-ECDSA-CHACHA20-POLY1305"));
  // CBC suites, whose padding has been attacked again and again, are not taken.
  EXPECT_FALSE(Handshakes(process.Port(), "ECDHE-ECDSA-AES128-SHA"));
  EXPECT_FALSE(Handshakes(process.Port(), "ECDHE-ECDSA-AES256-SHA384:ECDHE-ECDSA-AES128-SHA256"));
  EXPECT_EQ(process.Stop(), 0);
}

TEST_F(TlsTest, AKeyThatDoesNotMatchTheCertificateStopsTheStart) {
  const CommandResult r = RunServerCommand({"serve", "--db", database_->Location(), "--listen", "127.0.0.1:0",
                                            "--tls-cert", certs_.ServerCert(), "--tls-key", certs_.WrongNameKey()});
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("does not match the certificate"), std::string::npos) << r.output;
  const CommandResult alone =
      RunServerCommand({"serve", "--db", database_->Location(), "--tls-cert", certs_.ServerCert()});
  EXPECT_EQ(alone.status, 2) << alone.output;
  EXPECT_NE(alone.output.find("--tls-cert and --tls-key go together"), std::string::npos) << alone.output;
}

}  // namespace
}  // namespace server::test
