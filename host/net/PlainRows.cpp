#include "host/net/PlainRows.h"

#include <simdjson.h>

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

// Reads one row's values from q, just after its '[', copying their texts to w and noting their
// cells. Returns the position after its ']', or null when the row is not plain or the piece ends
// inside it. rowHigh is set when a value holds bytes outside ASCII.
const char* ReadRow(const char* q, const char* end, const TextRoom& text, RowCells& cells, char*& w,
                    bool& rowHigh) {
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

// A value equal to the one above it in the previous row (a related list's product key, repeated
// on every row of the product) takes that value's text instead of a copy of its own: text is
// never rewritten in place, so cells may share it. The row's other values move down over the
// bytes given up. Returns the new end of the row's text, which begins at from.
char* ShareRepeatedValues(const RowStore& store, const TextRoom& text, RowCells& cells, char* from) {
  const auto above = store.RowCells(static_cast<RowId>(store.RowCount() - 1));
  CellRef* const refs = cells.Refs();
  char* w = from;
  for (std::size_t column = 0; column < cells.Width(); ++column) {
    CellRef& cell = refs[column];
    if (cell.length == 0) continue;
    const char* const value = text.room + (cell.offset - text.base);
    if (above[column].length == cell.length && std::memcmp(store.Text(above[column]).data(), value, cell.length) == 0) {
      cell = above[column];
      continue;
    }
    if (w != value) std::memmove(w, value, cell.length);
    cell = text.Cell(w, w + cell.length);
    w += cell.length;
  }
  return w;
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
  // Locals until the end: the result lives in the caller's memory.
  const char* after = p;
  std::size_t rows = 0;
  RowId lastRow = 0;
  for (;;) {
    // p is at '['.
    char* w = out;
    bool rowHigh = false;
    const char* q = ReadRow(p + 1, end, text, cells, w, rowHigh);
    if (!q) break;
    // Values that start on characters and join into valid UTF-8 are each valid UTF-8.
    if (rowHigh && !simdjson::validate_utf8(out, static_cast<std::size_t>(w - out))) break;
    for (std::size_t column = 0; column < width; ++column) {
      std::size_t chars = refs[column].length;
      if (highs[column]) chars = wire::Utf8CharCount({room + (refs[column].offset - text.base), chars});
      if (chars > widest[column]) widest[column] = chars;
    }
    if (packet.store.RowCount() > 0) w = ShareRepeatedValues(packet.store, text, cells, out);
    lastRow = packet.store.AddRowWithText(std::span<const CellRef>(refs, width), static_cast<std::size_t>(w - out));
    ++rows;
    out = w;
    after = p = q;
    if (end - p < 2 || p[0] != ',' || p[1] != '[') break;
    after = ++p;
  }
  return {after, rows, lastRow};
}

}  // namespace host
