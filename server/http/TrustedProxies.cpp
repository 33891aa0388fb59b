#include "server/http/TrustedProxies.h"

#include <algorithm>
#include <charconv>
#include <stdexcept>

namespace server {
namespace {

namespace ip = boost::asio::ip;

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

ip::address_v6 Mapped(const ip::address& address) {
  return address.is_v4() ? ip::make_address_v6(ip::v4_mapped, address.to_v4()) : address.to_v6();
}

// True when the first prefix bits of a and b agree.
bool SamePrefix(const ip::address_v6& a, const ip::address_v6& b, int prefix) {
  const auto x = a.to_bytes();
  const auto y = b.to_bytes();
  for (int bit = 0; bit < prefix; bit += 8) {
    const int bits = std::min(8, prefix - bit);
    const unsigned mask = (0xFFu << (8 - bits)) & 0xFFu;
    if ((x[static_cast<size_t>(bit / 8)] & mask) != (y[static_cast<size_t>(bit / 8)] & mask)) return false;
  }
  return true;
}

}  // namespace

ip::address Unmapped(const ip::address& address) {
  if (address.is_v6() && address.to_v6().is_v4_mapped()) return ip::make_address_v4(ip::v4_mapped, address.to_v6());
  return address;
}

TrustedProxies TrustedProxies::Parse(std::string_view text) {
  TrustedProxies proxies;
  size_t at = 0;
  while (at < text.size()) {
    const size_t end = text.find_first_of(", \t", at);
    const std::string_view word = text.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
    at = end == std::string_view::npos ? text.size() : end + 1;
    if (word.empty()) continue;
    const auto bad = [&word](const char* why) {
      return std::invalid_argument("\"" + std::string(word.substr(0, 60)) + "\" is not a network: " + why);
    };
    const size_t slash = word.find('/');
    boost::system::error_code ec;
    const ip::address address = ip::make_address(std::string(word.substr(0, slash)), ec);
    if (ec) throw bad("expected an IP address or ADDRESS/PREFIX");
    const int width = address.is_v4() ? 32 : 128;
    int prefix = width;
    if (slash != std::string_view::npos) {
      const std::string_view digits = word.substr(slash + 1);
      const auto [end_, error] = std::from_chars(digits.data(), digits.data() + digits.size(), prefix);
      if (error != std::errc() || end_ != digits.data() + digits.size() || prefix < 0 || prefix > width) {
        throw bad(address.is_v4() ? "the prefix runs from 0 to 32" : "the prefix runs from 0 to 128");
      }
    }
    Block block{Mapped(address), address.is_v4() ? prefix + 96 : prefix, address.to_string() + "/" + std::to_string(prefix)};
    proxies.blocks_.push_back(std::move(block));
  }
  return proxies;
}

bool TrustedProxies::Contains(const ip::address& address) const {
  const ip::address_v6 mapped = Mapped(address);
  return std::any_of(blocks_.begin(), blocks_.end(),
                     [&](const Block& block) { return SamePrefix(block.network, mapped, block.prefix); });
}

ip::address TrustedProxies::ClientOf(const ip::address& peer, const std::vector<std::string_view>& forwardedFor) const {
  ip::address client = Unmapped(peer);
  if (forwardedFor.empty() || !Contains(client)) return client;
  // The header lines in order, each a list; read from the right end of the last.
  for (auto line = forwardedFor.rbegin(); line != forwardedFor.rend(); ++line) {
    std::string_view rest = *line;
    while (!rest.empty()) {
      const size_t comma = rest.rfind(',');
      const std::string_view entry = Trimmed(comma == std::string_view::npos ? rest : rest.substr(comma + 1));
      rest = comma == std::string_view::npos ? std::string_view() : rest.substr(0, comma);
      if (entry.empty()) continue;
      boost::system::error_code ec;
      const ip::address named = ip::make_address(std::string(entry.substr(0, 64)), ec);
      if (ec) return client;  // not an address: believe nothing further left
      client = Unmapped(named);
      if (!Contains(client)) return client;
    }
  }
  return client;
}

std::string TrustedProxies::Text() const {
  std::string out;
  for (const Block& block : blocks_) out += (out.empty() ? "" : " ") + block.text;
  return out;
}

}  // namespace server
