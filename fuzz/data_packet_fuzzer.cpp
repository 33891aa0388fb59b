// libFuzzer target: the input is a data packet loaded into record sets through SetData.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/FuzzEntries.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  host::fuzz::FeedDataPacket(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
