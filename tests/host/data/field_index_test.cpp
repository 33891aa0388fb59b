// The filter index against a plain scan: keys grouped or interleaved, enough keys to grow the
// table many times, and rows added and removed after the build; and the rows' sequence numbers.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "host/data/FieldIndex.h"
#include "host/data/RowStore.h"
#include "host/data/SeqNumbers.h"

namespace host {
namespace {

// Checks the index over rows against a plain scan, then after a row added between two others of
// its key, a row removed, a new key, a missing row removed.
void CheckAgainstScan(RowStore& store, const std::vector<RowId>& rows, SeqNumbers seq) {
  std::map<std::string, std::vector<RowId>> expected;
  for (RowId row : rows) expected[std::string(store.Cell(row, 0))].push_back(row);

  FieldIndex index(0);
  index.Build(store, rows);
  const auto same = [&](const std::string& key) {
    const auto got = index.Rows(store, key);
    return got.size() == expected[key].size() && std::vector<RowId>(got.begin(), got.end()) == expected[key];
  };
  for (const auto& [key, list] : expected) ASSERT_TRUE(same(key)) << key;
  EXPECT_TRUE(index.Rows(store, "absent").empty());

  const RowId added = store.AddEmptyRow();
  store.SetCell(added, 0, "K5");
  seq.push_back(seq[expected["K5"].front()] + 1);  // between the first and the second row of K5
  index.Add(store, added, seq);
  expected["K5"].insert(expected["K5"].begin() + 1, added);
  const RowId removed = expected["K7"][1];
  index.Remove(store, removed, "K7", seq);
  expected["K7"].erase(expected["K7"].begin() + 1);
  const RowId fresh = store.AddEmptyRow();
  store.SetCell(fresh, 0, "NEW");
  seq.push_back((fresh + 1) * 16);
  index.Add(store, fresh, seq);
  expected["NEW"] = {fresh};
  index.Remove(store, 0, "absent", seq);
  index.Remove(store, expected["K9"].front(), "K8", seq);  // not under that key: nothing changes
  for (const auto& [key, list] : expected) ASSERT_TRUE(same(key)) << key;

  // Building again starts over.
  index.Build(store, std::vector<RowId>{rows[0]});
  EXPECT_EQ(index.Rows(store, "K5").size(), 0u);
  EXPECT_EQ(index.Rows(store, std::string(store.Cell(rows[0], 0))).size(), 1u);
}

TEST(FieldIndex, EveryKeyListsItsRowsInRowOrderBeforeAndAfterChanges) {
  RowStore store(2);
  std::vector<RowId> rows;
  SeqNumbers seq;
  std::size_t firstPass = 0;
  // 20,000 keys: runs of a few rows (as a list is loaded: each key one run of consecutive rows),
  // then the same keys again interleaved.
  for (int pass = 0; pass < 2; ++pass) {
    for (int k = 0; k < 20000; ++k) {
      for (int n = 0; n < 2 + (k + pass) % 3; ++n) {
        const RowId row = store.AddEmptyRow();
        store.SetCell(row, 0, "K" + std::to_string(pass == 0 ? k : (k * 7919) % 20000));
        store.SetCell(row, 1, std::to_string(row));
        rows.push_back(row);
        seq.push_back((row + 1) * 16);
      }
    }
    if (pass == 0) firstPass = rows.size();
  }
  const std::vector<RowId> grouped(rows.begin(), rows.begin() + static_cast<std::ptrdiff_t>(firstPass));
  RowStore copy = store;
  CheckAgainstScan(copy, grouped, seq);
  CheckAgainstScan(store, rows, seq);
}

TEST(SeqNumbers, LoadedRowsAreCountedUntilNumberedAnew) {
  constexpr std::uint64_t gap = SeqNumbers::kGap;
  SeqNumbers seq;
  seq.Count(3);
  seq.push_back(5);
  EXPECT_EQ(seq.size(), 4u);
  EXPECT_EQ(std::vector<std::uint64_t>({seq[0], seq[1], seq[2], seq[3]}), std::vector<std::uint64_t>({gap, 2 * gap, 3 * gap, 5}));
  seq.Set(1, 7);  // a loaded row numbered anew: the others keep theirs
  EXPECT_EQ(std::vector<std::uint64_t>({seq[0], seq[1], seq[2], seq[3]}), std::vector<std::uint64_t>({gap, 7, 3 * gap, 5}));
  seq.Renumber(std::vector<RowId>{3, 0, 2});
  EXPECT_EQ(std::vector<std::uint64_t>({seq[0], seq[1], seq[2], seq[3]}), std::vector<std::uint64_t>({2 * gap, 7, 3 * gap, gap}));
  seq.Renumber(std::vector<RowId>{0, 1, 2, 3});  // every row in row order: counted again
  seq.push_back(9);
  EXPECT_EQ(std::vector<std::uint64_t>({seq[0], seq[1], seq[2], seq[3], seq[4]}),
            std::vector<std::uint64_t>({gap, 2 * gap, 3 * gap, 4 * gap, 9}));
}

}  // namespace
}  // namespace host
