// The saved inputs of the HTTP front's fuzz target (fuzz/corpus/http_request: seeds;
// tests/regressions/inputs/http_request: kept inputs named accept_* or reject_* for the outcome
// they must give), replayed through the same entry point: a clean result or refusal, never a
// broken limit or a policy that lets through what it must not.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "fuzz/HttpFrontEntry.h"
#include "host/wire/ServiceName.h"

namespace server::fuzz {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(HttpFrontReplay, SeedsAndKeptInputsEndCleanly) {
  int replayed = 0;
  for (const fs::path& dir : {fs::path(PDI_HTTP_FUZZ_SEEDS), fs::path(PDI_HTTP_KEPT_INPUTS)}) {
    ASSERT_TRUE(fs::is_directory(dir)) << dir;
    for (const auto& item : fs::directory_iterator(dir)) {
      const std::string name = item.path().filename().string();
      host::fuzz::Outcome outcome{};
      try {
        outcome = FeedHttpRequest(ReadFile(item.path()));
      } catch (const std::exception& e) {
        ADD_FAILURE() << item.path() << ": " << e.what();
        continue;
      }
      ++replayed;
      if (name.rfind("accept_", 0) == 0) {
        EXPECT_EQ(outcome, host::fuzz::Outcome::Accepted) << name;
      } else if (name.rfind("reject_", 0) == 0) {
        EXPECT_EQ(outcome, host::fuzz::Outcome::Rejected) << name;
      }
    }
  }
  EXPECT_GE(replayed, 8);
}

TEST(HttpFrontReplay, EveryPieceSizeReadsTheSameRequest) {
  // A request split anywhere is the same request: accepted at every piece size.
  const std::string request =
      "POST " + std::string(host::wire::kServicePath) +
      " HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n2\r\nde\r\n0\r\n\r\n";
  for (int piece = 0; piece < 256; ++piece) {
    EXPECT_EQ(FeedHttpRequest(std::string(1, static_cast<char>(piece)) + request), host::fuzz::Outcome::Accepted)
        << piece + 1;
  }
}

}  // namespace
}  // namespace server::fuzz
