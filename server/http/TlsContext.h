// The TLS context of an HTTPS server: TLS 1.2 (AEAD suites with ECDHE only) or later, with the
// certificate chain and private key of HttpTls loaded from their PEM files and checked against
// each other, so that a wrong pair stops the server at start (or fails a reload) rather than
// failing every handshake. The key is a secret: its file is read under the rule of PrivateFile.h.
//
// A context is built whole before it is used; handshakes then use it from any thread. A reload
// builds a new one for the connections that come after it.
#pragma once

#include <boost/asio/ssl/context.hpp>

#include "server/http/HttpOptions.h"

namespace server::edge {

// Raises std::runtime_error naming the file and saying why when the certificate or the key cannot
// be read or loaded, the key's file breaks the rule of private files, or the key is not the
// certificate's. REQUIRES: tls.Enabled().
boost::asio::ssl::context LoadTlsContext(const HttpTls& tls);

}  // namespace server::edge
