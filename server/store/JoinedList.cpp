#include "server/store/JoinedList.h"

#include <algorithm>
#include <bit>
#include <utility>

namespace server {

bool IsJoinedList(ListKind kind) { return kind == ListKind::Supplier || kind == ListKind::Client; }

const JoinedList& JoinedListOf(ListKind kind) {
  constexpr ColumnSource kProduct{false, 0}, kTyped{false, 1}, kKey{false, 2};
  constexpr ColumnSource kNumber{true, 0}, kName{true, 1}, kPersonType{true, 2};
  static const JoinedList suppliers{
      "SELECT CDPRODUTODES, CDFORNECEDDES, CDFORNECED FROM DESONERA_FORNECEDOR ORDER BY CDPRODUTODES, CDFORNECED",
      "SELECT NRINSJURFORN, NMRAZSOCFORN, IDTPIJURFORN FROM FORNECEDOR WHERE CDFORNECED = $1",
      "SELECT CDFORNECED, NRINSJURFORN, NMRAZSOCFORN, IDTPIJURFORN FROM FORNECEDOR",
      {kProduct, kTyped, kName, kPersonType, kKey, kNumber},
      5};
  static const JoinedList clients{
      "SELECT CDPRODUTODES, CDCLIENTEDES, CDCLIENTE FROM DESONERA_CLIENTE ORDER BY CDPRODUTODES, CDCLIENTE",
      "SELECT NRINSJURCLIE, NMRAZSOCCLIE, IDTPIJURCLIE FROM CLIENTE WHERE CDCLIENTE = $1",
      "SELECT CDCLIENTE, NRINSJURCLIE, NMRAZSOCCLIE, IDTPIJURCLIE FROM CLIENTE",
      {kProduct, kTyped, kKey, kNumber, kName, kPersonType},
      3};
  if (kind == ListKind::Supplier) return suppliers;
  if (kind == ListKind::Client) return clients;
  throw EStoreError("internal error: not a joined list");
}

JoinedListCursor::JoinedListCursor(std::unique_ptr<RowCursor> relation, const JoinedList& list, Lookup lookup)
    : relation_(std::move(relation)), list_(list), lookup_(std::move(lookup)) {
  row_.resize(list_.columns.size() + 1);
}

bool JoinedListCursor::Next() {
  if (!relation_->Next()) return false;
  const auto relation = relation_->Row();
  if (relation.size() != 3) throw EStoreError("JoinedListCursor: a relation row of the wrong width");
  const MasterEntry* entry = lookup_(relation[2]);
  for (size_t i = 0; i < list_.columns.size(); ++i) {
    const ColumnSource c = list_.columns[i];
    const auto at = static_cast<size_t>(c.column);
    row_[i] = !c.master ? relation[at] : entry ? std::string_view(entry->values[at]) : std::string_view();
  }
  row_.back() = entry ? "1" : "0";
  return true;
}

const MasterEntry* MasterEntries::Find(std::string_view key) const {
  if (slots_.empty()) return nullptr;
  for (size_t slot = std::hash<std::string_view>()(key) & (slots_.size() - 1); slots_[slot] != kEmpty;
       slot = (slot + 1) & (slots_.size() - 1)) {
    const MasterEntry& entry = entries_[slots_[slot]];
    if (entry.key == key) return &entry;
  }
  return nullptr;
}

const MasterEntry& MasterEntries::Add(MasterEntry entry) {
  entries_.push_back(std::move(entry));
  if (2 * entries_.size() > slots_.size()) {
    // Grow: every entry is placed again, this one included.
    slots_.assign(std::bit_ceil(std::max<size_t>(64, 4 * entries_.size())), kEmpty);
    for (size_t i = 0; i < entries_.size(); ++i) Place(i);
  } else {
    Place(entries_.size() - 1);
  }
  return entries_.back();
}

void MasterEntries::Place(size_t index) {
  size_t slot = std::hash<std::string_view>()(entries_[index].key) & (slots_.size() - 1);
  while (slots_[slot] != kEmpty) slot = (slot + 1) & (slots_.size() - 1);
  slots_[slot] = static_cast<uint32_t>(index);
}

void MasterEntries::Clear() {
  entries_.clear();
  slots_.clear();
}

std::unique_ptr<RowCursor> ReadJoinedList(std::unique_ptr<RowCursor> relation, ListKind kind,
                                          JoinedListCursor::Lookup lookup) {
  const JoinedList& list = JoinedListOf(kind);
  const size_t flag = list.columns.size();
  return std::make_unique<GroupSortCursor>(std::make_unique<JoinedListCursor>(std::move(relation), list, std::move(lookup)),
                                           std::vector<size_t>{flag, list.numberColumn}, flag);
}

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
