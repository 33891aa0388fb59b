#include "server/http/TlsContext.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <stdexcept>
#include <string>

#include "server/http/PrivateFile.h"

namespace server::edge {
namespace {

// Certificates and keys larger than this are not PEM files of a server.
constexpr size_t kMostPemBytes = 1 << 20;

// OpenSSL's own words for a failure (asio says only "asio.ssl error" for most of them).
std::string OpenSslReason(const boost::system::error_code& ec) {
  if (ec.category() != boost::asio::error::get_ssl_category()) return ec.message();
  char text[256];
  ERR_error_string_n(static_cast<unsigned long>(ec.value()), text, sizeof text);
  const char* reason = ERR_reason_error_string(static_cast<unsigned long>(ec.value()));
  return reason ? std::string(reason) + " (" + text + ")" : std::string(text);
}

}  // namespace

boost::asio::ssl::context LoadTlsContext(const HttpTls& tls) {
  namespace ssl = boost::asio::ssl;
  // Both files are read first, so that one that cannot be read is named with the reason and a key
  // that others may read is refused before anything is built from it.
  const std::string certificate =
      ReadPublicFile(tls.certificateFile, "the TLS certificate " + tls.certificateFile, kMostPemBytes);
  const std::string key = ReadPrivateFile(tls.keyFile, "the TLS key " + tls.keyFile, kMostPemBytes);

  ssl::context context(ssl::context::tls_server);
  context.set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 | ssl::context::no_sslv3 |
                      ssl::context::no_tlsv1 | ssl::context::no_tlsv1_1 | ssl::context::single_dh_use);
  const auto mismatch = [&tls] {
    return std::runtime_error("the TLS key " + tls.keyFile + " does not match the certificate " +
                              tls.certificateFile);
  };
  // TLS 1.2 with AEAD suites only, forward-secret (ECDHE): no CBC suite, whose padding has been
  // attacked again and again. TLS 1.3's suites are all AEAD already.
  if (SSL_CTX_set_cipher_list(context.native_handle(),
                              "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:"
                              "ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-RSA-AES256-GCM-SHA384:"
                              "ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305") != 1) {
    throw std::runtime_error("the TLS library offers none of the AEAD cipher suites");
  }
  boost::system::error_code ec;
  context.use_certificate_chain(boost::asio::buffer(certificate), ec);
  if (ec) {
    throw std::runtime_error("the TLS certificate " + tls.certificateFile +
                             " holds no certificate chain in PEM format: " + OpenSslReason(ec));
  }
  context.use_private_key(boost::asio::buffer(key), ssl::context::pem, ec);
  // OpenSSL checks a key against the certificate already loaded as it loads the key.
  if (ec && ec.category() == boost::asio::error::get_ssl_category() &&
      ERR_GET_LIB(static_cast<unsigned long>(ec.value())) == ERR_LIB_X509 &&
      ERR_GET_REASON(static_cast<unsigned long>(ec.value())) == X509_R_KEY_VALUES_MISMATCH) {
    throw mismatch();
  }
  if (ec) {
    throw std::runtime_error("the TLS key " + tls.keyFile + " holds no private key in PEM format: " +
                             OpenSslReason(ec));
  }
  if (SSL_CTX_check_private_key(context.native_handle()) != 1) throw mismatch();
  return context;
}

}  // namespace server::edge
