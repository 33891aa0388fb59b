#include "server/http/ProxyHeader.h"

#include <array>
#include <charconv>
#include <cstring>
#include <vector>

namespace server {
namespace {

namespace ip = boost::asio::ip;
using State = ProxyHeader::State;

constexpr std::string_view kV1 = "PROXY ";
constexpr std::string_view kV2("\r\n\r\n\0\r\nQUIT\n", 12);
constexpr size_t kMostV1Bytes = 107;

ProxyHeader Invalid(std::string why) {
  ProxyHeader h;
  h.state = State::kInvalid;
  h.why = std::move(why);
  return h;
}

// True while received agrees with the start of signature as far as it goes.
bool Agrees(std::string_view received, std::string_view signature) {
  const size_t n = std::min(received.size(), signature.size());
  return received.substr(0, n) == signature.substr(0, n);
}

std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  size_t at = 0;
  while (at <= line.size()) {
    const size_t space = line.find(' ', at);
    words.push_back(line.substr(at, space == std::string_view::npos ? std::string_view::npos : space - at));
    if (space == std::string_view::npos) break;
    at = space + 1;
  }
  return words;
}

ProxyHeader ReadV1(std::string_view received) {
  const size_t end = received.find("\r\n");
  if (end == std::string_view::npos) {
    if (received.size() >= kMostV1Bytes) return Invalid("a version 1 header longer than 107 bytes");
    return ProxyHeader{};
  }
  if (end + 2 > kMostV1Bytes) return Invalid("a version 1 header longer than 107 bytes");
  ProxyHeader h;
  h.state = State::kRead;
  h.length = end + 2;
  const std::vector<std::string_view> words = Words(received.substr(0, end));
  if (words.size() >= 2 && words[1] == "UNKNOWN") return h;  // the balancer's own connection
  if (words.size() != 6 || (words[1] != "TCP4" && words[1] != "TCP6")) return Invalid("a malformed version 1 header");
  boost::system::error_code ec;
  const ip::address source = ip::make_address(std::string(words[2]), ec);
  if (ec || source.is_v4() != (words[1] == "TCP4")) return Invalid("a version 1 header with a bad source address");
  unsigned port = 0;
  const auto [stop, error] = std::from_chars(words[4].data(), words[4].data() + words[4].size(), port);
  if (error != std::errc() || stop != words[4].data() + words[4].size() || port > 65535 || words[4].empty()) {
    return Invalid("a version 1 header with a bad source port");
  }
  h.source = ip::tcp::endpoint(source, static_cast<unsigned short>(port));
  return h;
}

ProxyHeader ReadV2(std::string_view received) {
  if (received.size() < 16) return ProxyHeader{};
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(received[i]); };
  if ((byte(12) >> 4) != 2) return Invalid("a version 2 header of an unknown version");
  const unsigned command = byte(12) & 0x0F;
  if (command > 1) return Invalid("a version 2 header with an unknown command");
  const size_t length = 16 + (static_cast<size_t>(byte(14)) << 8 | byte(15));
  if (length > ProxyHeader::kMostBytes) return Invalid("a version 2 header longer than the server reads");
  if (received.size() < length) return ProxyHeader{};
  ProxyHeader h;
  h.state = State::kRead;
  h.length = length;
  if (command == 0) return h;  // LOCAL: the balancer's own connection
  const unsigned family = byte(13) >> 4;
  const std::string_view block = received.substr(16, length - 16);
  if (family == 1) {  // IPv4: source, destination, source port, destination port
    if (block.size() < 12) return Invalid("a version 2 header with a short IPv4 block");
    ip::address_v4::bytes_type bytes;
    std::memcpy(bytes.data(), block.data(), 4);
    const unsigned port = static_cast<unsigned char>(block[8]) << 8 | static_cast<unsigned char>(block[9]);
    h.source = ip::tcp::endpoint(ip::make_address_v4(bytes), static_cast<unsigned short>(port));
  } else if (family == 2) {  // IPv6
    if (block.size() < 36) return Invalid("a version 2 header with a short IPv6 block");
    ip::address_v6::bytes_type bytes;
    std::memcpy(bytes.data(), block.data(), 16);
    const unsigned port = static_cast<unsigned char>(block[32]) << 8 | static_cast<unsigned char>(block[33]);
    h.source = ip::tcp::endpoint(ip::make_address_v6(bytes), static_cast<unsigned short>(port));
  }
  // Another family (a Unix socket, unspecified) names no client address: the peer stands.
  return h;
}

}  // namespace

ProxyHeader ProxyHeader::Read(std::string_view received) {
  if (received.empty()) return ProxyHeader{};
  if (Agrees(received, kV1)) return received.size() < kV1.size() ? ProxyHeader{} : ReadV1(received);
  if (Agrees(received, kV2)) return received.size() < kV2.size() ? ProxyHeader{} : ReadV2(received);
  ProxyHeader absent;
  absent.state = State::kAbsent;
  return absent;
}

}  // namespace server
