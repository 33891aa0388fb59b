#include "server/store/JoinedList.h"

#include <algorithm>
#include <bit>
#include <utility>

#include "server/store/StoreSchema.h"

namespace server {

bool IsJoinedList(ListKind kind) { return kind == ListKind::Supplier || kind == ListKind::Client; }

namespace {

// The joined list of kind. The relation is read as (product key, typed code, item key) and a
// master entry as its columns but the key (taxpayer number, name, person type); each field of
// the list is taken from the one that holds a column of its name, the relation first.
JoinedList MakeJoinedList(ListKind kind) {
  const ListTables& tables = TablesOf(kind);
  const StoreTable& relation = *tables.relation;
  const StoreTable& master = tables.master;
  const std::array<const char*, 3> relationColumns = {relation.key[0], relation.columns[2].name, relation.key[1]};
  std::vector<const char*> values;
  for (const StoreColumn& c : master.columns) {
    if (std::string_view(c.name) != tables.Key()) values.push_back(c.name);
  }
  if (relation.columns.size() != 3 || values.size() != 3 || std::string_view(values[0]) != tables.code) {
    throw EStoreError("internal error: the tables of a joined list do not have the expected columns");
  }
  JoinedList list{};
  list.relationSql = std::string("SELECT ") + relationColumns[0] + ", " + relationColumns[1] + ", " +
                     relationColumns[2] + " FROM " + relation.name + " ORDER BY " + relation.key[0] + ", " +
                     relation.key[1];
  std::string valueList;
  for (const char* v : values) valueList += (valueList.empty() ? "" : ", ") + std::string(v);
  list.masterSql = "SELECT " + valueList + " FROM " + master.name + " WHERE " + tables.Key() + " = $1";
  list.mastersSql = std::string("SELECT ") + tables.Key() + ", " + valueList + " FROM " + master.name;
  const auto& fields = ListCatalog::Get(kind).fields;
  if (fields.size() != list.columns.size()) throw EStoreError("internal error: a joined list of the wrong width");
  list.numberColumn = fields.size();
  for (size_t i = 0; i < fields.size(); ++i) {
    const auto at = [&](const auto& names) {
      for (size_t n = 0; n < names.size(); ++n) {
        if (fields[i].name == names[n]) return static_cast<int>(n);
      }
      return -1;
    };
    const int fromRelation = at(relationColumns);
    const int fromMaster = at(values);
    if (fromRelation < 0 && fromMaster < 0) throw EStoreError("internal error: a joined list's field has no column");
    list.columns[i] = fromRelation >= 0 ? ColumnSource{false, fromRelation} : ColumnSource{true, fromMaster};
    if (fields[i].name == tables.code) list.numberColumn = i;
  }
  if (list.numberColumn == fields.size()) throw EStoreError("internal error: a joined list shows no taxpayer number");
  return list;
}

}  // namespace

const JoinedList& JoinedListOf(ListKind kind) {
  static const JoinedList suppliers = MakeJoinedList(ListKind::Supplier);
  static const JoinedList clients = MakeJoinedList(ListKind::Client);
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
