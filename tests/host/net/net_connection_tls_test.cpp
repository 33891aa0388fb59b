// The connection over TLS: a "https://" host is verified against the CA file (the connection's or
// the host's) or the system store and must carry the server's name or address; an unverified
// server fails with a clear message before any request reaches it; a token never travels in clear
// to a server that is not on loopback unless that is explicitly allowed.
#include <gtest/gtest.h>

#include <memory>

#include "TestCertificates.h"
#include "host/net/NetConnection.h"
#include "host/services/HostLib.h"
#include "host/services/ScriptedHost.h"
#include "host/wire/ServiceName.h"
#include "tests/host/net/StubService.h"

namespace host {
namespace {

// The service over TLS with the given certificate, or in plain HTTP.
testsupport::StubService::Options Tls(const std::string& cert, const std::string& key) { return {cert, key, {}}; }

class NetConnectionTlsTest : public ::testing::Test {
 protected:
  // One set of certificates for the whole suite: openssl takes a moment.
  static void SetUpTestSuite() { certs_ = new testsupport::TestCertificates(); }
  static void TearDownTestSuite() {
    delete certs_;
    certs_ = nullptr;
  }
  ~NetConnectionTlsTest() override { SetHostServices(nullptr); }

  // A connection to host:port of the service, with connect and read deadlines.
  std::unique_ptr<TNetConnection> Connection(const std::string& hostName, int port) {
    auto net = std::make_unique<TNetConnection>();
    net->SetServerName(std::string(wire::kServiceName));
    net->SetHost(hostName);
    net->SetPort(port);
    net->SetConnectTimeout(std::chrono::milliseconds(2000));
    net->SetReadTimeout(std::chrono::milliseconds(10000));
    return net;
  }
  // The message of the ENetError that calling raises, or "no error".
  static std::string Failure(TNetConnection& net) {
    try {
      net.Call("authorization", {});
    } catch (const ENetError& e) {
      return e.what();
    }
    return "no error";
  }

