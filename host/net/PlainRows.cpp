#include "host/net/PlainRows.h"

#include <simdjson.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

#include "host/net/PlainTextScan.h"
#include "host/wire/Utf8.h"

namespace host {

namespace {

// One row's cells while it is read: on the stack for rows of up to kStackColumns values.
class RowCells {
 public:
  explicit RowCells(std::size_t width) : width_(width) {
    if (width > kStackColumns) {
      heapRefs_.resize(width);
      heapHigh_ = std::make_unique<bool[]>(width);
      refs_ = heapRefs_.data();
      high_ = heapHigh_.get();
    }
  }
  RowCells(const RowCells&) = delete;
  RowCells& operator=(const RowCells&) = delete;

  std::size_t Width() const { return width_; }
  CellRef* Refs() { return refs_; }
  // Per value: whether it holds bytes outside ASCII.
  bool* High() { return high_; }

 private:
  static constexpr std::size_t kStackColumns = 32;
  std::size_t width_;
  CellRef stackRefs_[kStackColumns];
  bool stackHigh_[kStackColumns];
  std::vector<CellRef> heapRefs_;
  std::unique_ptr<bool[]> heapHigh_;
  CellRef* refs_ = stackRefs_;
  bool* high_ = stackHigh_;
};

// Where a row's text goes: the room of the store's arena, which begins at offset base.
struct TextRoom {
  char* room;
  std::size_t base;
  CellRef Cell(const char* from, const char* to) const {
    if (from == to) return CellRef{};
    return CellRef{static_cast<std::uint32_t>(base + static_cast<std::size_t>(from - room)),
                   static_cast<std::uint32_t>(to - from)};
  }
};

// Whether the n bytes at a and b are the same. Both may be read 16 bytes past their start (the
// arena's room ends 16 bytes past the text it is asked for, and text written before the room
// is followed by the room).
inline bool SameText(const char* a, const char* b, std::size_t n) {
  if (n > 16) return std::memcmp(a, b, n) == 0;
  std::uint64_t a0, a1, b0, b1;
  std::memcpy(&a0, a, 8);
  std::memcpy(&a1, a + 8, 8);
  std::memcpy(&b0, b, 8);
  std::memcpy(&b1, b + 8, 8);
  const std::uint64_t low = n >= 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * n)) - 1;
  const std::uint64_t high = n <= 8 ? 0 : n == 16 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * (n - 8))) - 1;
  return (((a0 ^ b0) & low) | ((a1 ^ b1) & high)) == 0;
}

// Reads one row's values from q, just after its '[', copying their texts to w and noting their
// cells. Returns the position after its ']', or null when the row is not plain or the piece ends
// inside it. rowHigh is set when a value holds bytes outside ASCII.
//
// A value equal to the same column's value in the row above (above: that row's cells in store, or
// null) takes that value's cell and gives its copy back: a related list's product key repeats on
// every row of the product, and text is never rewritten in place, so cells may share it. A column
// is compared only while it repeats: after kMaxMisses values in a row unlike the one above
// (misses[column], for the first kRepeatColumns columns), no longer.
constexpr std::size_t kRepeatColumns = 64;
constexpr std::uint32_t kMaxMisses = 16;
const char* ReadRow(const char* q, const char* end, const TextRoom& text, RowCells& cells, char*& w,
                    bool& rowHigh, const RowStore& store, const CellRef* above, std::uint32_t* misses) {
  const std::size_t width = cells.Width();
  CellRef* const refs = cells.Refs();
  bool* const highs = cells.High();
  for (std::size_t column = 0; column < width; ++column) {
    if (q >= end) return nullptr;
    bool high = false;
    if (*q == '"') {
      char* const from = w;
      q = CopyPlainText(q + 1, end, w, high);
      if (q >= end || *q != '"') return nullptr;
      ++q;
      // A value must start on a character, not inside one.
      if (high && wire::IsUtf8Continuation(*from)) return nullptr;
      refs[column] = text.Cell(from, w);
      if (above && column < kRepeatColumns && misses[column] < kMaxMisses && from != w) {
        if (above[column].length == refs[column].length && SameText(store.Text(above[column]).data(), from, refs[column].length)) {
          refs[column] = above[column];
          w = from;
          misses[column] = 0;
        } else {
          ++misses[column];
        }
      }
    } else if (end - q >= 4 && std::memcmp(q, "null", 4) == 0) {
      q += 4;
      refs[column] = CellRef{};
    } else {
      return nullptr;
    }
    highs[column] = high;
    rowHigh |= high;
    if (q >= end || *q != (column + 1 < width ? ',' : ']')) return nullptr;
    ++q;
  }
  return q;
}

}  // namespace

PlainRowsRead ReadPlainRows(const char* p, const char* end, DecodedPacket& packet, std::size_t width) {
  // The text of the rows read here is at most the bytes left in the piece; 16 spare bytes let the
  // copy store whole blocks.
  char* const room = packet.store.TextRoom(static_cast<std::size_t>(end - p) + 16);
  if (!room) return {p};
  const TextRoom text{room, packet.store.TextBytes()};
  RowCells cells(width);
  const CellRef* const refs = cells.Refs();
  const bool* const highs = cells.High();
  std::size_t* const widest = packet.widest.data();
  char* out = room;
  std::uint32_t misses[kRepeatColumns] = {};
  // Locals until the end: the result lives in the caller's memory.
  const char* after = p;
  std::size_t rows = 0;
  RowId lastRow = 0;
  for (;;) {
    // p is at '['.
    char* w = out;
    bool rowHigh = false;
    const std::size_t held = packet.store.RowCount();
    const CellRef* const above = held ? packet.store.RowCells(static_cast<RowId>(held - 1)).data() : nullptr;
    const char* q = ReadRow(p + 1, end, text, cells, w, rowHigh, packet.store, above, misses);
    if (!q) break;
    // Values that start on characters and join into valid UTF-8 are each valid UTF-8.
    if (rowHigh && !simdjson::validate_utf8(out, static_cast<std::size_t>(w - out))) break;
    lastRow = packet.store.AddRowWithText(std::span<const CellRef>(refs, width), static_cast<std::size_t>(w - out));
    ++rows;
    for (std::size_t column = 0; column < width; ++column) {
      std::size_t chars = refs[column].length;
      if (highs[column]) chars = wire::Utf8CharCount(packet.store.Text(refs[column]));
      if (chars > widest[column]) widest[column] = chars;
    }
    out = w;
    after = p = q;
    if (end - p < 2 || p[0] != ',' || p[1] != '[') break;
    after = ++p;
  }
  return {after, rows, lastRow};
}

}  // namespace host
