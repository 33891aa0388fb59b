// RowStore is the storage of a record set's rows: one contiguous text arena, and for each row a
// fixed array of cells, each cell an (offset, length) range of the arena. A million rows of six
// values cost three growing allocations, not six million.
//
// Promises:
// - Rows are identified by a RowId, their position of creation; ids stay valid for the life of
//   the store (rows are never moved or freed; the record set decides which rows are live).
// - Text is append-only: rewriting a cell appends the new text, so a cell range, once taken,
//   keeps reading the same text (the record set uses this to keep a row's old values across an
//   edit for free).
// - The arena holds at most 4 GiB of text; beyond that, writing raises EDataSetError.
// - Copies share their storage until one of them writes (copy on write): a decoded packet and
//   the record set that loaded it hold one arena, and the record set copies it only if it
//   changes a row while the packet is still held elsewhere.
//
// Thread rules: no internal synchronisation; one thread at a time per store. Distinct stores that
// share storage may be read from different threads. Cheap to copy and move.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "host/data/GrowBuffer.h"

namespace host {

using RowId = std::uint32_t;

// One value of a row: a range of the arena. The empty value is {0, 0}.
struct CellRef {
  std::uint32_t offset = 0;
  std::uint32_t length = 0;
};

class RowStore {
 public:
  // REQUIRES: columns >= 0.
  explicit RowStore(int columns = 0)
      : columns_(columns),
        arena_(std::make_shared<GrowBuffer<char>>()),
        cells_(std::make_shared<GrowBuffer<CellRef>>()) {}
  // An empty store of `columns` columns whose cells may refer to the text of `textFrom` (shared,
  // not copied): for a store that picks, reorders or shortens the values of another.
  static RowStore SharingText(const RowStore& textFrom, int columns) {
    RowStore out(columns);
    out.arena_ = textFrom.arena_;
    return out;
  }
  RowStore(RowStore&&) noexcept = default;
  RowStore& operator=(RowStore&&) noexcept = default;
  RowStore(const RowStore&) = default;
  RowStore& operator=(const RowStore&) = default;

  int Columns() const { return columns_; }
  // Number of rows ever created.
  std::size_t RowCount() const { return rows_; }
  // Bytes of text held (live or not).
  std::size_t TextBytes() const { return arena_->size(); }
  // Bytes of memory held for text and cells (capacity, not size).
  std::size_t HeldBytes() const {
    return arena_->capacity() + cells_->capacity() * sizeof(CellRef);
  }
  // Gives back memory reserved beyond what is held.
  void ShrinkToFit();

  // Reserves room for rows and text bytes (a hint; never required).
  void Reserve(std::size_t rows, std::size_t textBytes);

  // Appends a row of empty values and returns its id.
  RowId AddEmptyRow();
  // Appends a row whose cells are exactly `cells` (ranges of this store's arena).
  // REQUIRES: cells.size() == Columns().
  RowId AddRowFromCells(std::span<const CellRef> cells);

  std::string_view Cell(RowId row, int column) const {
    return Text((*cells_)[static_cast<std::size_t>(row) * columns_ + column]);
  }
  std::string_view Text(CellRef cell) const {
    return std::string_view(arena_->data() + cell.offset, cell.length);
  }
  // Writes text into a cell (appending it to the arena). Raises EDataSetError when the arena
  // would exceed 4 GiB.
  void SetCell(RowId row, int column, std::string_view text) {
    const CellRef cell = Append(text);
    OwnCells();
    (*cells_)[static_cast<std::size_t>(row) * columns_ + column] = cell;
  }
  // The cells of a row (valid until the next row is added).
  std::span<const CellRef> RowCells(RowId row) const {
    return {cells_->data() + static_cast<std::size_t>(row) * columns_,
            static_cast<std::size_t>(columns_)};
  }
  // Replaces the cells of a row. REQUIRES: cells.size() == Columns().
  void SetRowCells(RowId row, std::span<const CellRef> cells);

  // Bulk appending, for a reader that copies a row's text straight into the arena while it scans:
  // TextRoom makes room for `bytes` more bytes of text and returns where the next text byte goes
  // (offset TextBytes()), or null when the arena would pass 4 GiB (then use SetCell, which says
  // so). AddRowWithText then keeps the next `textBytes` bytes written there and appends a row of
  // `cells`, which refer to them; several rows may follow one TextRoom, their texts one after
  // another. The room stays valid until the next TextRoom, SetCell or copy-on-write.
  // REQUIRES: the rows' texts together fit the room asked for; cells.size() == Columns().
  char* TextRoom(std::size_t bytes);
  RowId AddRowWithText(std::span<const CellRef> cells, std::size_t textBytes);

 private:
  // Make the text or the cells this store's own before writing them.
  void OwnText() {
    if (arena_.use_count() > 1) arena_ = std::make_shared<GrowBuffer<char>>(*arena_);
  }
  void OwnCells() {
    if (cells_.use_count() > 1) cells_ = std::make_shared<GrowBuffer<CellRef>>(*cells_);
  }
  CellRef Append(std::string_view text);

  int columns_ = 0;
  std::size_t rows_ = 0;
  std::shared_ptr<GrowBuffer<char>> arena_;
  std::shared_ptr<GrowBuffer<CellRef>> cells_;
};

}  // namespace host
