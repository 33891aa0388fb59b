#include "server/store/JoinedList.h"

#include <algorithm>
#include <bit>
#include <cstring>
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

JoinedListCursor::JoinedListCursor(std::unique_ptr<RowCursor> relation, const JoinedList& list, Lookup lookup,
                                   const MasterEntries& hints)
    : relation_(std::move(relation)), list_(list), lookup_(std::move(lookup)), hints_(hints) {
  row_.resize(list_.columns.size() + 1);
}

// Fills the rows read ahead up to kAhead, hinting the slot of each new row's key.
void JoinedListCursor::ReadAhead() {
  while (count_ < kAhead && !relationDone_) {
    if (!relation_->Next()) {
      relationDone_ = true;
      break;
    }
    const auto row = relation_->Row();
    if (row.size() != 3) throw EStoreError("JoinedListCursor: a relation row of the wrong width");
    Ahead& a = ahead_[(head_ + count_) % kAhead];
    a.bytes.clear();
    for (size_t i = 0; i < 3; ++i) {
      a.bytes.append(row[i]);
      a.ends[i] = a.bytes.size();
    }
    a.hash = MasterEntries::Hash(row[2]);
    hints_.PrefetchSlot(a.hash);
    ++count_;
  }
}

bool JoinedListCursor::Next() {
  ReadAhead();
  if (count_ == 0) return false;
  // Half the window ahead, the slot hinted when that row was read is at hand: hint its record.
  if (count_ > kAhead / 2) hints_.PrefetchRecord(ahead_[(head_ + kAhead / 2) % kAhead].hash);
  const Ahead& a = ahead_[head_];
  head_ = (head_ + 1) % kAhead;
  --count_;
  const std::array<std::string_view, 3> relation = {std::string_view(a.bytes).substr(0, a.ends[0]),
                                                   std::string_view(a.bytes).substr(a.ends[0], a.ends[1] - a.ends[0]),
                                                   std::string_view(a.bytes).substr(a.ends[1], a.ends[2] - a.ends[1])};
  const MasterEntry* entry = lookup_(relation[2], a.hash);
  for (size_t i = 0; i < list_.columns.size(); ++i) {
    const ColumnSource c = list_.columns[i];
    const auto at = static_cast<size_t>(c.column);
    row_[i] = !c.master ? relation[at] : entry ? std::string_view(entry->values[at]) : std::string_view();
  }
  row_.back() = entry ? "1" : "0";
  return true;
}

namespace {

constexpr size_t kRecordHead = 5 * sizeof(uint32_t);

}  // namespace

const MasterEntry* MasterEntries::Read(uint32_t at) {
  const char* record = records_.data() + size_t{at} * kAlign;
  std::array<uint32_t, 5> head;
  std::memcpy(head.data(), record, kRecordHead);
  const char* text = record + kRecordHead;
  current_.key = std::string_view(text, head[0]);
  text += head[0];
  for (size_t i = 0; i < current_.values.size(); ++i) {
    current_.values[i] = std::string_view(text, head[i + 1]);
    text += head[i + 1];
  }
  current_.found = head[4] != 0;
  return &current_;
}

const MasterEntry* MasterEntries::Find(std::string_view key, uint64_t hash) {
  if (slots_.empty()) return nullptr;
  const auto tag = static_cast<uint32_t>(hash >> 32);
  const size_t mask = slots_.size() - 1;
  for (size_t slot = hash & mask; slots_[slot].at != kEmpty; slot = (slot + 1) & mask) {
    if (slots_[slot].tag != tag) continue;
    const MasterEntry* entry = Read(slots_[slot].at);
    if (entry->key == key) return entry;
  }
  return nullptr;
}

const MasterEntry* MasterEntries::Add(std::string_view key, const std::array<std::string_view, 3>& values,
                                      bool found) {
  const size_t start = records_.size();
  if (start / kAlign >= kEmpty) throw EStoreError("too many master entries to hold in memory");
  std::array<uint32_t, 5> head{};
  const auto length = [](std::string_view text) {
    if (text.size() > UINT32_MAX) throw EStoreError("a master entry's value is too long");
    return static_cast<uint32_t>(text.size());
  };
  head[0] = length(key);
  for (size_t i = 0; i < values.size(); ++i) head[i + 1] = length(values[i]);
  head[4] = found ? 1 : 0;
  records_.append(reinterpret_cast<const char*>(head.data()), kRecordHead);
  records_.append(key);
  for (const std::string_view v : values) records_.append(v);
  records_.resize((records_.size() + kAlign - 1) / kAlign * kAlign);
  const auto at = static_cast<uint32_t>(start / kAlign);
  ++count_;
  if (2 * count_ > slots_.size()) {
    // Grow: every record is placed again, this one included.
    slots_.assign(std::bit_ceil(std::max<size_t>(64, 4 * count_)), Slot{0, kEmpty});
    for (size_t offset = 0; offset < records_.size();) {
      const MasterEntry* entry = Read(static_cast<uint32_t>(offset / kAlign));
      Place(Hash(entry->key), static_cast<uint32_t>(offset / kAlign));
      const char* end = entry->values.back().data() + entry->values.back().size();
      offset = (static_cast<size_t>(end - records_.data()) + kAlign - 1) / kAlign * kAlign;
    }
  } else {
    Place(Hash(key), at);
  }
  return Read(at);
}

void MasterEntries::PrefetchSlot(uint64_t hash) const {
  if (!slots_.empty()) __builtin_prefetch(&slots_[hash & (slots_.size() - 1)]);
}

void MasterEntries::PrefetchRecord(uint64_t hash) const {
  if (slots_.empty()) return;
  const Slot& slot = slots_[hash & (slots_.size() - 1)];
  if (slot.at != kEmpty && slot.tag == static_cast<uint32_t>(hash >> 32)) {
    __builtin_prefetch(records_.data() + size_t{slot.at} * kAlign);
  }
}

void MasterEntries::Place(uint64_t hash, uint32_t at) {
  const size_t mask = slots_.size() - 1;
  size_t slot = hash & mask;
  while (slots_[slot].at != kEmpty) slot = (slot + 1) & mask;
  slots_[slot] = Slot{static_cast<uint32_t>(hash >> 32), at};
}

void MasterEntries::Clear() {
  records_.clear();
  slots_.clear();
  count_ = 0;
}

std::unique_ptr<RowCursor> ReadJoinedList(std::unique_ptr<RowCursor> relation, ListKind kind,
                                          JoinedListCursor::Lookup lookup, const MasterEntries& hints) {
  const JoinedList& list = JoinedListOf(kind);
  const size_t flag = list.columns.size();
  auto joined = std::make_unique<JoinedListCursor>(std::move(relation), list, std::move(lookup), hints);
  return std::make_unique<GroupSortCursor>(std::move(joined), std::vector<size_t>{flag, list.numberColumn}, flag);
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
