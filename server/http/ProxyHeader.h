// ProxyHeader reads the PROXY protocol header (HAProxy's, versions 1 and 2) with which a balancer
// may open a connection to say whose it is: "PROXY TCP4 203.0.113.7 10.0.0.5 51234 8470\r\n", or
// its binary form. Only what the server needs is taken: the source address and port. A LOCAL
// (version 2) or UNKNOWN (version 1) header, such as a balancer's own health check sends, names no
// client: the connection is the balancer's own.
//
// The reader is given the bytes received so far and says whether they begin with a header (and
// how long it is), do not (the connection speaks HTTP or TLS at once), hold a malformed one, or
// are too short to tell. A version 1 header is at most 107 bytes, a version 2 one at most
// kMostBytes: anything longer is malformed.
//
// Stateless; thread-safe.
#pragma once

#include <boost/asio/ip/tcp.hpp>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace server {

struct ProxyHeader {
  enum class State {
    kNeedMore,  // too few bytes to tell
    kAbsent,    // the connection does not begin with a header
    kInvalid,   // a header, malformed: why says how
    kRead,      // a header of `length` bytes; source is the client it names, if any
  };
  State state = State::kNeedMore;
  size_t length = 0;
  std::optional<boost::asio::ip::tcp::endpoint> source;
  std::string why;

  // The longest header read (a version 2 header with its extensions).
  static constexpr size_t kMostBytes = 16 + 1024;

  static ProxyHeader Read(std::string_view received);
};

}  // namespace server
