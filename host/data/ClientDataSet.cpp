#include "host/data/ClientDataSet.h"

#include <algorithm>
#include <limits>
#include <optional>

#include "host/data/DecodedAnswer.h"
#include "host/data/FieldIndex.h"
#include "host/data/SameName.h"
#include "host/data/FilterExpression.h"
#include "host/data/PacketReader.h"
#include "host/data/RowStore.h"
#include "host/data/SeqNumbers.h"
#include "host/data/TextLimit.h"
#include "host/wire/PacketWriter.h"

namespace host {

namespace {

// What a physical row is to the record set.
enum class RowStatus : std::uint8_t {
  Pending,   // being inserted, not yet posted
  Stored,    // part of the stored data (loaded or merged)
  Inserted,  // posted insertion, logged as an insert
  Deleted,   // deleted stored row, logged as a delete (not live)
  Original,  // old values of an edited stored row, logged as a delete (not live)
  Dead,      // nothing refers to it
};

struct Change {
  wire::ChangeOp op;
  RowId row;
};

// Spacing of sequence numbers, leaving room to insert rows between neighbours.
constexpr std::uint64_t kSeqGap = SeqNumbers::kGap;
constexpr RowId kNoRow = std::numeric_limits<RowId>::max();

}  // namespace

struct TClientDataSet::Impl {
  RowStore store;
  // Per physical row: sequence number (row order) and status.
  SeqNumbers seq;
  std::vector<RowStatus> status;
  // Live rows (and the row being inserted), ascending sequence number.
  std::vector<RowId> order;
  // The visible rows when a filter applies; otherwise the view is `order`.
  std::vector<RowId> filtered;
  bool viewFiltered = false;
  std::vector<Change> log;
  // Per column: its index once a filter on it was evaluated.
  std::vector<std::optional<FieldIndex>> indexes;
  // The parsed filter (set when Filter is not blank) and its column while a filter applies.
  std::optional<FilterExpression> expression;
  int filterColumn = -1;

  // Cursor: position in the view, -1 when there is no visible row.
  std::ptrdiff_t cur = -1;
  bool bof = true;
  bool eof = true;

  // Row being edited or inserted, its cells before the edit, and whether a value was written.
  RowId editRow = kNoRow;
  std::vector<CellRef> savedCells;
  bool modified = false;

  // Storage being filled by BeginLoad/LoadRow.
  std::optional<RowStore> loading;

  std::vector<RowId>& View() { return viewFiltered ? filtered : order; }
  const std::vector<RowId>& View() const { return viewFiltered ? filtered : order; }
  std::size_t ViewSize() const { return View().size(); }

  RowId NewRow() {
    const RowId row = store.AddEmptyRow();
    seq.push_back(0);
    status.push_back(RowStatus::Pending);
    return row;
  }

  // Position of row in `order` (found by its sequence number).
  std::size_t OrderPos(RowId row) const {
    const auto it = std::lower_bound(order.begin(), order.end(), seq[row],
                                     [&](RowId r, std::uint64_t s) { return seq[r] < s; });
    return static_cast<std::size_t>(it - order.begin());
  }

  void Renumber() {
    seq.Renumber(order);
  }

  // Removes the row at view position pos from the view and from `order`.
  void RemoveAt(std::size_t pos) {
    auto& view = View();
    const RowId row = view[pos];
    if (viewFiltered) {
      filtered.erase(filtered.begin() + static_cast<std::ptrdiff_t>(pos));
      order.erase(order.begin() + static_cast<std::ptrdiff_t>(OrderPos(row)));
    } else {
      order.erase(order.begin() + static_cast<std::ptrdiff_t>(pos));
    }
  }

  // After the row at the cursor left the view: the row that followed it, or the previous one
  // when it was the last.
  void ClampCursor() {
    const auto size = static_cast<std::ptrdiff_t>(ViewSize());
    if (cur >= size) cur = size - 1;
    bof = eof = (size == 0);
  }

  bool Matches(RowId row) const { return store.Cell(row, filterColumn) == expression->Value(); }

  void IndexAdd(RowId row) {
    for (auto& index : indexes)
      if (index) index->Add(store, row, seq);
  }
  void IndexRemove(RowId row) {
    for (auto& index : indexes)
      if (index) index->Remove(store, row, store.Cell(row, index->Column()), seq);
  }

  void EraseLogEntry(wire::ChangeOp op, RowId row) {
    for (auto it = log.rbegin(); it != log.rend(); ++it) {
      if (it->row == row && it->op == op) {
        log.erase(std::next(it).base());
        return;
      }
    }
  }

