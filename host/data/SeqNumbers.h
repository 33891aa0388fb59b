// SeqNumbers are a record set's sequence numbers by row id: the rows in order are those of
// ascending numbers, spaced so that a row can be put between two others without numbering the
// rest anew. The rows of a load are numbered kGap, 2 kGap, 3 kGap... in row order: those numbers
// are computed, not stored (ten million rows would cost 80 MB), until rows are numbered anew in
// another order; rows added afterwards keep theirs in a vector.
//
// Thread rules: a plain value, one thread at a time. Copyable and movable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "host/data/RowStore.h"

namespace host {

class SeqNumbers {
 public:
  static constexpr std::uint64_t kGap = std::uint64_t{1} << 20;

  std::uint64_t operator[](RowId row) const { return row < counted_ ? (row + 1) * kGap : stored_[row - counted_]; }
  std::size_t size() const { return counted_ + stored_.size(); }

  // Numbers rows 0 .. rows - 1 in row order (kGap, 2 kGap, ...), forgetting every other number.
  void Count(std::size_t rows) {
    counted_ = rows;
    stored_ = {};
  }
  // Gives the next row id its number.
  void push_back(std::uint64_t seq) { stored_.push_back(seq); }
  // Gives row another number.
  void Set(RowId row, std::uint64_t seq) {
    if (row < counted_) Store();
    stored_[row - counted_] = seq;
  }
  // Numbers the rows of order, in that order, kGap, 2 kGap, ...; other rows keep their numbers.
  // Every row in row order is the numbering of a load again: computed, nothing stored.
  void Renumber(std::span<const RowId> order) {
    bool rowOrder = order.size() == size();
    for (std::size_t i = 0; rowOrder && i < order.size(); ++i) rowOrder = order[i] == i;
    if (rowOrder) return Count(order.size());
    Store();
    for (std::size_t i = 0; i < order.size(); ++i) stored_[order[i]] = (i + 1) * kGap;
  }

 private:
  // Makes every number a stored one.
  void Store() {
    if (counted_ == 0) return;
    std::vector<std::uint64_t> all;
    all.reserve(size());
    for (std::size_t row = 0; row < counted_; ++row) all.push_back((row + 1) * kGap);
    all.insert(all.end(), stored_.begin(), stored_.end());
    stored_ = std::move(all);
    counted_ = 0;
  }

  std::size_t counted_ = 0;             // rows 0 .. counted_ - 1 have computed numbers
  std::vector<std::uint64_t> stored_;  // the numbers of rows counted_ and up
};

}  // namespace host
