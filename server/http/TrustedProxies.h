// TrustedProxies is the list of networks (CIDR blocks) whose connections the server believes about
// the client behind them: a balancer or proxy there may say who its client is, in the PROXY
// protocol header that opens the connection or in X-Forwarded-For. Anyone else saying so is not
// believed: a client could name any address it likes.
//
// X-Forwarded-For is read from its right end, where the last proxy wrote the address it saw, for
// as long as the address seen so far belongs to a trusted proxy: the first address that is not
// a trusted proxy's is the client (with one balancer in front, the address it appended). A value
// that is not an IP address ends the walk at the address before it.
//
// Immutable once parsed; safe to read from any thread. Intentionally copyable.
#pragma once

#include <boost/asio/ip/address.hpp>

#include <string>
#include <string_view>
#include <vector>

namespace server {

class TrustedProxies {
 public:
  TrustedProxies() = default;  // trusts nobody

  // Reads blocks separated by commas or blanks: "10.0.0.0/8, 192.168.1.7 ::1/128" (an address
  // alone is a block of one). Raises std::invalid_argument naming the block that is not one.
  static TrustedProxies Parse(std::string_view text);

  bool Empty() const { return blocks_.empty(); }
  bool Contains(const boost::asio::ip::address& address) const;

  // The client's address for a request that came from peer with these X-Forwarded-For values
  // (in the order the header lines came): peer itself unless it is trusted and the header names
  // someone (see above). The address is written as boost writes it (an IPv4-mapped IPv6 address
  // as IPv4).
  boost::asio::ip::address ClientOf(const boost::asio::ip::address& peer,
                                    const std::vector<std::string_view>& forwardedFor) const;

  // The blocks as given, normalized ("10.0.0.0/8 ::1/128"), for the log.
  std::string Text() const;

  bool operator==(const TrustedProxies& other) const { return Text() == other.Text(); }

 private:
  struct Block {
    boost::asio::ip::address_v6 network;  // IPv4 as IPv4-mapped IPv6
    int prefix = 128;                     // of the mapped form
    std::string text;
  };
  std::vector<Block> blocks_;
};

// An address as the server compares it: IPv4-mapped IPv6 addresses as the IPv4 they carry.
boost::asio::ip::address Unmapped(const boost::asio::ip::address& address);

}  // namespace server
