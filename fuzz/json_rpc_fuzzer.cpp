// libFuzzer target: the input is a JSON-RPC request body read by the service.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/FuzzEntries.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  host::fuzz::FeedJsonRpcRequest(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
