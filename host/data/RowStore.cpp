#include "host/data/RowStore.h"

#include <algorithm>
#include <limits>

#include "host/data/DataErrors.h"

namespace host {

void RowStore::Reserve(std::size_t rows, std::size_t textBytes) {
  cells_.reserve(rows * static_cast<std::size_t>(columns_));
  arena_.reserve(textBytes);
}

RowId RowStore::AddEmptyRow() {
  if (rows_ >= std::numeric_limits<RowId>::max())
    throw EDataSetError("A record set holds at most 4294967295 rows");
  cells_.resize(cells_.size() + static_cast<std::size_t>(columns_));
  return static_cast<RowId>(rows_++);
}

RowId RowStore::AddRowFromCells(std::span<const CellRef> cells) {
  const RowId row = AddEmptyRow();
  SetRowCells(row, cells);
  return row;
}

void RowStore::SetRowCells(RowId row, std::span<const CellRef> cells) {
  std::copy(cells.begin(), cells.end(),
            cells_.begin() + static_cast<std::ptrdiff_t>(row) * columns_);
}

CellRef RowStore::Append(std::string_view text) {
  if (text.empty()) return {};
  const std::size_t offset = arena_.size();
  if (text.size() > std::numeric_limits<std::uint32_t>::max() - offset)
    throw EDataSetError("A record set holds at most 4 GiB of text");
  arena_.append(text);
  return {static_cast<std::uint32_t>(offset), static_cast<std::uint32_t>(text.size())};
}

}  // namespace host
