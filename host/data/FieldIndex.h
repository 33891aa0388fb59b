// FieldIndex maps each value of one column to the live rows holding it, each list in row order
// (ascending sequence number). A filter on that column takes its rows from here, so switching the
// filter to another value costs the rows of that value, not a scan of the whole set.
//
// The record set keeps the index exact: it adds a row when it is posted or loaded, removes it
// when deleted, and moves it when a post changes its value. Rows being inserted are not indexed.
//
// Layout: built from a load, the rows of every value lie in one array, value after value (a
// counting sort, so each value's rows keep their order), and the values sit in an open-addressing
// table: a million rows of a hundred thousand values cost a few allocations, not two per value.
// When every value's rows are one run of consecutive row ids (a related list as loaded, grouped by
// product), a value keeps only its first row and count and there is no array of rows. A value's
// key is not copied: it is the text of one of its rows' cells in the record set's store, which
// never rewrites text in place. A value changed afterwards (a row added or removed) gets a list of
// its own.
//
// Every call that reads keys takes the store the index was built over (or a copy of it, which
// holds the same text at the same places).
//
// Thread rules: no internal synchronisation; one thread at a time. Movable, not copyable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "host/data/RowStore.h"
#include "host/data/SeqNumbers.h"

namespace host {

class FieldIndex {
 public:
  explicit FieldIndex(int column) : column_(column) {}
  FieldIndex(FieldIndex&&) noexcept = default;
  FieldIndex& operator=(FieldIndex&&) noexcept = default;
  FieldIndex(const FieldIndex&) = delete;
  FieldIndex& operator=(const FieldIndex&) = delete;

  int Column() const { return column_; }

  // Rebuilds the index from rows of store, given in row order.
  void Build(const RowStore& store, std::span<const RowId> rows);
  // Adds row under its value in store. REQUIRES: the row is not indexed; seq[row] is its sequence
  // number.
  void Add(const RowStore& store, RowId row, const SeqNumbers& seq);
  // Removes row from under key (a no-op when absent).
  void Remove(const RowStore& store, RowId row, std::string_view key, const SeqNumbers& seq);

  // The rows of one value in row order: ids held by the index, or a run of consecutive ids.
  class RowList {
   public:
    class iterator {
     public:
      using iterator_category = std::forward_iterator_tag;
      using value_type = RowId;
      using difference_type = std::ptrdiff_t;
      using pointer = const RowId*;
      using reference = RowId;
      iterator() = default;
      iterator(const RowId* ids, RowId id) : ids_(ids), id_(id) {}
      RowId operator*() const { return ids_ ? *ids_ : id_; }
      iterator& operator++() {
        if (ids_) {
          ++ids_;
        } else {
          ++id_;
        }
        return *this;
      }
      iterator operator++(int) {
        iterator was = *this;
        ++*this;
        return was;
      }
      bool operator==(const iterator& other) const { return ids_ == other.ids_ && id_ == other.id_; }

     private:
      const RowId* ids_ = nullptr;
      RowId id_ = 0;
    };
    RowList() = default;
    RowList(const RowId* ids, RowId first, std::size_t count) : ids_(ids), first_(first), count_(count) {}
    std::size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    RowId front() const { return *begin(); }
    iterator begin() const { return {ids_, first_}; }
    iterator end() const {
      return ids_ ? iterator{ids_ + count_, first_} : iterator{nullptr, static_cast<RowId>(first_ + count_)};
    }

   private:
    const RowId* ids_ = nullptr;  // null: the ids first, first + 1, ...
    RowId first_ = 0;
    std::size_t count_ = 0;
  };
  // The rows holding key, in row order (empty when none). Valid until the index changes.
  RowList Rows(const RowStore& store, std::string_view key) const;

 private:
  struct Entry {
    std::uint32_t hash;       // the low bits of the key's hash
    CellRef key;              // the key's text in the store
    std::uint32_t begin;      // first of its rows in runs_, or its first row (consecutive runs)
    std::uint32_t count;      // number of its built rows
    std::int32_t own;         // its own list in owned_ once changed, else -1
  };
  static std::size_t HashOf(std::string_view key) { return std::hash<std::string_view>{}(key); }
  // The entry of key, or -1.
  std::int64_t Find(const RowStore& store, std::string_view key, std::size_t hash) const;
  // Adds an entry for key, the text of cell (REQUIRES: absent), and returns it.
  std::uint32_t Insert(CellRef cell, std::size_t hash);
  void Place(std::uint32_t entry);
  // The list of its own of entry e, made from its built rows when it has none yet.
  std::vector<RowId>& Own(std::uint32_t e);

  int column_;
  std::vector<std::uint32_t> slots_;  // 0: empty; else entry + 1
  std::vector<Entry> entries_;
  bool consecutive_ = false;  // built entries are runs of consecutive row ids; runs_ is empty
  std::vector<RowId> runs_;
  std::vector<std::vector<RowId>> owned_;
};

}  // namespace host
