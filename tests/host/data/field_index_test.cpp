// The filter index against a plain scan: keys grouped or interleaved, enough keys to grow the
// table many times, and rows added and removed after the build.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "host/data/FieldIndex.h"
#include "host/data/RowStore.h"

namespace host {
namespace {

TEST(FieldIndex, EveryKeyListsItsRowsInRowOrderBeforeAndAfterChanges) {
  RowStore store(2);
  std::vector<RowId> rows;
  std::vector<std::uint64_t> seq;
  // 20,000 keys: runs of a few rows, then the same keys again interleaved.
  for (int pass = 0; pass < 2; ++pass) {
    for (int k = 0; k < 20000; ++k) {
      for (int n = 0; n < 1 + (k + pass) % 3; ++n) {
        const RowId row = store.AddEmptyRow();
        store.SetCell(row, 0, "K" + std::to_string(pass == 0 ? k : (k * 7919) % 20000));
        store.SetCell(row, 1, std::to_string(row));
        rows.push_back(row);
        seq.push_back((row + 1) * 16);
      }
    }
  }
  std::map<std::string, std::vector<RowId>> expected;
  for (RowId row : rows) expected[std::string(store.Cell(row, 0))].push_back(row);

  FieldIndex index(0);
  index.Build(store, rows);
  const auto same = [&](const std::string& key) {
    const auto got = index.Rows(key);
    return std::vector<RowId>(got.begin(), got.end()) == expected[key];
  };
  for (const auto& [key, list] : expected) ASSERT_TRUE(same(key)) << key;
  EXPECT_TRUE(index.Rows("absent").empty());

  // A row added between two others of its key, a row removed, a new key, a missing row removed.
  const RowId added = store.AddEmptyRow();
  store.SetCell(added, 0, "K5");
  seq.push_back(expected["K5"].front() * 16 + 24);  // between the first and the second row of K5
  index.Add(added, "K5", seq);
  expected["K5"].insert(expected["K5"].begin() + 1, added);
  const RowId removed = expected["K7"][1];
  index.Remove(removed, "K7", seq);
  expected["K7"].erase(expected["K7"].begin() + 1);
  const RowId fresh = store.AddEmptyRow();
  seq.push_back((fresh + 1) * 16);
  index.Add(fresh, "NEW", seq);
  expected["NEW"] = {fresh};
  index.Remove(0, "absent", seq);
  index.Remove(expected["K9"].front(), "K8", seq);  // not under that key: nothing changes
  for (const auto& [key, list] : expected) ASSERT_TRUE(same(key)) << key;

  // Building again starts over.
  index.Build(store, std::vector<RowId>{rows[0]});
  EXPECT_EQ(index.Rows("K5").size(), 0u);
  EXPECT_EQ(index.Rows(std::string(store.Cell(rows[0], 0))).size(), 1u);
}

}  // namespace
}  // namespace host
