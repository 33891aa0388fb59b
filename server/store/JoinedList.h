// The supplier and client lists are ordered by the taxpayer number of the joined master table,
// which no index on the relation holds: a database would look every row's master entry up and
// then sort the whole list. The stores read them instead as the relation in its own key order
// (product key, item key), which needs no sort, with each item's master entry found in memory
// (JoinedListCursor), and sort each product's few rows by the taxpayer number
// (GroupSortCursor). The rows and their order are those of
//   SELECT ... FROM relation d LEFT JOIN master ON key ORDER BY d.CDPRODUTODES, number, d.key
// with a missing master entry reading as empty values, first among its product's rows, as SQL
// puts its NULL number first; numbers compare byte by byte.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "server/store/ListCatalog.h"
#include "server/store/Store.h"

namespace server {

// Where a column of a joined list comes from: the relation's row or the item's master entry.
struct ColumnSource {
  bool master;
  int column;
};

// How a joined list is read, built from the schema (StoreSchema.h) and the list's fields
// (ListCatalog). Every statement is plain SQL that both stores run as it stands.
struct JoinedList {
  std::string relationSql;  // CDPRODUTODES, the typed code, the item key; in key order
  std::string masterSql;    // by the item key ($1): the taxpayer number, name, person type
  std::string mastersSql;   // every master entry: the item key, then masterSql's columns
  std::array<ColumnSource, 6> columns;  // the list's columns, in ListCatalog's order
  size_t numberColumn;                  // the list's column of the taxpayer number
};

// The suppliers' and clients' lists are joined lists; products and branches are not.
bool IsJoinedList(ListKind kind);
// REQUIRES: IsJoinedList(kind).
const JoinedList& JoinedListOf(ListKind kind);

// An item's master entry as a joined list shows it; its text belongs to the MasterEntries that
// gave it out.
struct MasterEntry {
  std::string_view key;
  std::array<std::string_view, 3> values;  // taxpayer number, name, person type
  bool found = true;                       // false: remembered as missing from the master data
};

// The rows of a joined list in the relation's order, each with a last column that is "0" when
// the item has no master entry and "1" when it has one, for GroupSortCursor. lookup gives the
// item's entry (given the key and its MasterEntries::Hash), or null when it has none; the entry
// must stay valid until the next lookup. The entries the lookup finds are held in a
// MasterEntries (hints): the cursor reads the relation kAhead rows ahead and asks for the slots
// and records of their keys to be brought into the processor's caches before they are looked up,
// so that the lookups' waits for memory overlap instead of following one another.
class MasterEntries;
class JoinedListCursor : public RowCursor {
 public:
  using Lookup = std::function<const MasterEntry*(std::string_view key, uint64_t hash)>;
  JoinedListCursor(std::unique_ptr<RowCursor> relation, const JoinedList& list, Lookup lookup,
                   const MasterEntries& hints);

  bool Next() override;
  std::span<const std::string_view> Row() const override { return row_; }

 private:
  static constexpr size_t kAhead = 16;
  // A relation row read ahead: its three values one after another, and its item key's hash.
  struct Ahead {
    std::string bytes;
    std::array<size_t, 3> ends{};
    uint64_t hash = 0;
  };
  void ReadAhead();

  std::unique_ptr<RowCursor> relation_;
  const JoinedList& list_;
  Lookup lookup_;
  const MasterEntries& hints_;
  std::array<Ahead, kAhead> ahead_;
  size_t head_ = 0;   // the next row to give out
  size_t count_ = 0;  // rows read ahead, from head_ on
  bool relationDone_ = false;
  std::vector<std::string_view> row_;
};

// Master entries found by key through an open-addressing table, a power of two in size and at
// most half full: a joined list looks an entry up for every row. With tens of thousands of
// suppliers the lookups miss the processor's caches, so a lookup touches two places only: its
// slot (which holds 32 bits of the key's hash, so that another key's slot is passed over
// without reading its entry) and the entry's record, the key and values in one run of bytes.
class MasterEntries {
 public:
  // The hash a key is placed and found by.
  static uint64_t Hash(std::string_view key) { return std::hash<std::string_view>()(key); }
  // The entry of key, or null. What it gives stays valid until the next call of Find, Add or Clear.
  const MasterEntry* Find(std::string_view key) { return Find(key, Hash(key)); }
  // The same, hash being Hash(key).
  const MasterEntry* Find(std::string_view key, uint64_t hash);
  // Adds the entry of key (not there yet) and returns it, valid as Find's.
  const MasterEntry* Add(std::string_view key, const std::array<std::string_view, 3>& values, bool found = true);
  size_t Size() const { return count_; }
  void Clear();

  // Hints that the key of hash will be looked up soon: first its slot, then (once the slot is
  // at hand) the record it names. They change nothing and may be wrong.
  void PrefetchSlot(uint64_t hash) const;
  void PrefetchRecord(uint64_t hash) const;

 private:
  struct Slot {
    uint32_t tag;  // the high 32 bits of the key's hash
    uint32_t at;   // the record's offset in records_ in units of kAlign; kEmpty where none
  };
  static constexpr uint32_t kEmpty = UINT32_MAX;
  static constexpr size_t kAlign = 8;
  const MasterEntry* Read(uint32_t at);
  void Place(uint64_t hash, uint32_t at);
  // Records one after another, each kAlign-aligned: four 32-bit lengths (key and values), the
  // found flag as 32 bits, then the key's and the values' bytes.
  std::string records_;
  std::vector<Slot> slots_;
  size_t count_ = 0;
  MasterEntry current_;  // what Find and Add last gave out
};

// The joined list kind read from relation, its rows looked up through lookup and put in order.
// hints: as JoinedListCursor's.
std::unique_ptr<RowCursor> ReadJoinedList(std::unique_ptr<RowCursor> relation, ListKind kind,
                                          JoinedListCursor::Lookup lookup, const MasterEntries& hints);

// Puts the rows of each group of a cursor in order by some of their columns.
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
