#include "host/data/RowStore.h"

#include <algorithm>
#include <limits>

#include "host/data/DataErrors.h"

namespace host {

void RowStore::Reserve(std::size_t rows, std::size_t textBytes) {
  if (rows) {
    OwnCells();
    cells_->reserve(rows * static_cast<std::size_t>(columns_));
  }
  if (textBytes) {
    OwnText();
    arena_->reserve(textBytes);
  }
}

void RowStore::ShrinkToFit() {
  // Storage shared with another store is left as it is (it is that store's too).
  if (cells_.use_count() == 1) cells_->shrink_to_fit();
  if (arena_.use_count() == 1) arena_->shrink_to_fit();
}

RowId RowStore::AddEmptyRow() {
  if (rows_ >= std::numeric_limits<RowId>::max())
    throw EDataSetError("A record set holds at most 4294967295 rows");
  OwnCells();
  cells_->resize(cells_->size() + static_cast<std::size_t>(columns_));
  return static_cast<RowId>(rows_++);
}

RowId RowStore::AddRowFromCells(std::span<const CellRef> cells) {
  const RowId row = AddEmptyRow();
  SetRowCells(row, cells);
  return row;
}

void RowStore::SetRowCells(RowId row, std::span<const CellRef> cells) {
  OwnCells();
  std::copy(cells.begin(), cells.end(),
            cells_->data() + static_cast<std::size_t>(row) * columns_);
}

char* RowStore::TextRoom(std::size_t bytes) {
  const std::size_t size = arena_->size();
  if (bytes > std::numeric_limits<std::uint32_t>::max() - size) return nullptr;
  OwnText();
  GrowBuffer<char>& arena = *arena_;
  if (size + bytes > arena.capacity()) arena.reserve(std::max(size + bytes, arena.capacity() * 2));
  return arena.data() + size;
}

RowId RowStore::AddRowWithText(std::span<const CellRef> cells, std::size_t textBytes) {
  if (rows_ >= std::numeric_limits<RowId>::max())
    throw EDataSetError("A record set holds at most 4294967295 rows");
  OwnCells();
  cells_->append(cells.data(), cells.size());
  arena_->extend(textBytes);
  return static_cast<RowId>(rows_++);
}

CellRef RowStore::Append(std::string_view text) {
  if (text.empty()) return {};
  OwnText();
  GrowBuffer<char>& arena = *arena_;
  const std::size_t offset = arena.size();
  if (text.size() > std::numeric_limits<std::uint32_t>::max() - offset)
    throw EDataSetError("A record set holds at most 4 GiB of text");
  arena.append(text.data(), text.size());
  return {static_cast<std::uint32_t>(offset), static_cast<std::uint32_t>(text.size())};
}

}  // namespace host
