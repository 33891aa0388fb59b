// The supplier and client lists' master entries held in memory (MasterEntries): every entry found
// again by its key however many were added and whatever their lengths, missing entries remembered
// as missing, and nothing found once cleared.
#include <gtest/gtest.h>

#include <string>

#include "server/store/JoinedList.h"

namespace server::test {
namespace {

TEST(MasterEntriesTest, FindsEveryEntryAcrossGrowthAndClear) {
  MasterEntries entries;
  EXPECT_EQ(entries.Find("1"), nullptr);
  const auto key = [](int n) { return std::to_string(n * 7919); };
  const auto name = [](int n) { return std::string(static_cast<size_t>(n % 50), 'a' + n % 26); };
  for (int n = 0; n < 5000; ++n) {
    const std::string k = key(n), v = name(n);
    const MasterEntry* added = entries.Add(k, {k + "0", v, n % 3 ? "J" : ""}, n % 5 != 0);
    ASSERT_EQ(added->key, k);
    ASSERT_EQ(added->values[1], v);
  }
  EXPECT_EQ(entries.Size(), 5000U);
  for (int n = 0; n < 5000; ++n) {
    const MasterEntry* entry = entries.Find(key(n));
    ASSERT_NE(entry, nullptr) << key(n);
    EXPECT_EQ(entry->key, key(n));
    EXPECT_EQ(entry->values[0], key(n) + "0");
    EXPECT_EQ(entry->values[1], name(n));
    EXPECT_EQ(entry->values[2], n % 3 ? "J" : "");
    EXPECT_EQ(entry->found, n % 5 != 0);
  }
  // A key that is a prefix or an extension of one held is another key.
  EXPECT_EQ(entries.Find(key(12).substr(0, 2)), nullptr);
  EXPECT_EQ(entries.Find(key(12) + "1"), nullptr);
  entries.Clear();
  EXPECT_EQ(entries.Size(), 0U);
  EXPECT_EQ(entries.Find(key(12)), nullptr);
  EXPECT_EQ(entries.Add("", {"", "", ""})->key, "");
  EXPECT_NE(entries.Find(""), nullptr);
}

}  // namespace
}  // namespace server::test
