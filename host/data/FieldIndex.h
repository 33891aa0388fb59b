// FieldIndex maps each value of one column to the live rows holding it, each list in row order
// (ascending sequence number). A filter on that column takes its rows from here, so switching the
// filter to another value costs the rows of that value, not a scan of the whole set.
//
// The record set keeps the index exact: it adds a row when it is posted or loaded, removes it
// when deleted, and moves it when a post changes its value. Rows being inserted are not indexed.
//
// Layout: built from a load, the rows of every value lie in one array, value after value (a
// counting sort, so each value's rows keep their order), and the values sit in an open-addressing
// table whose key texts share one buffer: a million rows of a hundred thousand values cost a few
// allocations, not two per value. A value changed afterwards (a row added or removed) gets a list
// of its own.
//
// Thread rules: no internal synchronisation; one thread at a time. Movable, not copyable.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "host/data/RowStore.h"

namespace host {

class FieldIndex {
 public:
  explicit FieldIndex(int column) : column_(column) {}
  FieldIndex(FieldIndex&&) noexcept = default;
  FieldIndex& operator=(FieldIndex&&) noexcept = default;
  FieldIndex(const FieldIndex&) = delete;
  FieldIndex& operator=(const FieldIndex&) = delete;

  int Column() const { return column_; }

  // Rebuilds the index from rows, given in row order.
  void Build(const RowStore& store, std::span<const RowId> rows);
  // Adds row under key. REQUIRES: the row is not indexed; seq[row] is its sequence number.
  void Add(RowId row, std::string_view key, const std::vector<std::uint64_t>& seq);
  // Removes row from under key (a no-op when absent).
  void Remove(RowId row, std::string_view key, const std::vector<std::uint64_t>& seq);
  // The rows holding key, in row order (empty when none). Valid until the index changes.
  std::span<const RowId> Rows(std::string_view key) const;

 private:
  struct Entry {
    std::size_t hash;
    std::uint32_t keyOffset;
    std::uint32_t keyLength;
    std::uint32_t begin;  // first of its rows in runs_ (built entries)
    std::uint32_t count;  // number of its rows in runs_
    std::int32_t own;     // its own list in owned_ once changed, else -1
  };
  static std::size_t HashOf(std::string_view key) { return std::hash<std::string_view>{}(key); }
  std::string_view KeyOf(const Entry& e) const { return {keys_.data() + e.keyOffset, e.keyLength}; }
  // The entry of key, or -1.
  std::int64_t Find(std::string_view key, std::size_t hash) const;
  // Adds an entry for key (REQUIRES: absent) and returns it.
  std::uint32_t Insert(std::string_view key, std::size_t hash);
  void Place(std::uint32_t entry);
  // The list of its own of entry e, made from its rows in runs_ when it has none yet.
  std::vector<RowId>& Own(std::uint32_t e);

  int column_;
  std::vector<std::uint32_t> slots_;  // 0: empty; else entry + 1
  std::vector<Entry> entries_;
  std::string keys_;
  std::vector<RowId> runs_;
  std::vector<std::vector<RowId>> owned_;
};

}  // namespace host
