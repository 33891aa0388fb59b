// The TLS context of an HTTPS server: TLS 1.2 (AEAD suites with ECDHE only) or later, with the
// certificate chain and private key of HttpTls loaded from their PEM files and checked against
// each other, so that a wrong pair stops the server at start rather than failing every handshake.
//
// The context is built once, before the server runs; handshakes then use it from any thread.
#pragma once

#include <boost/asio/ssl/context.hpp>

#include "server/http/HttpOptions.h"

namespace server::edge {

// Raises std::runtime_error naming the file when the certificate or the key cannot be loaded, or
// when the key is not the certificate's. REQUIRES: tls.Enabled().
boost::asio::ssl::context LoadTlsContext(const HttpTls& tls);

}  // namespace server::edge
