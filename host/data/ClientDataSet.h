// TClientDataSet is the in-memory record set: rows of text fields loaded from a data packet (or
// row by row through the bulk-load calls), a log of the rows inserted and deleted since the last
// merge, a filter, and packets out (Data, Delta).
//
// Promises, beyond TDataSet's:
// - Storage is one text arena per record set, with cells as (offset, length) and rows as fixed
//   arrays of cells, so a million rows cost a few large allocations, not one per value.
// - SetData replaces the whole content atomically: the packet is read into new storage, and only
//   when all of it was read is it swapped in. A malformed packet raises EPacketError and leaves
//   the record set exactly as it was. Loading empties the change log, keeps Filter and Filtered,
//   reopens the set (raising AfterOpen) and raises AfterScroll when a row is visible. A pending
//   edit or insertion is discarded without events; data sources see the state go to dsInactive
//   and back to dsBrowse. Close discards rows and change log; Open then gives an empty set.
// - Change log: every posted insertion and every deletion of a stored row is logged in the order
//   made. A row inserted and deleted before a merge leaves no trace; a stored row deleted appears
//   as a delete carrying its values. Editing a stored row logs the delete of its old values and
//   the insert of its new ones (the change packet knows only inserts and deletes); editing a
//   pending inserted row just changes that insert. With LogChanges off, changes are applied as if
//   merged at once.
// - Filter: the expression `FIELD = 'text'` (field name in any letter case, blanks allowed around
//   the parts, a quote inside the text doubled; a blank Filter means none). With Filtered on, the
//   set shows, counts and navigates only rows whose field equals the text. Rows are looked up
//   through a per-field index (value -> rows, built on first use and kept up to date on load,
//   insert, post and delete), so switching to another key costs the rows of that key, not the whole
//   set. Changing Filter or Filtered ends a pending edit or insertion, positions on the first
//   visible row and raises no AfterScroll (filters are set from after-scroll handlers). A posted
//   row is visible when it matches the filter: a row posted with a value outside the filter leaves
//   the view, and the row after it (or before it, when it was last) becomes current, still without
//   AfterScroll. The row being inserted is visible until it is posted or cancelled.
// - AfterScroll is raised: after opening (Open, SetData, EndLoad) with a visible row; after each
//   navigation call that moved the current row to a different row; when an insertion begins
//   (after the new, empty row is current); after an insertion is cancelled (row removed, state
//   dsBrowse, AfterCancel, then AfterScroll); after a deletion (AfterDelete, then AfterScroll).
//   Never after a post, never from filtering.
//
// A read-only set (SetReadOnly(true), used by local queries) refuses Insert, Append, Edit and
// Delete with EDataSetError.
//
// Used on the user-interface thread only (the load runner's work excepted, see SetLoadRunner).
// Not copyable or movable.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "host/data/DataSet.h"
#include "host/data/Variant.h"

namespace host {

class FilterExpression;
class RowStore;
namespace wire {
struct FieldDef;
}

class TClientDataSet : public TDataSet {
 public:
  explicit TClientDataSet(std::string name = {}, TComponent* owner = nullptr);
  ~TClientDataSet() override;

  // ---- TDataSet -------------------------------------------------------------------------------
  void Open() override;
  void Close() override;
  void Insert() override;
  void Append() override;
  void Edit() override;
  void Post() override;
  void Cancel() override;
  void Delete() override;
  void First() override;
  void Next() override;
  void Prior() override;
  void Last() override;
  int MoveBy(int n) override;
  int RecNo() const override;
  void SetRecNo(int n) override;
  bool Eof() const override;
  bool Bof() const override;
  bool IsEmpty() const override;
  int RecordCount() const override;

  // ---- Packets --------------------------------------------------------------------------------

  // A data packet of every row in row order, ignoring the filter: posted insertions included,
  // deleted rows and a row still being inserted excluded, a row being edited as it was before the
  // edit. Raises EDataSetError when closed.
  Variant Data() const;
  // Loads a data packet (see the class comment). Fields are matched by name in any letter case;
  // fields the packet lacks read as empty, packet fields the set lacks are ignored, and a set
  // with no fields takes the packet's fields. Values longer than a field keep their first Size()
  // characters; a JSON null reads as empty.
  // Raises EPacketError when packet is not a data packet or is malformed; EFilterError when the
  // set is filtered on a field that the loaded set lacks. Either way nothing changes.
  void SetData(const Variant& packet);

  // Replaces the rows of some values of one field by a data packet's rows, placed where a load of
  // the whole content would put them: for a list loaded in ascending byte order of that field
  // (related rows by product key), the rows of the values that changed are read again instead of
  // the whole list. The set's rows of every other value stay as they are, and must already be in
  // ascending order of the field (as a load of such a list leaves them); the packet's rows of one
  // value keep the packet's order. Fields are matched and values cut as SetData does. Afterwards
  // the set is as SetData leaves it: the filter and its indexes in place, data sources see the
  // state go to dsInactive and back to dsBrowse, AfterOpen, AfterScroll when a row is visible,
  // and the cursor on the first visible row.
  // REQUIRES: the set is open, browsing, with no logged change; raises EDataSetError otherwise or
  // when it has no field of that name, EPacketError when the packet is not a data packet, is
  // malformed, or holds a row whose value is not one of values. Nothing changes then.
  void RefreshRows(const Variant& packet, const std::string& fieldName, std::span<const std::string> values);

