#include "server/http/BasicSession.h"

namespace server::edge {

std::shared_ptr<SessionBase> MakePlainSession(SessionHost& host, Admission admission,
                                              boost::asio::ip::tcp::socket socket) {
  return std::make_shared<session::BasicSession<boost::beast::tcp_stream>>(host, std::move(admission),
                                                                          std::move(socket));
}

}  // namespace server::edge
