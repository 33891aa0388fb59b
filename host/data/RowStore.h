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
//
// Thread rules: no internal synchronisation; one thread at a time. Movable, not copyable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

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
  explicit RowStore(int columns = 0) : columns_(columns) {}
  RowStore(RowStore&&) noexcept = default;
  RowStore& operator=(RowStore&&) noexcept = default;
  RowStore(const RowStore&) = delete;
  RowStore& operator=(const RowStore&) = delete;

  int Columns() const { return columns_; }
  // Number of rows ever created.
  std::size_t RowCount() const { return rows_; }
  // Bytes of text held (live or not).
  std::size_t TextBytes() const { return arena_.size(); }

  // Reserves room for rows and text bytes (a hint; never required).
  void Reserve(std::size_t rows, std::size_t textBytes);

  // Appends a row of empty values and returns its id.
  RowId AddEmptyRow();
  // Appends a row whose cells are exactly `cells` (ranges of this store's arena).
  // REQUIRES: cells.size() == Columns().
  RowId AddRowFromCells(std::span<const CellRef> cells);

  std::string_view Cell(RowId row, int column) const {
    return Text(cells_[static_cast<std::size_t>(row) * columns_ + column]);
  }
  std::string_view Text(CellRef cell) const {
    return std::string_view(arena_.data() + cell.offset, cell.length);
  }
  // Writes text into a cell (appending it to the arena). Raises EDataSetError when the arena
  // would exceed 4 GiB.
  void SetCell(RowId row, int column, std::string_view text) {
    cells_[static_cast<std::size_t>(row) * columns_ + column] = Append(text);
  }
  // The cells of a row (valid until the next row is added).
  std::span<const CellRef> RowCells(RowId row) const {
    return {cells_.data() + static_cast<std::size_t>(row) * columns_,
            static_cast<std::size_t>(columns_)};
  }
  // Replaces the cells of a row. REQUIRES: cells.size() == Columns().
  void SetRowCells(RowId row, std::span<const CellRef> cells);

 private:
  CellRef Append(std::string_view text);

  int columns_ = 0;
  std::size_t rows_ = 0;
  std::string arena_;
  std::vector<CellRef> cells_;
};

}  // namespace host