  static testsupport::TestCertificates* certs_;
  ScriptedHost host_;
};
testsupport::TestCertificates* NetConnectionTlsTest::certs_ = nullptr;

TEST_F(NetConnectionTlsTest, AVerifiedServerIsCalledByAddressOrByName) {
  testsupport::StubService server(Tls(certs_->ServerCert(), certs_->ServerKey()));
  for (const std::string name : {"https://127.0.0.1", "https://localhost", "HTTPS://localhost/"}) {
    auto net = Connection(name, server.Port());
    net->SetCaFile(certs_->CaCert());
    net->SetAccessToken("tok-0123456789abcdef");
    EXPECT_EQ(net->Call("authorization", {}).AsText(), R"({"ok":true,"data":"Bearer tok-0123456789abcdef"})") << name;
  }
  // Without a CA file of its own, the connection takes the host's.
  host_.SetCaFile(certs_->CaCert());
  SetHostServices(&host_);
  auto net = Connection("https://127.0.0.1", server.Port());
  EXPECT_EQ(net->Call("authorization", {}).AsText(), R"({"ok":true,"data":""})");
}

TEST_F(NetConnectionTlsTest, AnUnverifiedServerIsRefusedBeforeAnyRequestReachesIt) {
  testsupport::StubService server(Tls(certs_->ServerCert(), certs_->ServerKey()));
  const std::string prefix = "Falha ao conectar ao serviço " + std::string(wire::kServiceName) + " em https://127.0.0.1:" +
                             std::to_string(server.Port()) + ": o servidor não pôde ser verificado: ";

  auto untrusted = Connection("https://127.0.0.1", server.Port());
  untrusted->SetCaFile(certs_->UntrustedCaCert());
  untrusted->SetAccessToken("tok-0123456789abcdef");
  EXPECT_EQ(Failure(*untrusted), prefix + "o certificado não foi emitido por uma autoridade confiável (o arquivo de CA " +
                                     certs_->UntrustedCaCert() + "); conexão recusada");
  EXPECT_FALSE(untrusted->Connected());

  // The system's store does not know the test CA.
  auto system = Connection("https://127.0.0.1", server.Port());
  EXPECT_EQ(Failure(*system), prefix +
                                  "o certificado não foi emitido por uma autoridade confiável (as autoridades "
                                  "certificadoras do sistema); conexão recusada");
  EXPECT_EQ(server.Requests(), 0);
}

TEST_F(NetConnectionTlsTest, ACertificateForAnotherNameIsRefused) {
  testsupport::StubService server(Tls(certs_->WrongNameCert(), certs_->WrongNameKey()));
  for (const std::string name : {"https://127.0.0.1", "https://localhost"}) {
    auto net = Connection(name, server.Port());
    net->SetCaFile(certs_->CaCert());
    const std::string message = Failure(*net);
    EXPECT_NE(message.find("o servidor não pôde ser verificado: o certificado não é deste nome ou endereço"),
              std::string::npos)
        << message;
  }
  EXPECT_EQ(server.Requests(), 0);
}

TEST_F(NetConnectionTlsTest, MismatchedProtocolsAndAMissingCaFileFailWithAMessage) {
  testsupport::StubService tls(Tls(certs_->ServerCert(), certs_->ServerKey()));
  testsupport::StubService plain;
  auto toPlain = Connection("https://127.0.0.1", plain.Port());
  toPlain->SetCaFile(certs_->CaCert());
  EXPECT_NE(Failure(*toPlain).find("falha na negociação TLS"), std::string::npos);
  auto toTls = Connection("127.0.0.1", tls.Port());
  EXPECT_NE(Failure(*toTls).find("Falha ao conectar"), std::string::npos);
  auto noCa = Connection("https://127.0.0.1", tls.Port());
  noCa->SetCaFile(certs_->Folder().string() + "/missing.pem");
  EXPECT_NE(Failure(*noCa).find(": não foi possível ler o arquivo de CA " + certs_->Folder().string() + "/missing.pem"),
            std::string::npos)
      << Failure(*noCa);
  EXPECT_EQ(tls.Requests(), 0);
  EXPECT_EQ(plain.Requests(), 0);
}

TEST_F(NetConnectionTlsTest, ATokenGoesInClearOnlyToLoopbackOrWhenExplicitlyAllowed) {
  testsupport::StubService plain;
  for (const std::string name : {"127.0.0.1", "http://localhost", "127.0.0.1/"}) {
    auto net = Connection(name, plain.Port());
    net->SetAccessToken("tok-0123456789abcdef");
    EXPECT_EQ(net->Call("authorization", {}).AsText(), R"({"ok":true,"data":"Bearer tok-0123456789abcdef"})") << name;
  }

  // 192.0.2.1 is reserved for documentation: nothing answers there.
  auto remote = Connection("192.0.2.1", 8470);
  remote->SetConnectTimeout(std::chrono::milliseconds(300));
  remote->SetAccessToken("tok-0123456789abcdef");
  EXPECT_EQ(Failure(*remote),
            "Falha ao chamar authorization em 192.0.2.1:8470: o token de acesso não é "
            "enviado sem criptografia a um servidor fora desta máquina; use https:// no endereço do servidor ou "
            "permita explicitamente a conexão insegura (--insecure)");
  // Allowed by the connection or by the host, it is tried (and fails for want of a server).
  remote->SetInsecure(true);
  EXPECT_EQ(Failure(*remote).find("sem criptografia"), std::string::npos);
  remote->SetInsecure(false);
  host_.SetInsecure(true);
  SetHostServices(&host_);
  EXPECT_EQ(Failure(*remote).find("sem criptografia"), std::string::npos);
  // Without a token there is nothing to protect.
  SetHostServices(nullptr);
  remote->SetAccessToken("");
  EXPECT_EQ(Failure(*remote).find("sem criptografia"), std::string::npos);
}

}  // namespace
}  // namespace host
