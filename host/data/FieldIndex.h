// FieldIndex maps each value of one column to the live rows holding it, each list in row order
// (ascending sequence number). A filter on that column takes its rows from here, so switching the
// filter to another value costs the rows of that value, not a scan of the whole set.
//
// The record set keeps the index exact: it adds a row when it is posted or loaded, removes it
// when deleted, and moves it when a post changes its value. Rows being inserted are not indexed.
//
// Thread rules: no internal synchronisation; one thread at a time. Movable, not copyable.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
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
  // The rows holding key, in row order (empty when none).
  const std::vector<RowId>& Rows(std::string_view key) const;

 private:
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const noexcept {
      return std::hash<std::string_view>{}(s);
    }
  };
  using Map = std::unordered_map<std::string, std::vector<RowId>, Hash, std::equal_to<>>;

  int column_;
  Map map_;
};

}  // namespace host
