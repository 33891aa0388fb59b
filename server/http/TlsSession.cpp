#include "server/http/BasicSession.h"

namespace server::edge {

std::shared_ptr<SessionBase> MakeTlsSession(SessionHost& host, Admission admission, boost::asio::ip::tcp::socket socket,
                                            boost::asio::ssl::context& tls) {
  return std::make_shared<session::BasicSession<boost::beast::ssl_stream<boost::beast::tcp_stream>>>(
      host, std::move(admission), std::move(socket), tls);
}

}  // namespace server::edge
