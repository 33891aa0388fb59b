#include "server/store/GroupSortCursor.h"

#include <algorithm>
#include <utility>

namespace server {

GroupSortCursor::GroupSortCursor(std::unique_ptr<RowCursor> in, std::vector<size_t> sortColumns,
                                 size_t shownColumns)
    : in_(std::move(in)), sortColumns_(std::move(sortColumns)), shownColumns_(shownColumns) {}

bool GroupSortCursor::Next() {
  if (next_ == order_.size()) {
    if (!ReadGroup()) return false;
  }
  const std::string_view* values = values_.data() + order_[next_++] * width_;
  row_.assign(values, values + shownColumns_);
  return true;
}

void GroupSortCursor::Keep(std::span<const std::string_view> row) {
  if (width_ == 0) {
    width_ = row.size();
    if (width_ < shownColumns_ || width_ == 0) throw EStoreError("GroupSortCursor: the rows are narrower than shown");
    for (const size_t c : sortColumns_) {
      if (c >= width_) throw EStoreError("GroupSortCursor: a sort column is beyond the row");
    }
  }
  if (row.size() != width_) throw EStoreError("GroupSortCursor: rows of different widths");
  for (const std::string_view v : row) {
    bytes_.append(v);
    ends_.push_back(bytes_.size());
  }
}

// Reads the next group whole into bytes_ and sorts it. Returns false when in_ has no more rows.
bool GroupSortCursor::ReadGroup() {
  bytes_.clear();
  ends_.clear();
  if (!inHoldsRow_) {
    if (inDone_ || !in_->Next()) {
      inDone_ = true;
      return false;
    }
  }
  Keep(in_->Row());
  const size_t groupEnd = ends_[0];  // the group's value is the first value kept
  inHoldsRow_ = false;
  while (in_->Next()) {
    const auto row = in_->Row();
    if (row.empty() || row[0] != std::string_view(bytes_.data(), groupEnd)) {
      inHoldsRow_ = true;
      break;
    }
    Keep(row);
  }
  if (!inHoldsRow_) inDone_ = true;

  // Views are made once the group's bytes no longer move.
  values_.clear();
  size_t start = 0;
  for (const size_t end : ends_) {
    values_.emplace_back(bytes_.data() + start, end - start);
    start = end;
  }
  const size_t rows = ends_.size() / width_;
  order_.resize(rows);
  for (size_t i = 0; i < rows; ++i) order_[i] = i;
  // Stable, so rows equal in every sort column keep the order they came in.
  std::stable_sort(order_.begin(), order_.end(), [this](size_t a, size_t b) {
    for (const size_t c : sortColumns_) {
      const int cmp = values_[a * width_ + c].compare(values_[b * width_ + c]);
      if (cmp != 0) return cmp < 0;
    }
    return false;
  });
  next_ = 0;
  return true;
}

}  // namespace server