  // Runs the part of a large SetData that touches nothing of the set (reading the packet into new
  // storage, building the new rows' order and the filter indexes in use) for every record set: a
  // desktop host runs it on a worker thread while its user-interface thread keeps painting. The
  // runner must run `work` exactly once before returning and pass on whatever it raises; the
  // swap into the set, its events and everything the screen does around the load stay on the
  // calling thread, in the same order. Loads of fewer than minRows rows run inline (a packet
  // not yet decoded is judged by its size, about 64 bytes a row); minRows 0 sends every load to
  // the runner. An empty runner (the default) runs every load inline. Process-wide: set it at
  // start-up.
  using LoadRunner = std::function<void(const std::function<void()>& work)>;
  static constexpr std::size_t kDefaultLoadRunnerRows = 20000;
  static void SetLoadRunner(LoadRunner runner, std::size_t minRows = kDefaultLoadRunnerRows);

  // ---- Change log -----------------------------------------------------------------------------

  // Number of logged changes (each insert and each delete counts one).
  int ChangeCount() const;
  // The change packet of the logged changes, in the order made. Raises EDataSetError when closed.
  Variant Delta() const;
  bool LogChanges() const { return logChanges_; }
  // Turning logging off does not discard changes already logged.
  void SetLogChanges(bool on) { logChanges_ = on; }
  // Makes the logged changes part of the stored data and empties the log.
  void MergeChangeLog();

  // ---- Filter ---------------------------------------------------------------------------------

  const std::string& Filter() const { return filter_; }
  // Sets the filter expression; an empty text means no filtering. Raises EFilterError, naming the
  // expression, when it is outside the filter language (the previous filter stays), or, when
  // filtering is on and the set open, when it names an unknown field.
  void SetFilter(std::string expression);
  bool Filtered() const { return filtered_; }
  // Switches filtering on or off; switching on re-evaluates the rows even when the expression is
  // unchanged. Raises EFilterError when the expression names an unknown field (filtering stays
  // off).
  void SetFiltered(bool on);

  // ---- Bulk load (local queries, hosts) -------------------------------------------------------

  // Starts loading rows into new storage; the visible content is unchanged until EndLoad.
  // A load already begun is discarded. REQUIRES: the fields are defined.
  void BeginLoad();
  // Appends one row, values in field order, each kept to its field's size.
  // Raises EDataSetError when no load is in progress or values.size() != FieldCount().
  void LoadRow(std::span<const std::string_view> values);
  // Replaces the content with the loaded rows exactly as SetData does (change log emptied,
  // filter kept, reopened, AfterOpen, AfterScroll when a row is visible).
  // Raises EDataSetError when no load is in progress.
  void EndLoad();
  // Discards a load in progress (a no-op when none).
  void CancelLoad();

  // ---- Modification policy --------------------------------------------------------------------

  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool on) { readOnly_ = on; }

  // ---- Drawing other rows (hosts) -------------------------------------------------------------

  // Points field reads (TField::AsString, TField::Text and the OnGetText handlers it runs,
  // RowValues) at visible row `row` (1-based) instead of the current row, without moving the
  // current row and without any event; 0 points them back at the current row. For hosts that
  // draw rows other than the current one (grid rows, pick lists): they point, read, and point
  // back before anything else runs. Writes and navigation are unaffected. Raises EDataSetError
  // when row is outside 0..RecordCount().
  void SetDisplayRow(int row);
  int DisplayRow() const { return displayRow_; }

 protected:
  std::string_view CurrentValue(int index) const override;
  void WriteCurrentValue(int index, std::string_view value) override;
  bool HasCurrentRow() const override;

 private:
  friend std::string DescribeChanges(const TClientDataSet& dataSet);
  struct Impl;

  void BeginInsertion(bool append);
  // Makes view position pos current; raises AfterScroll when that is a different position.
  void MoveTo(std::ptrdiff_t pos, bool bof, bool eof);
  // The column the expression compares. Raises EFilterError when the set has no such field.
  int ResolveFilterColumn(const FilterExpression& expression, const std::string& text) const;
  // Recomputes the visible rows and puts the cursor on the first one (no AfterScroll).
  void ApplyFilterView();
  struct LoadPlan;
  // What a load needs of the set as it is (filter, indexes in use), read before the load.
  LoadPlan PlanLoad() const;
  // Builds the content of a load into fresh: store, row order, the indexes of plan. Touches
  // nothing of the set, so it may run on another thread. Raises EFilterError when the set is
  // filtered on a field that newFields (else the current fields) lack.
  static void Prepare(Impl& fresh, RowStore&& store, const std::vector<wire::FieldDef>* newFields,
                      const LoadPlan& plan);
  // Swaps fresh in (fields created from newFields when given) and reopens, with the events.
  void Commit(Impl&& fresh, const std::vector<wire::FieldDef>* newFields);
  // Replaces the content with store (fields created from newFields when given) and reopens.
  void Install(RowStore&& store, const std::vector<wire::FieldDef>* newFields);

  std::unique_ptr<Impl> impl_;
  std::string filter_;
  bool filtered_ = false;
  bool logChanges_ = true;
  bool readOnly_ = false;
  int displayRow_ = 0;
};

// The change log in one line, for assertions and diagnostics: each change as op(values,...)
// separated by one blank, e.g. "insert(a,b) delete(c,d)"; empty when there is no change.
std::string DescribeChanges(const TClientDataSet& dataSet);

}  // namespace host
