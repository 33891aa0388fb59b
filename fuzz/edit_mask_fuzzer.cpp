// libFuzzer target: the input is an edit mask and a value (split at the first line break),
// formatted, typed and erased.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/FuzzEntries.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  host::fuzz::FeedEditMask(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
