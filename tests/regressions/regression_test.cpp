// Every input saved for the readers' fuzz targets, replayed through the same entry points: each
// must end in a result or a clean refusal, never in a crash, another exception or a broken
// promise (EInvariantBroken). The seeds (fuzz/corpus) may end either way. The kept inputs
// (inputs/: what the fuzzers found, and edge cases of the same kind) are named for the outcome
// the reader must give: accept_* accepted, reject_* refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "fuzz/FuzzEntries.h"

namespace host::fuzz {
namespace {

namespace fs = std::filesystem;

struct SavedInput {
  const Entry* entry;
  fs::path file;
  bool kept;  // a kept input (else a seed)
};

// gtest prints a parameter with its test; the file says it all.
void PrintTo(const SavedInput& input, std::ostream* os) { *os << input.file; }

std::vector<fs::path> FilesIn(const fs::path& dir) {
  std::vector<fs::path> files;
  if (fs::is_directory(dir))
    for (const auto& item : fs::directory_iterator(dir))
      if (item.is_regular_file() && item.path().filename().string().front() != '.')
        files.push_back(item.path());
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<SavedInput> AllSavedInputs() {
  std::vector<SavedInput> all;
  for (const Entry& entry : Entries()) {
    for (const auto& file : FilesIn(fs::path(PDI_FUZZ_SEEDS) / entry.name))
      all.push_back({&entry, file, false});
    for (const auto& file : FilesIn(fs::path(PDI_REGRESSION_INPUTS) / entry.name))
      all.push_back({&entry, file, true});
  }
  return all;
}

std::string ReadFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Test names: target, seed or kept, and the file name with anything but letters and digits as '_'.
std::string CaseName(const testing::TestParamInfo<SavedInput>& info) {
  std::string name = std::string(info.param.entry->name) + (info.param.kept ? "_kept_" : "_seed_") +
                     info.param.file.filename().string();
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
}

class Replay : public testing::TestWithParam<SavedInput> {};

TEST_P(Replay, EndsInResultOrCleanRefusal) {
  const SavedInput& input = GetParam();
  const std::string bytes = ReadFile(input.file);
  Outcome outcome{};
  try {
    outcome = input.entry->feed(bytes);
  } catch (const std::exception& e) {
    FAIL() << input.file << ": " << e.what();
  }
  if (!input.kept) return;
  const std::string name = input.file.filename().string();
  if (name.starts_with("accept_")) {
    EXPECT_EQ(outcome, Outcome::Accepted) << input.file;
  } else if (name.starts_with("reject_")) {
    EXPECT_EQ(outcome, Outcome::Rejected) << input.file;
  } else {
    ADD_FAILURE() << input.file << ": a kept input is named accept_* or reject_*";
  }
}

INSTANTIATE_TEST_SUITE_P(Saved, Replay, testing::ValuesIn(AllSavedInputs()), CaseName);

TEST(ReplaySetup, EveryTargetHasSeeds) {
  for (const Entry& entry : Entries())
    EXPECT_FALSE(FilesIn(fs::path(PDI_FUZZ_SEEDS) / entry.name).empty()) << entry.name;
}

}  // namespace
}  // namespace host::fuzz
