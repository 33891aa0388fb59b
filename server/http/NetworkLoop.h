// The loop of every thread of the network (the listener's and each lane's): it runs an
// io_context until the context has no more work. A handler never raises (calls and fills catch
// what the service raises); should one, the failure is handed on and the context goes on running,
// however many handlers raise, so that the server stops in order rather than losing the thread or
// the process.
//
// Stateless; each context is run by one thread at a time.
#pragma once

#include <boost/asio/io_context.hpp>

#include <functional>
#include <string>

namespace server::edge {

// Runs context until it runs out of work; onFailure is told what each raising handler raised.
void RunNetworkLoop(boost::asio::io_context& context, const std::function<void(const std::string& what)>& onFailure);

}  // namespace server::edge
