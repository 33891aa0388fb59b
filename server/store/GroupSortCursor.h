// GroupSortCursor puts the rows of each group of a cursor in order, where the order depends on a
// column the store cannot index together with the group: a related list is read in the order of
// its own key (product key, item key), which needs no sort, and each product's few rows are then
// sorted here by the item's code from the joined master table. Sorting the whole list in the
// database would sort every row of it again.
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "server/store/Store.h"

namespace server {

class GroupSortCursor : public RowCursor {
 public:
  // in: rows grouped by their first value (all the rows of a group one after the other) and, in
  // each group, in the order that breaks ties; sortColumns: the columns a group's rows are put
  // in order by, compared byte by byte like SQL's binary collation, the first column first;
  // shownColumns: how many leading columns the rows show (later ones serve the sort only, such
  // as a flag that puts rows with a missing master entry first, where SQL puts NULLs).
  GroupSortCursor(std::unique_ptr<RowCursor> in, std::vector<size_t> sortColumns, size_t shownColumns);

  bool Next() override;
  std::span<const std::string_view> Row() const override { return row_; }

 private:
  bool ReadGroup();
  void Keep(std::span<const std::string_view> row);

  std::unique_ptr<RowCursor> in_;
  std::vector<size_t> sortColumns_;
  size_t shownColumns_;
  size_t width_ = 0;             // values of a row from in_
  bool inHoldsRow_ = false;      // in_ stands on the first row of the next group, not yet kept
  bool inDone_ = false;          // in_ has no more rows
  std::string bytes_;            // the values of the group's rows, one after the other
  std::vector<size_t> ends_;     // end of each value in bytes_, width_ per row
  std::vector<std::string_view> values_;  // views of the group's values, width_ per row
  std::vector<size_t> order_;    // the group's rows in sorted order
  size_t next_ = 0;              // position in order_ of the next row to hand out
  std::vector<std::string_view> row_;
};

}  // namespace server
