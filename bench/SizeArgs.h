// The command line of the benches that measure the screen at several sizes of the demo data:
//   SIZE... [--rows-per-product M] and the bench's own options.
// SIZE is a number of related rows; with none given the bench runs at 1,000, 100,000 and
// 1,000,000. A malformed argument prints the bench's usage instead of ending in an exception.
#pragma once

#include <charconv>
#include <cstdio>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

namespace bench {

struct SizeArgs {
  std::vector<int> sizes;
  int rowsPerProduct = 10;
};

// `own` is offered each argument first, with the one after it (null at the end); it returns how
// many arguments it took: 0 (not its own), 1 (a flag) or 2 (an option and its value).
inline std::optional<SizeArgs> ParseSizeArgs(int argc, char** argv, const char* usage,
                                             const std::function<int(std::string_view, const char*)>& own) {
  const auto number = [](std::string_view text, int& out) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
    return error == std::errc() && end == text.data() + text.size() && out > 0;
  };
  SizeArgs args;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
    if (const int taken = own ? own(arg, next) : 0; taken > 0) {
      i += taken - 1;
    } else if (arg == "--rows-per-product" && next && number(next, args.rowsPerProduct)) {
      ++i;
    } else if (int size = 0; number(arg, size)) {
      args.sizes.push_back(size);
    } else {
      std::fprintf(stderr, "usage: %s %s\n", argv[0], usage);
      return std::nullopt;
    }
  }
  if (args.sizes.empty()) args.sizes = {1000, 100000, 1000000};
  return args;
}

}  // namespace bench