  std::span<const CellRef> ValuesOf(RowId row, TDataSetState state) const {
    if (row == editRow && state == TDataSetState::dsEdit) return savedCells;
    return store.RowCells(row);
  }
};

TClientDataSet::TClientDataSet(std::string name, TComponent* owner)
    : TDataSet(std::move(name), owner), impl_(std::make_unique<Impl>()) {}

TClientDataSet::~TClientDataSet() = default;

// ---- helpers ------------------------------------------------------------------------------

namespace {

std::vector<wire::FieldDef> FieldDefsOf(const TDataSet& ds) {
  std::vector<wire::FieldDef> defs;
  defs.reserve(ds.Fields().size());
  for (const TField* f : ds.Fields()) defs.push_back({f->FieldName(), f->Size()});
  return defs;
}

}  // namespace

namespace {

void RequireActive(const TDataSet& ds, const std::string& op) {
  if (!ds.Active())
    throw EDataSetError("Cannot " + op + ": record set '" + ds.Name() + "' is closed");
}

}  // namespace

namespace {

[[noreturn]] void RefuseReadOnly(const std::string& name, const char* op) {
  throw EDataSetError("Cannot " + std::string(op) + ": record set '" + name + "' is read-only");
}

}  // namespace

// Ends a pending edit or insertion the way the platform does before moving: a modified row is
// posted, an untouched one cancelled.
static void CheckBrowseMode(TClientDataSet& ds, bool modified) {
  if (ds.State() != TDataSetState::dsEdit && ds.State() != TDataSetState::dsInsert) return;
  if (modified)
    ds.Post();
  else
    ds.Cancel();
}

// ---- open / close -------------------------------------------------------------------------

void TClientDataSet::Open() {
  if (Active()) return;
  if (filtered_ && impl_->expression) ResolveFilterColumn(*impl_->expression, filter_);
  Impl& I = *impl_;
  // A closed set holds no rows; opening gives an empty set with the current fields.
  if (I.store.Columns() != FieldCount()) I.store = RowStore(FieldCount());
  I.indexes.resize(static_cast<std::size_t>(FieldCount()));
  SetState(TDataSetState::dsBrowse);
  ApplyFilterView();
  Fire(AfterOpen);
  if (impl_->ViewSize() > 0) Fire(AfterScroll);
}

void TClientDataSet::Close() {
  if (!Active()) return;
  Impl fresh;
  fresh.store = RowStore(FieldCount());
  fresh.indexes.resize(FieldCount());
  fresh.expression = impl_->expression;
  // Remember which columns were indexed, so the next load rebuilds those indexes.
  for (std::size_t c = 0; c < impl_->indexes.size() && c < fresh.indexes.size(); ++c)
    if (impl_->indexes[c]) fresh.indexes[c].emplace(static_cast<int>(c));
  *impl_ = std::move(fresh);
  SetState(TDataSetState::dsInactive);
  NotifyDataChanged();
}

// ---- editing ------------------------------------------------------------------------------

void TClientDataSet::Insert() {
  BeginInsertion(false);
}
void TClientDataSet::Append() {
  BeginInsertion(true);
}

void TClientDataSet::BeginInsertion(bool append) {
  const char* op = append ? "append" : "insert";
  RequireActive(*this, op);
  if (readOnly_) RefuseReadOnly(Name(), op);
  CheckBrowseMode(*this, impl_->modified);
  Fire(BeforeInsert);

  Impl& I = *impl_;
  auto& view = I.View();
  const bool atEnd = append || view.empty() || I.cur < 0;
  const RowId row = I.NewRow();
  std::size_t viewPos;
  std::size_t orderPos;
  if (atEnd) {
    viewPos = view.size();
    orderPos = I.order.size();
    if (!I.order.empty() &&
        I.seq[I.order.back()] > std::numeric_limits<std::uint64_t>::max() - 2 * kSeqGap)
      I.Renumber();
    I.seq.Set(row, I.order.empty() ? kSeqGap : I.seq[I.order.back()] + kSeqGap);
  } else {
    viewPos = static_cast<std::size_t>(I.cur);
    const RowId before = view[viewPos];
    orderPos = I.OrderPos(before);
    auto prevSeq = [&] { return orderPos > 0 ? I.seq[I.order[orderPos - 1]] : 0; };
    if (I.seq[before] - prevSeq() < 2) {
      I.Renumber();
    }
    I.seq.Set(row, prevSeq() + (I.seq[before] - prevSeq()) / 2);
  }
  I.order.insert(I.order.begin() + static_cast<std::ptrdiff_t>(orderPos), row);
  if (I.viewFiltered)
    I.filtered.insert(I.filtered.begin() + static_cast<std::ptrdiff_t>(viewPos), row);
  I.cur = static_cast<std::ptrdiff_t>(viewPos);
  I.bof = I.eof = false;
  I.editRow = row;
  I.savedCells.clear();
  I.modified = false;

  SetState(TDataSetState::dsInsert);
  NotifyDataChanged();
  Fire(AfterInsert);
  Fire(AfterScroll);
}

void TClientDataSet::Edit() {
  if (State() == TDataSetState::dsEdit || State() == TDataSetState::dsInsert) return;
  RequireActive(*this, "edit");
  if (readOnly_) RefuseReadOnly(Name(), "edit");
  if (impl_->cur < 0) {
    Insert();
    return;
  }
  Fire(BeforeEdit);
  Impl& I = *impl_;
  const RowId row = I.View()[static_cast<std::size_t>(I.cur)];
  const auto cells = I.store.RowCells(row);
  I.savedCells.assign(cells.begin(), cells.end());
  I.editRow = row;
  I.modified = false;
  SetState(TDataSetState::dsEdit);
}

void TClientDataSet::Post() {
  const TDataSetState state = State();
  if (state != TDataSetState::dsEdit && state != TDataSetState::dsInsert) return;
  Fire(BeforePost);

  Impl& I = *impl_;
  const RowId row = I.editRow;
  if (state == TDataSetState::dsInsert) {
    I.status[row] = logChanges_ ? RowStatus::Inserted : RowStatus::Stored;
    if (logChanges_) I.log.push_back({wire::ChangeOp::Insert, row});
    I.IndexAdd(row);
  } else if (I.modified) {
    for (auto& index : I.indexes) {
      if (!index) continue;
      const std::string_view before = I.store.Text(I.savedCells[index->Column()]);
      const std::string_view after = I.store.Cell(row, index->Column());
      if (before != after) {
        index->Remove(I.store, row, before, I.seq);
        index->Add(I.store, row, I.seq);
      }
    }
    if (I.status[row] == RowStatus::Stored && logChanges_) {
      // The change packet knows only inserts and deletes: an edited stored row travels as the
      // delete of its old values and the insert of its new ones.
      const RowId original = I.store.AddRowFromCells(I.savedCells);
      I.seq.push_back(0);
      I.status.push_back(RowStatus::Original);
      I.log.push_back({wire::ChangeOp::Delete, original});
      I.log.push_back({wire::ChangeOp::Insert, row});
      I.status[row] = RowStatus::Inserted;
    }
  }
  I.editRow = kNoRow;
  I.savedCells.clear();
  I.modified = false;
  if (I.viewFiltered && !I.Matches(row)) {
    // A posted row is visible only when it matches the filter.
    I.filtered.erase(I.filtered.begin() + I.cur);
    I.ClampCursor();
  }
  SetState(TDataSetState::dsBrowse);
  NotifyDataChanged();
  Fire(AfterPost);
}

void TClientDataSet::Cancel() {
  const TDataSetState state = State();
  if (state != TDataSetState::dsEdit && state != TDataSetState::dsInsert) return;
  Impl& I = *impl_;
  const RowId row = I.editRow;
  if (state == TDataSetState::dsInsert) {
    I.RemoveAt(static_cast<std::size_t>(I.cur));
    I.status[row] = RowStatus::Dead;
    I.ClampCursor();
  } else {
    I.store.SetRowCells(row, I.savedCells);
  }
  I.editRow = kNoRow;
  I.savedCells.clear();
  I.modified = false;
  SetState(TDataSetState::dsBrowse);
  NotifyDataChanged();
  Fire(AfterCancel);
  if (state == TDataSetState::dsInsert) Fire(AfterScroll);
}

void TClientDataSet::Delete() {
  RequireActive(*this, "delete");
  if (State() == TDataSetState::dsInsert) {
    Cancel();
    return;
  }
  if (readOnly_) RefuseReadOnly(Name(), "delete");
  if (impl_->cur < 0)
    throw EDataSetError("Cannot delete: record set '" + Name() + "' has no current row");
  Fire(BeforeDelete);

  Impl& I = *impl_;
  if (State() == TDataSetState::dsEdit) {
    // A delete carries the row as stored, not half-edited values.
    I.store.SetRowCells(I.editRow, I.savedCells);
    I.editRow = kNoRow;
    I.savedCells.clear();
    I.modified = false;
  }
  const RowId row = I.View()[static_cast<std::size_t>(I.cur)];
  I.IndexRemove(row);
  I.RemoveAt(static_cast<std::size_t>(I.cur));
  if (I.status[row] == RowStatus::Inserted) {
    // Inserted and deleted before a merge: no trace in the change log.
    I.EraseLogEntry(wire::ChangeOp::Insert, row);
    I.status[row] = RowStatus::Dead;
  } else if (logChanges_) {
    I.log.push_back({wire::ChangeOp::Delete, row});
    I.status[row] = RowStatus::Deleted;
  } else {
    I.status[row] = RowStatus::Dead;
  }
  I.ClampCursor();
  SetState(TDataSetState::dsBrowse);
  NotifyDataChanged();
  Fire(AfterDelete);
  Fire(AfterScroll);
}

// ---- navigation ---------------------------------------------------------------------------

void TClientDataSet::MoveTo(std::ptrdiff_t pos, bool bof, bool eof) {
  Impl& I = *impl_;
  const std::ptrdiff_t old = I.cur;
  I.cur = pos;
  I.bof = bof;
  I.eof = eof;
  if (pos != old) {
    NotifyActiveRowChanged();
    Fire(AfterScroll);
  }
}

void TClientDataSet::First() {
  RequireActive(*this, "move");
  CheckBrowseMode(*this, impl_->modified);
  if (impl_->ViewSize() == 0) return;
  MoveTo(0, true, false);
}

void TClientDataSet::Last() {
  RequireActive(*this, "move");
  CheckBrowseMode(*this, impl_->modified);
  const auto size = static_cast<std::ptrdiff_t>(impl_->ViewSize());
  if (size == 0) return;
  MoveTo(size - 1, false, true);
}

void TClientDataSet::Next() {
  MoveBy(1);
}
void TClientDataSet::Prior() {
  MoveBy(-1);
}

int TClientDataSet::MoveBy(int n) {
  RequireActive(*this, "move");
  CheckBrowseMode(*this, impl_->modified);
  const auto size = static_cast<std::ptrdiff_t>(impl_->ViewSize());
  if (size == 0 || n == 0) return 0;
  const std::ptrdiff_t from = impl_->cur;
  const std::ptrdiff_t wanted = from + n;
  const std::ptrdiff_t to = std::clamp<std::ptrdiff_t>(wanted, 0, size - 1);
  MoveTo(to, wanted<0, wanted> size - 1);
  return static_cast<int>(to - from);
}

int TClientDataSet::RecNo() const {
  return Active() ? static_cast<int>(impl_->cur + 1) : 0;
}

void TClientDataSet::SetRecNo(int n) {
  RequireActive(*this, "move");
  CheckBrowseMode(*this, impl_->modified);
  const auto size = static_cast<std::ptrdiff_t>(impl_->ViewSize());
  if (size == 0) return;
  MoveTo(std::clamp<std::ptrdiff_t>(n, 1, size) - 1, false, false);
}

bool TClientDataSet::Eof() const {
  return !Active() || impl_->ViewSize() == 0 || impl_->eof;
}
bool TClientDataSet::Bof() const {
  return !Active() || impl_->ViewSize() == 0 || impl_->bof;
}
bool TClientDataSet::IsEmpty() const {
  return !Active() || impl_->ViewSize() == 0;
}
int TClientDataSet::RecordCount() const {
  return Active() ? static_cast<int>(impl_->ViewSize()) : 0;
}

// ---- current row --------------------------------------------------------------------------

std::string_view TClientDataSet::CurrentValue(int index) const {
  const Impl& I = *impl_;
  const std::ptrdiff_t pos = displayRow_ > 0 ? displayRow_ - 1 : I.cur;
  if (!Active() || pos < 0 || index < 0 || index >= I.store.Columns()) return {};
  if (static_cast<std::size_t>(pos) >= I.ViewSize()) return {};
  return I.store.Cell(I.View()[static_cast<std::size_t>(pos)], index);
}

void TClientDataSet::SetDisplayRow(int row) {
  if (row < 0 || row > RecordCount()) {
    throw EDataSetError("Record set '" + Name() + "' has no visible row " + std::to_string(row));
  }
  displayRow_ = row;
}

void TClientDataSet::WriteCurrentValue(int index, std::string_view value) {
  Impl& I = *impl_;
  I.store.SetCell(I.editRow, index, value);
  I.modified = true;
  NotifyDataChanged();
}

bool TClientDataSet::HasCurrentRow() const {
  return Active() && impl_->cur >= 0;
}

// ---- filter -------------------------------------------------------------------------------

namespace {

bool IsBlankText(std::string_view s) {
  return s.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

}  // namespace

void TClientDataSet::SetFilter(std::string expression) {
  std::optional<FilterExpression> parsed;
  if (!IsBlankText(expression)) parsed = FilterExpression::Parse(expression);
  if (Active() && filtered_) {
    CheckBrowseMode(*this, impl_->modified);
    if (parsed) ResolveFilterColumn(*parsed, expression);
  }
  filter_ = std::move(expression);
  impl_->expression = std::move(parsed);
  if (Active() && filtered_) ApplyFilterView();
}

void TClientDataSet::SetFiltered(bool on) {
  if (!on && !filtered_) return;
  if (Active()) {
    CheckBrowseMode(*this, impl_->modified);
    if (on && impl_->expression) ResolveFilterColumn(*impl_->expression, filter_);
  }
  filtered_ = on;
  if (Active()) ApplyFilterView();
}

int TClientDataSet::ResolveFilterColumn(const FilterExpression& expression,
                                        const std::string& text) const {
  const TField* f = FindField(expression.FieldName());
  if (!f)
    throw EFilterError("Filter expression \"" + text + "\" names field '" + expression.FieldName() +
                       "', which record set '" + Name() + "' does not have");
  return f->Index();
}

void TClientDataSet::ApplyFilterView() {
  Impl& I = *impl_;
  if (filtered_ && I.expression) {
    const int column = ResolveFilterColumn(*I.expression, filter_);
    if (I.indexes.size() < static_cast<std::size_t>(FieldCount())) I.indexes.resize(FieldCount());
    auto& index = I.indexes[column];
    if (!index) {
      index.emplace(column);
      std::vector<RowId> live;
      live.reserve(I.order.size());
      for (RowId r : I.order)
        if (I.status[r] != RowStatus::Pending) live.push_back(r);
      index->Build(I.store, live);
    }
    I.filterColumn = column;
    const FieldIndex::RowList rows = index->Rows(I.store, I.expression->Value());
    I.filtered.assign(rows.begin(), rows.end());
    I.viewFiltered = true;
  } else {
    I.filterColumn = -1;
    I.filtered.clear();
    I.viewFiltered = false;
  }
  I.cur = I.ViewSize() > 0 ? 0 : -1;
  I.bof = true;
  I.eof = I.ViewSize() == 0;
  NotifyDataChanged();
}

// ---- packets ------------------------------------------------------------------------------

Variant TClientDataSet::Data() const {
  RequireActive(*this, "read the data");
  const Impl& I = *impl_;
  auto out = std::make_shared<std::string>();
  out->reserve(I.store.TextBytes() + I.order.size() * (FieldCount() * 3 + 3) + 256);
  wire::PacketWriter writer(*out);
  const auto defs = FieldDefsOf(*this);
  writer.BeginData(defs);
  std::vector<std::string_view> values(defs.size());
  for (RowId row : I.order) {
    if (I.status[row] == RowStatus::Pending) continue;
    const auto cells = I.ValuesOf(row, State());
    for (std::size_t c = 0; c < values.size(); ++c) values[c] = I.store.Text(cells[c]);
    writer.Row(values);
  }
  writer.End();
  out->reserve(out->size() + kPacketPadding);
  const std::size_t length = out->size();
  return Variant::MakeDataPacket(std::move(out), 0, length);
}

namespace {

// The storage a record set with fields `defs` (none: the packet's own) takes from a decoded
// packet: the packet's own storage, shared, when its columns are the set's and no value needs
// cutting to its field's size; otherwise new cells made in one pass over the same text, columns
// matched by name and values cut to size, as reading the packet's text would give.
RowStore StoreFor(const DecodedPacket& packet, std::span<const wire::FieldDef> defs) {
  const auto& pf = packet.fields;
  const std::span<const wire::FieldDef> target = defs.empty() ? std::span<const wire::FieldDef>(pf) : defs;
  // Per target column: the packet column it comes from (-1: none) and the size it is cut to.
  std::vector<int> source(target.size(), -1);
  bool same = target.size() == pf.size();
  for (std::size_t t = 0; t < target.size(); ++t) {
    for (std::size_t c = 0; c < pf.size(); ++c)
      if (SameName(target[t].name, pf[c].name)) source[t] = static_cast<int>(c);
    same = same && source[t] == static_cast<int>(t) &&
           packet.widest[t] <= static_cast<std::size_t>(std::max(target[t].size, 0));
  }
  if (same) return packet.store;
  // New cells over the same text: a value cut to its field is a prefix of the packet's value.
  RowStore out = RowStore::SharingText(packet.store, static_cast<int>(target.size()));
  const std::size_t rows = packet.store.RowCount();
  out.Reserve(rows, 0);
  std::vector<CellRef> cells(target.size());
  for (std::size_t r = 0; r < rows; ++r) {
    const auto from = packet.store.RowCells(static_cast<RowId>(r));
    for (std::size_t t = 0; t < target.size(); ++t) {
      cells[t] = {};
      if (source[t] < 0) continue;
      const CellRef cell = from[static_cast<std::size_t>(source[t])];
      const std::string_view text = packet.store.Text(cell);
      cells[t] = {cell.offset, static_cast<std::uint32_t>(TruncateToChars(text, target[t].size).size())};
    }
    out.AddRowFromCells(cells);
  }
  return out;
}

}  // namespace

namespace {

TClientDataSet::LoadRunner& Runner() {
  static TClientDataSet::LoadRunner runner;
  return runner;
}
std::size_t runnerMinRows = TClientDataSet::kDefaultLoadRunnerRows;

// A JSON packet of this many bytes or more holds about kDefaultLoadRunnerRows rows or more.
constexpr std::size_t kBytesPerRowGuess = 64;

}  // namespace

void TClientDataSet::SetLoadRunner(LoadRunner runner, std::size_t minRows) {
  Runner() = std::move(runner);
  runnerMinRows = minRows;
}

// What a load needs to know of the set as it is, read before the load's work starts, so that
// the work touches nothing but the packet and the new storage.
struct TClientDataSet::LoadPlan {
  std::string name;
  std::string filterText;
  // The filter's field while a filter applies; its column in the current fields (-1: none).
  std::optional<std::string> filterField;
  int currentColumn = -1;
  // Per column: an index is in use and is rebuilt over the loaded rows.
  std::vector<bool> indexed;
  std::optional<FilterExpression> expression;
};

TClientDataSet::LoadPlan TClientDataSet::PlanLoad() const {
  LoadPlan plan;
  plan.name = Name();
  plan.filterText = filter_;
  if (filtered_ && impl_->expression) {
    plan.filterField = impl_->expression->FieldName();
    if (const TField* f = FindField(*plan.filterField)) plan.currentColumn = f->Index();
  }
  plan.indexed.reserve(impl_->indexes.size());
  for (const auto& index : impl_->indexes) plan.indexed.push_back(index.has_value());
  plan.expression = impl_->expression;
  return plan;
}

void TClientDataSet::SetData(const Variant& packet) {
  if (packet.Kind() != VariantKind::DataPacket)
    throw EPacketError(std::string("Record set '") + Name() +
                       "' can only load a data packet, not " + VariantKindName(packet.Kind()));
  const auto defs = FieldDefsOf(*this);
  const LoadPlan plan = PlanLoad();
  Impl fresh;
  std::vector<wire::FieldDef> packetFields;
  const std::vector<wire::FieldDef>* newFields = nullptr;
  const DecodedPacket* decoded = packet.Decoded();
  // Reading the packet and building the new storage and its indexes touch nothing of the set:
  // a host may run them off its user-interface thread (see SetLoadRunner).
  const auto work = [&] {
    if (decoded) {
      if (!decoded->error.empty()) throw EPacketError(decoded->error);
      newFields = defs.empty() ? &decoded->fields : nullptr;
      Prepare(fresh, StoreFor(*decoded, defs), newFields, plan);
      return;
    }
    const std::string_view json = packet.PacketJson();
    const std::size_t capacity = packet.PacketBuffer()->capacity() - packet.PacketOffset();
    LoadedPacket loaded = PacketReader::ReadData(json, capacity, defs);
    packetFields = std::move(loaded.packetFields);
    newFields = defs.empty() ? &packetFields : nullptr;
    Prepare(fresh, std::move(loaded.store), newFields, plan);
  };
  const std::size_t rows =
      decoded ? decoded->store.RowCount() : packet.PacketJson().size() / kBytesPerRowGuess;
  if (const LoadRunner& runner = Runner(); runner && rows >= runnerMinRows) {
    runner(work);
  } else {
    work();
  }
  Commit(std::move(fresh), newFields);
}

void TClientDataSet::RefreshRows(const Variant& packet, const std::string& fieldName,
                                 std::span<const std::string> values) {
  RequireActive(*this, "refresh rows");
  if (State() != TDataSetState::dsBrowse || !impl_->log.empty())
    throw EDataSetError("Cannot refresh rows: record set '" + Name() + "' has changes not yet merged");
  const TField* keyField = FindField(fieldName);
  if (!keyField) throw EDataSetError("Record set '" + Name() + "' has no field '" + fieldName + "'");
  const int column = keyField->Index();
  if (packet.Kind() != VariantKind::DataPacket)
    throw EPacketError(std::string("Record set '") + Name() + "' can only load a data packet, not " +
                       VariantKindName(packet.Kind()));

  // Everything that can refuse the refresh happens before anything changes: the packet read
  // into storage of the set's columns, its rows grouped by value.
  const auto defs = FieldDefsOf(*this);
  RowStore incoming;
  if (const DecodedPacket* decoded = packet.Decoded()) {
    if (!decoded->error.empty()) throw EPacketError(decoded->error);
    incoming = StoreFor(*decoded, defs);
  } else {
    const std::string_view json = packet.PacketJson();
    incoming = PacketReader::ReadData(json, packet.PacketBuffer()->capacity() - packet.PacketOffset(), defs).store;
  }
  std::vector<std::string_view> keys(values.begin(), values.end());
  std::sort(keys.begin(), keys.end());
  keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
  std::vector<std::vector<RowId>> arriving(keys.size());
  for (RowId r = 0; r < incoming.RowCount(); ++r) {
    const std::string_view key = incoming.Cell(r, column);
    const auto at = std::lower_bound(keys.begin(), keys.end(), key);
    if (at == keys.end() || *at != key)
      throw EPacketError("Record set '" + Name() + "' was sent a row of " + fieldName + " '" + std::string(key) +
                         "', which it did not ask for");
    arriving[static_cast<std::size_t>(at - keys.begin())].push_back(r);
  }

  Impl& I = *impl_;
  if (I.indexes.size() < static_cast<std::size_t>(FieldCount())) I.indexes.resize(FieldCount());
  auto& index = I.indexes[static_cast<std::size_t>(column)];
  if (!index) {
    index.emplace(column);
    index->Build(I.store, I.order);
  }
  SetState(TDataSetState::dsInactive);
  const auto keyOf = [&](RowId r) { return I.store.Cell(r, column); };
  for (std::size_t k = 0; k < keys.size(); ++k) {
    // The value's rows leave: removed from the indexes and from the row order (one range when
    // they lie together, as a loaded list's rows do).
    const FieldIndex::RowList held = index->Rows(I.store, keys[k]);
    const std::vector<RowId> leaving(held.begin(), held.end());
    if (!leaving.empty()) {
      const std::size_t first = I.OrderPos(leaving.front());
      bool together = first + leaving.size() <= I.order.size();
      for (std::size_t i = 0; together && i < leaving.size(); ++i) together = I.order[first + i] == leaving[i];
      for (const RowId r : leaving) {
        I.IndexRemove(r);
        I.status[r] = RowStatus::Dead;
      }
      if (together) {
        I.order.erase(I.order.begin() + static_cast<std::ptrdiff_t>(first),
                      I.order.begin() + static_cast<std::ptrdiff_t>(first + leaving.size()));
      } else {
        std::erase_if(I.order, [&](RowId r) { return I.status[r] == RowStatus::Dead; });
      }
    }
    // The packet's rows of the value arrive where the order of the field puts them.
    const std::vector<RowId>& rows = arriving[k];
    if (rows.empty()) continue;
    const auto where = std::lower_bound(I.order.begin(), I.order.end(), keys[k],
                                        [&](RowId r, std::string_view key) { return keyOf(r) < key; });
    const auto pos = static_cast<std::size_t>(where - I.order.begin());
    const auto gapOk = [&] {
      const std::uint64_t before = pos > 0 ? I.seq[I.order[pos - 1]] : 0;
      const std::uint64_t after = pos < I.order.size() ? I.seq[I.order[pos]] : before + (rows.size() + 1) * kSeqGap;
      return after - before > rows.size() + 1;
    };
    if (!gapOk()) I.Renumber();
    const std::uint64_t before = pos > 0 ? I.seq[I.order[pos - 1]] : 0;
    const std::uint64_t after = pos < I.order.size() ? I.seq[I.order[pos]] : before + (rows.size() + 1) * kSeqGap;
    const std::uint64_t step = (after - before) / (rows.size() + 1);
    std::vector<RowId> added;
    added.reserve(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
      const RowId row = I.store.AddEmptyRow();
      for (int c = 0; c < I.store.Columns(); ++c) {
        const std::string_view text = incoming.Cell(rows[i], c);
        if (!text.empty()) I.store.SetCell(row, c, text);
      }
      I.seq.push_back(before + step * (i + 1));
      I.status.push_back(RowStatus::Stored);
      added.push_back(row);
    }
    I.order.insert(I.order.begin() + static_cast<std::ptrdiff_t>(pos), added.begin(), added.end());
    for (const RowId row : added) I.IndexAdd(row);
  }
  // The rows replaced stay in storage: once they outnumber the live ones (refreshes of a product
  // that keeps growing, a long paste), the live rows are copied into fresh storage, in order.
  if (I.store.RowCount() > 2 * I.order.size() + 4096) {
    RowStore compact(I.store.Columns());
    for (const RowId r : I.order) {
      const RowId row = compact.AddEmptyRow();
      for (int c = 0; c < compact.Columns(); ++c) {
        const std::string_view text = I.store.Cell(r, c);
        if (!text.empty()) compact.SetCell(row, c, text);
      }
    }
    I.store = std::move(compact);
    I.seq.Count(I.order.size());
    I.status.assign(I.order.size(), RowStatus::Stored);
    for (std::size_t i = 0; i < I.order.size(); ++i) I.order[i] = static_cast<RowId>(i);
    for (auto& built : I.indexes) {
      if (built) built->Build(I.store, I.order);
    }
  }
  SetState(TDataSetState::dsBrowse);
  ApplyFilterView();
  Fire(AfterOpen);
  if (impl_->ViewSize() > 0) Fire(AfterScroll);
}

void TClientDataSet::Install(RowStore&& store, const std::vector<wire::FieldDef>* newFields) {
  Impl fresh;
  Prepare(fresh, std::move(store), newFields, PlanLoad());
  Commit(std::move(fresh), newFields);
}

void TClientDataSet::Prepare(Impl& fresh, RowStore&& store, const std::vector<wire::FieldDef>* newFields,
                             const LoadPlan& plan) {
  // Everything that can refuse the load is checked before anything changes.
  std::optional<int> filterColumn;
  if (plan.filterField) {
    const std::string& name = *plan.filterField;
    int column = -1;
    if (newFields) {
      for (std::size_t i = 0; i < newFields->size(); ++i) {
        if (SameName((*newFields)[i].name, name)) column = static_cast<int>(i);
      }
    } else {
      column = plan.currentColumn;
    }
    if (column < 0)
      throw EFilterError("Filter expression \"" + plan.filterText + "\" names field '" + name +
                         "', which record set '" + plan.name + "' does not have");
    filterColumn = column;
  }

  const std::size_t rows = store.RowCount();
  fresh.store = std::move(store);
  fresh.seq.Count(rows);
  fresh.status.assign(rows, RowStatus::Stored);
  fresh.order.resize(rows);
  for (std::size_t i = 0; i < rows; ++i) {
    fresh.order[i] = static_cast<RowId>(i);
  }
  fresh.expression = plan.expression;
  fresh.indexes.resize(static_cast<std::size_t>(fresh.store.Columns()));
  // Indexes in use stay in use: rebuild them over the new rows in the same pass as the load.
  for (std::size_t c = 0; c < fresh.indexes.size(); ++c) {
    const bool inUse = c < plan.indexed.size() && plan.indexed[c];
    if (inUse || (filterColumn && *filterColumn == static_cast<int>(c))) {
      fresh.indexes[c].emplace(static_cast<int>(c));
      fresh.indexes[c]->Build(fresh.store, fresh.order);
    }
  }
}

void TClientDataSet::Commit(Impl&& fresh, const std::vector<wire::FieldDef>* newFields) {
  // Close (reporting the state change), swap, reopen.
  SetState(TDataSetState::dsInactive);
  *impl_ = std::move(fresh);
  if (newFields)
    for (const auto& f : *newFields) AddField(f.name, f.size);
  if (impl_->indexes.size() < static_cast<std::size_t>(FieldCount()))
    impl_->indexes.resize(FieldCount());
  SetState(TDataSetState::dsBrowse);
  ApplyFilterView();
  Fire(AfterOpen);
  if (impl_->ViewSize() > 0) Fire(AfterScroll);
}

// ---- change log ---------------------------------------------------------------------------

int TClientDataSet::ChangeCount() const {
  return static_cast<int>(impl_->log.size());
}

Variant TClientDataSet::Delta() const {
  RequireActive(*this, "read the changes");
  const Impl& I = *impl_;
  auto out = std::make_shared<std::string>();
  wire::PacketWriter writer(*out);
  const auto defs = FieldDefsOf(*this);
  writer.BeginChanges(defs);
  std::vector<std::string_view> values(defs.size());
  for (const Change& change : I.log) {
    const auto cells = I.ValuesOf(change.row, State());
    for (std::size_t c = 0; c < values.size(); ++c) values[c] = I.store.Text(cells[c]);
    writer.Change(change.op, values);
  }
  writer.End();
  out->reserve(out->size() + kPacketPadding);
  const std::size_t length = out->size();
  return Variant::MakeChangePacket(std::move(out), 0, length);
}

void TClientDataSet::MergeChangeLog() {
  Impl& I = *impl_;
  for (const Change& change : I.log) {
    RowStatus& status = I.status[change.row];
    if (status == RowStatus::Inserted)
      status = RowStatus::Stored;
    else if (status == RowStatus::Deleted || status == RowStatus::Original)
      status = RowStatus::Dead;
  }
  I.log.clear();
}

std::string DescribeChanges(const TClientDataSet& dataSet) {
  const auto& I = *dataSet.impl_;
  std::string out;
  for (const auto& change : I.log) {
    if (!out.empty()) out += ' ';
    out += change.op == wire::ChangeOp::Insert ? "insert(" : "delete(";
    const auto cells = I.ValuesOf(change.row, dataSet.State());
    for (std::size_t c = 0; c < cells.size(); ++c) {
      if (c) out += ',';
      out += I.store.Text(cells[c]);
    }
    out += ')';
  }
  return out;
}

// ---- bulk load ----------------------------------------------------------------------------

void TClientDataSet::BeginLoad() {
  impl_->loading.emplace(FieldCount());
}

void TClientDataSet::LoadRow(std::span<const std::string_view> values) {
  Impl& I = *impl_;
  if (!I.loading) throw EDataSetError("LoadRow on record set '" + Name() + "' without BeginLoad");
  if (values.size() != static_cast<std::size_t>(I.loading->Columns()))
    throw EDataSetError("LoadRow on record set '" + Name() + "' got " +
                        std::to_string(values.size()) + " values for " +
                        std::to_string(I.loading->Columns()) + " fields");
  const RowId row = I.loading->AddEmptyRow();
  const auto& fields = Fields();
  for (std::size_t c = 0; c < values.size(); ++c)
    if (!values[c].empty())
      I.loading->SetCell(row, static_cast<int>(c), TruncateToChars(values[c], fields[c]->Size()));
}

void TClientDataSet::EndLoad() {
  Impl& I = *impl_;
  if (!I.loading) throw EDataSetError("EndLoad on record set '" + Name() + "' without BeginLoad");
  RowStore store = std::move(*I.loading);
  I.loading.reset();
  Install(std::move(store), nullptr);
}

void TClientDataSet::CancelLoad() {
  impl_->loading.reset();
}

}  // namespace host
