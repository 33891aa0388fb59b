// GrowBuffer and the row store's bulk appending: contents survive every way the block changes
// (malloc to mapping, growth in place or by moving, shrinking, a kept block handed on), and a
// row added with text written straight into the arena reads back like one set cell by cell.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "host/data/GrowBuffer.h"
#include "host/data/RowStore.h"

namespace host {
namespace {

// Fills with a pattern that tells every position apart.
std::uint32_t Pattern(std::size_t i) { return static_cast<std::uint32_t>(i * 2654435761u); }

TEST(GrowBuffer, ContentsSurviveGrowthShrinkAndReuse) {
  GrowBuffer<std::uint32_t> a;
  std::size_t n = 0;
  // From a few bytes past the mapping size to 24 MB, appending in uneven steps.
  for (std::size_t step = 1; n < (std::size_t{24} << 20) / sizeof(std::uint32_t); step = step * 3 + 7) {
    std::vector<std::uint32_t> chunk(step);
    for (std::size_t k = 0; k < step; ++k) chunk[k] = Pattern(n + k);
    a.append(chunk.data(), chunk.size());
    n += step;
  }
  ASSERT_EQ(a.size(), n);
  ASSERT_GE(a.capacity(), n);
  for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(a[i], Pattern(i)) << i;
  // A mapped block lies on a huge page's boundary.
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(a.data()) % GrowBuffer<char>::kMapBytes, 0u);

  // A copy is deep; shrinking keeps the contents.
  GrowBuffer<std::uint32_t> copy(a);
  a.resize(1000);
  a.shrink_to_fit();
  EXPECT_EQ(a.size(), 1000u);
  for (std::size_t i = 0; i < 1000; ++i) ASSERT_EQ(a[i], Pattern(i));
  for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(copy[i], Pattern(i)) << i;

  // A block given back and taken again by the next large buffer holds that buffer's data only:
  // new elements of resize are zero, whatever the block held before.
  { GrowBuffer<std::uint32_t> gone(std::move(copy)); }
  GrowBuffer<std::uint32_t> next;
  next.resize(n);
  for (std::size_t i = 0; i < n; i += 4099) ASSERT_EQ(next[i], 0u) << i;
  next[n - 1] = 7;
  next.resize(n + 10);
  EXPECT_EQ(next[n - 1], 7u);
  EXPECT_EQ(next[n + 9], 0u);
}

TEST(RowStore, ARowAddedWithItsTextReadsAsOneSetCellByCell) {
  RowStore bulk(3), plain(3);
  const std::vector<std::vector<std::string>> rows = {{"a", "", "ção"}, {"", "", ""}, {"longer value here", "x", "y"}};
  for (const auto& row : rows) {
    const std::size_t room = 64;
    char* at = bulk.TextRoom(room);
    ASSERT_NE(at, nullptr);
    const std::size_t base = bulk.TextBytes();
    std::vector<CellRef> cells;
    std::size_t written = 0;
    for (const std::string& v : row) {
      std::memcpy(at + written, v.data(), v.size());
      cells.push_back(v.empty() ? CellRef{} : CellRef{static_cast<std::uint32_t>(base + written), static_cast<std::uint32_t>(v.size())});
      written += v.size();
    }
    bulk.AddRowWithText(cells, written);
    const RowId r = plain.AddEmptyRow();
    for (int c = 0; c < 3; ++c) plain.SetCell(r, c, row[static_cast<std::size_t>(c)]);
  }
  ASSERT_EQ(bulk.RowCount(), plain.RowCount());
  EXPECT_EQ(bulk.TextBytes(), plain.TextBytes());
  for (RowId r = 0; r < bulk.RowCount(); ++r)
    for (int c = 0; c < 3; ++c) EXPECT_EQ(bulk.Cell(r, c), plain.Cell(r, c)) << r << "," << c;
  // A copy shares the text until it writes; the bulk path then writes into its own arena.
  RowStore shared = bulk;
  char* at = shared.TextRoom(8);
  std::memcpy(at, "new", 3);
  const CellRef cell{static_cast<std::uint32_t>(shared.TextBytes()), 3};
  const CellRef cells[3] = {cell, {}, {}};
  shared.AddRowWithText(cells, 3);
  EXPECT_EQ(shared.Cell(3, 0), "new");
  EXPECT_EQ(bulk.RowCount(), 3u);
  EXPECT_EQ(bulk.Cell(2, 0), "longer value here");
}

}  // namespace
}  // namespace host
