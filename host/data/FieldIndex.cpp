#include "host/data/FieldIndex.h"

#include <algorithm>
#include <limits>
#include <numeric>

#include "host/data/DataErrors.h"

namespace host {

std::int64_t FieldIndex::Find(const RowStore& store, std::string_view key, std::size_t hash) const {
  if (slots_.empty()) return -1;
  const std::size_t mask = slots_.size() - 1;
  const auto low = static_cast<std::uint32_t>(hash);
  for (std::size_t pos = hash & mask;; pos = (pos + 1) & mask) {
    const std::uint32_t slot = slots_[pos];
    if (slot == 0) return -1;
    const Entry& e = entries_[slot - 1];
    if (e.hash == low && e.key.length == key.size() && store.Text(e.key) == key) return slot - 1;
  }
}

void FieldIndex::Place(std::uint32_t entry) {
  const std::size_t mask = slots_.size() - 1;
  std::size_t pos = entries_[entry].hash & mask;
  while (slots_[pos] != 0) pos = (pos + 1) & mask;
  slots_[pos] = entry + 1;
}

std::uint32_t FieldIndex::Insert(CellRef cell, std::size_t hash) {
  // At most 70% of the slots in use: a lookup stays a probe or two. The table never outgrows the
  // 32 bits of hash an entry keeps, so the bits that place an entry are always known.
  constexpr std::uint64_t kMaxEntries = (std::uint64_t{1} << 32) / 10 * 7;
  if (static_cast<std::uint64_t>(entries_.size()) >= kMaxEntries) throw EDataSetError("A filter index holds at most 3,006,477,103 distinct values");
  if ((entries_.size() + 1) * 10 > slots_.size() * 7) {
    slots_.assign(std::max<std::size_t>(16, slots_.size() * 2), 0);
    for (std::uint32_t e = 0; e < entries_.size(); ++e) Place(e);
  }
  const auto entry = static_cast<std::uint32_t>(entries_.size());
  entries_.push_back({static_cast<std::uint32_t>(hash), cell, 0, 0, -1});
  Place(entry);
  return entry;
}

void FieldIndex::Build(const RowStore& store, std::span<const RowId> rows) {
  slots_.clear();
  entries_.clear();
  runs_.clear();
  owned_.clear();
  // Related rows arrive grouped by key: each run of equal keys is one lookup. The first pass
  // counts the runs and whether each run's row ids follow one another; the second notes each
  // run's entry and counts each key's rows; the third gives each key its place and puts the rows
  // in (in row order), with no second lookup. When every key is one run of consecutive ids (a
  // list as loaded), a key keeps its first row instead, and there is no third pass.
  struct Run {
    std::uint32_t entry;
    std::uint32_t end;  // one past the run's last position in rows
  };
  // Sized once from the number of runs (at least the number of keys), so that nothing grows,
  // copies or rehashes while the index is built.
  std::size_t runCount = 0;
  bool consecutive = true;
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const std::string_view key = store.Cell(rows[r], column_);
    if (r == 0 || store.Cell(rows[r - 1], column_) != key) {
      ++runCount;
    } else if (rows[r] != rows[r - 1] + 1) {
      consecutive = false;
    }
  }
  std::vector<Run> runList;
  runList.reserve(runCount);
  entries_.reserve(runCount);
  std::size_t slotCount = 16;
  while (runCount * 10 > slotCount * 7) slotCount *= 2;
  slots_.assign(slotCount, 0);
  std::size_t i = 0;
  while (i < rows.size()) {
    const CellRef cell = store.RowCells(rows[i])[static_cast<std::size_t>(column_)];
    const std::string_view key = store.Text(cell);
    std::size_t j = i + 1;
    while (j < rows.size() && store.Cell(rows[j], column_) == key) ++j;
    const std::size_t hash = HashOf(key);
    std::int64_t e = Find(store, key, hash);
    if (e < 0) {
      e = Insert(cell, hash);
      entries_[static_cast<std::size_t>(e)].begin = rows[i];
    }
    entries_[static_cast<std::size_t>(e)].count += static_cast<std::uint32_t>(j - i);
    runList.push_back({static_cast<std::uint32_t>(e), static_cast<std::uint32_t>(j)});
    i = j;
  }
  consecutive_ = consecutive && runList.size() == entries_.size();
  if (consecutive_) return;
  std::uint32_t next = 0;
  for (Entry& e : entries_) {
    e.begin = next;
    next += e.count;
    e.count = 0;
  }
  runs_.resize(rows.size());
  std::size_t from = 0;
  for (const Run& run : runList) {
    Entry& e = entries_[run.entry];
    std::copy(rows.begin() + static_cast<std::ptrdiff_t>(from), rows.begin() + static_cast<std::ptrdiff_t>(run.end),
              runs_.begin() + e.begin + e.count);
    e.count += static_cast<std::uint32_t>(run.end - from);
    from = run.end;
  }
}

std::vector<RowId>& FieldIndex::Own(std::uint32_t e) {
  Entry& entry = entries_[e];
  if (entry.own < 0) {
    entry.own = static_cast<std::int32_t>(owned_.size());
    auto& list = owned_.emplace_back(entry.count);
    if (consecutive_) {
      std::iota(list.begin(), list.end(), entry.begin);
    } else {
      std::copy(runs_.begin() + entry.begin, runs_.begin() + entry.begin + entry.count, list.begin());
    }
    entry.count = 0;
  }
  return owned_[static_cast<std::size_t>(entry.own)];
}

void FieldIndex::Add(const RowStore& store, RowId row, const SeqNumbers& seq) {
  const CellRef cell = store.RowCells(row)[static_cast<std::size_t>(column_)];
  const std::string_view key = store.Text(cell);
  const std::size_t hash = HashOf(key);
  std::int64_t e = Find(store, key, hash);
  if (e < 0) e = Insert(cell, hash);
  auto& rows = Own(static_cast<std::uint32_t>(e));
  const auto pos = std::lower_bound(rows.begin(), rows.end(), seq[row],
                                    [&](RowId r, std::uint64_t s) { return seq[r] < s; });
  rows.insert(pos, row);
}

void FieldIndex::Remove(const RowStore& store, RowId row, std::string_view key, const SeqNumbers& seq) {
  const std::int64_t e = Find(store, key, HashOf(key));
  if (e < 0) return;
  auto& rows = Own(static_cast<std::uint32_t>(e));
  const auto pos = std::lower_bound(rows.begin(), rows.end(), seq[row],
                                    [&](RowId r, std::uint64_t s) { return seq[r] < s; });
  if (pos != rows.end() && *pos == row) rows.erase(pos);
}

FieldIndex::RowList FieldIndex::Rows(const RowStore& store, std::string_view key) const {
  const std::int64_t e = Find(store, key, HashOf(key));
  if (e < 0) return {};
  const Entry& entry = entries_[static_cast<std::size_t>(e)];
  if (entry.own >= 0) {
    const auto& list = owned_[static_cast<std::size_t>(entry.own)];
    return {list.data(), 0, list.size()};
  }
  if (consecutive_) return {nullptr, entry.begin, entry.count};
  return {runs_.data() + entry.begin, 0, entry.count};
}

}  // namespace host
