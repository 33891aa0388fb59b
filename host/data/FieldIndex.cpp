#include "host/data/FieldIndex.h"

#include <algorithm>

namespace host {

void FieldIndex::Build(const RowStore& store, std::span<const RowId> rows) {
  map_.clear();
  // Related rows arrive grouped by key: each run of equal keys is one lookup and one allocation.
  map_.reserve(rows.size() / 8 + 1);
  std::size_t i = 0;
  while (i < rows.size()) {
    const std::string_view key = store.Cell(rows[i], column_);
    std::size_t j = i + 1;
    while (j < rows.size() && store.Cell(rows[j], column_) == key) ++j;
    auto it = map_.find(key);
    if (it == map_.end()) it = map_.emplace(std::string(key), std::vector<RowId>{}).first;
    std::vector<RowId>& list = it->second;
    list.insert(list.end(), rows.begin() + static_cast<std::ptrdiff_t>(i),
                rows.begin() + static_cast<std::ptrdiff_t>(j));
    i = j;
  }
}

void FieldIndex::Add(RowId row, std::string_view key, const std::vector<std::uint64_t>& seq) {
  auto it = map_.find(key);
  if (it == map_.end()) it = map_.emplace(std::string(key), std::vector<RowId>{}).first;
  auto& rows = it->second;
  const auto pos = std::lower_bound(rows.begin(), rows.end(), seq[row],
                                    [&](RowId r, std::uint64_t s) { return seq[r] < s; });
  rows.insert(pos, row);
}

void FieldIndex::Remove(RowId row, std::string_view key, const std::vector<std::uint64_t>& seq) {
  auto it = map_.find(key);
  if (it == map_.end()) return;
  auto& rows = it->second;
  const auto pos = std::lower_bound(rows.begin(), rows.end(), seq[row],
                                    [&](RowId r, std::uint64_t s) { return seq[r] < s; });
  if (pos != rows.end() && *pos == row) rows.erase(pos);
  if (rows.empty()) map_.erase(it);
}

const std::vector<RowId>& FieldIndex::Rows(std::string_view key) const {
  static const std::vector<RowId> kNone;
  const auto it = map_.find(key);
  return it == map_.end() ? kNone : it->second;
}

}  // namespace host
