// libFuzzer target: the input is a request read by the server's HTTP front (the first byte sets
// the size of the pieces it arrives in).
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/HttpFrontEntry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  server::fuzz::FeedHttpRequest(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
