#include "server/http/NetworkLoop.h"

#include <exception>

namespace server::edge {

void RunNetworkLoop(boost::asio::io_context& context, const std::function<void(const std::string& what)>& onFailure) {
  for (;;) {
    try {
      context.run();
      return;
    } catch (const std::exception& e) {
      onFailure(e.what());
    } catch (...) {
      onFailure("an exception of unknown type");
    }
  }
}

}  // namespace server::edge
