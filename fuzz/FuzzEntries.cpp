#include "fuzz/FuzzEntries.h"

#include <rapidjson/encodedstream.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "host/data/ClientDataSet.h"
#include "host/data/DataErrors.h"
#include "host/data/FilterExpression.h"
#include "host/data/Variant.h"
#include "host/text/EditMask.h"
#include "host/wire/ChangePacketReader.h"
#include "host/wire/EscapedText.h"
#include "host/wire/JsonRpcError.h"
#include "host/wire/JsonRpcRequest.h"
#include "host/wire/JsonRpcResponse.h"
#include "host/wire/PacketWriter.h"

namespace host::fuzz {

namespace {

using Rows = std::vector<std::vector<std::string>>;

void Require(bool ok, const std::string& what) {
  if (!ok) throw EInvariantBroken(what);
}

// True when text is one well-formed JSON document in valid UTF-8, read by a second, independent
// parser (RapidJSON's, iterative, so any depth) that checks all of it. What we send must be one;
// what a reader accepts must have been one.
bool IsJson(std::string_view text) {
  rapidjson::MemoryStream memory(text.data(), text.size());
  rapidjson::EncodedInputStream<rapidjson::UTF8<>, rapidjson::MemoryStream> in(memory);
  rapidjson::BaseReaderHandler<> ignore;
  rapidjson::Reader reader;
  constexpr unsigned kFlags =
      rapidjson::kParseValidateEncodingFlag | rapidjson::kParseIterativeFlag;
  return !reader.Parse<kFlags>(in, ignore).IsError();
}

// Every visible row of ds, in order, walked with First/Next the way screens walk them.
Rows VisibleRows(TClientDataSet& ds) {
  Rows rows;
  if (!ds.Active()) return rows;
  ds.First();
  while (!ds.Eof()) {
    rows.push_back(ds.RowValues());
    ds.Next();
    Require(rows.size() <= static_cast<std::size_t>(ds.RecordCount()),
            "walking the rows visits more rows than RecordCount");
  }
  Require(rows.size() == static_cast<std::size_t>(ds.RecordCount()),
          "walking the rows visits fewer rows than RecordCount");
  return rows;
}

bool IsFilterName(std::string_view name) {
  if (name.empty()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
    if (!letter && !(i > 0 && c >= '0' && c <= '9')) return false;
  }
  return true;
}

// The filter expression selecting rows whose field `name` equals value.
std::string FilterOn(std::string_view name, std::string_view value) {
  std::string out(name);
  out += " = '";
  for (const char c : value) {
    out += c;
    if (c == '\'') out += '\'';
  }
  out += '\'';
  return out;
}

// With the current filter switched off and on again, the filtered view must hold exactly the
// rows of the whole set whose column equals value, in the same order.
void CheckFilterView(TClientDataSet& ds, int column, const std::string& value) {
  ds.SetFiltered(false);
  Rows expected;
  for (auto& row : VisibleRows(ds))
    if (row[static_cast<std::size_t>(column)] == value) expected.push_back(std::move(row));
  ds.SetFiltered(true);
  Require(VisibleRows(ds) == expected, "the filtered view differs from the matching rows");
}

// The checks on a record set that accepted a packet.
void CheckLoaded(TClientDataSet& ds) {
  Require(ds.Active() && ds.State() == TDataSetState::dsBrowse, "a loaded set is not browsing");
  const Rows rows = VisibleRows(ds);
  for (const auto& row : rows) {
    Require(row.size() == ds.Fields().size(), "a row is not as wide as the fields");
    for (std::size_t c = 0; c < row.size(); ++c)
      Require(SplitUtf8Chars(row[c]).size() <= static_cast<std::size_t>(ds.Fields()[c]->Size()),
              "a value is longer than its field");
  }

  // What the set writes, a set with the same fields reads back unchanged.
  TClientDataSet copy("cdsCopy");
  for (const TField* f : ds.Fields()) copy.AddField(f->FieldName(), f->Size());
  try {
    copy.SetData(ds.Data());
  } catch (const EPacketError& e) {
    throw EInvariantBroken(std::string("the set's own packet is refused: ") + e.what());
  }
  Require(VisibleRows(copy) == rows, "the set's own packet reads back different rows");

  // The first row's key filters the set down to the rows that carry it.
  if (rows.empty() || ds.Fields().empty() || !IsFilterName(ds.Fields()[0]->FieldName())) return;
  ds.SetFilter(FilterOn(ds.Fields()[0]->FieldName(), rows[0][0]));
  ds.SetFiltered(true);
  Require(ds.RecordCount() >= 1, "filtering on the first row's key hides that row");
  CheckFilterView(ds, 0, rows[0][0]);
}

// Edits on a loaded set travel as a change packet that the service's reader takes back whole.
void CheckChangesRoundTrip(TClientDataSet& ds) {
  if (ds.IsEmpty() || ds.Fields().empty()) return;
  ds.First();
  const std::vector<std::string> first = ds.RowValues();
  ds.Delete();
  ds.Append();
  for (std::size_t c = 0; c < first.size(); ++c) ds.Fields()[c]->SetAsString(first[c]);
  ds.Post();
  if (!ds.IsEmpty()) {
    ds.Last();
    ds.Edit();
    ds.Fields()[0]->SetAsString("#");
    ds.Post();
  }
  wire::ChangePacket delta;
  try {
    delta = wire::ChangePacketReader::Read(ds.Delta().PacketJson());
  } catch (const wire::EWireError& e) {
    throw EInvariantBroken(std::string("the set's own change packet is refused: ") + e.what());
  }
  Require(delta.changes.size() == static_cast<std::size_t>(ds.ChangeCount()),
          "the change packet does not hold every logged change");
  Require(delta.fields.size() == ds.Fields().size(), "the change packet has other fields");
  for (std::size_t c = 0; c < delta.fields.size(); ++c)
    Require(delta.fields[c].name == ds.Fields()[c]->FieldName(),
            "the change packet renames a field");
  std::string described;
  for (const auto& change : delta.changes) {
    if (!described.empty()) described += ' ';
    described += change.op == wire::ChangeOp::Insert ? "insert(" : "delete(";
    for (std::size_t c = 0; c < change.values.size(); ++c)
      described += (c ? "," : "") + change.values[c];
    described += ')';
  }
  Require(described == DescribeChanges(ds), "the change packet differs from the change log");
}

std::vector<wire::FieldDef> ProductFields() {
  return {{"CDPRODUTO", 10}, {"NMPRODUTO", 40}, {"FLATIVO", 1}};
}

constexpr std::string_view kStoredPacket =
    R"({"fields":[{"name":"CDPRODUTO","size":10},{"name":"NMPRODUTO","size":40},)"
    R"({"name":"FLATIVO","size":1}],"rows":[["P1","Arroz","S"],["P2","Feij\u00e3o","N"]]})";

}  // namespace

Outcome FeedDataPacket(std::string_view bytes) {
  const Variant packet = Variant::MakeDataPacket(bytes);

  TClientDataSet fielded("cdsProduto");
  for (const auto& f : ProductFields()) fielded.AddField(f.name, f.size);
  fielded.SetData(Variant::MakeDataPacket(kStoredPacket));
  const Rows stored = VisibleRows(fielded);
  bool fieldedAccepted = true;
  try {
    fielded.SetData(packet);
  } catch (const EPacketError&) {
    fieldedAccepted = false;
    Require(VisibleRows(fielded) == stored, "a refused packet changed the record set");
  }

  TClientDataSet bare("cdsBare");
  bool bareAccepted = true;
  try {
    bare.SetData(packet);
  } catch (const EPacketError&) {
    bareAccepted = false;
    Require(!bare.Active() && bare.FieldCount() == 0, "a refused packet changed an empty set");
  }
  Require(fieldedAccepted == bareAccepted,
          "a packet is accepted by one record set and refused by another");

  // A set filtered before it loads keeps its filter over the new rows; a set without fields
  // refuses a packet that lacks the filtered field.
  TClientDataSet filtered("cdsFiltrado");
  for (const auto& f : ProductFields()) filtered.AddField(f.name, f.size);
  filtered.SetData(Variant::MakeDataPacket(kStoredPacket));
  filtered.SetFilter("CDPRODUTO = 'P1'");
  filtered.SetFiltered(true);
  const Rows filteredStored = VisibleRows(filtered);
  TClientDataSet bareFiltered("cdsBareFiltrado");
  bareFiltered.SetFilter("cdproduto = 'P1'");
  bareFiltered.SetFiltered(true);
  try {
    filtered.SetData(packet);
    Require(fieldedAccepted, "a filtered set accepts a packet that others refuse");
    CheckFilterView(filtered, 0, "P1");
  } catch (const EPacketError&) {
    Require(!fieldedAccepted, "a filtered set refuses a packet that others accept");
    Require(VisibleRows(filtered) == filteredStored, "a refused packet changed a filtered set");
  }
  try {
    bareFiltered.SetData(packet);
    Require(bareAccepted, "a filtered set accepts a packet that others refuse");
    CheckFilterView(bareFiltered, bareFiltered.FieldByName("CDPRODUTO")->Index(), "P1");
  } catch (const EPacketError&) {
    Require(!bareAccepted, "a filtered set refuses a packet that others accept");
  } catch (const EFilterError&) {
    Require(bareAccepted && !bare.FindField("CDPRODUTO"),
            "a filtered set refuses a packet that holds its field");
    Require(!bareFiltered.Active() && bareFiltered.FieldCount() == 0,
            "a refused packet changed a filtered empty set");
  }

  if (!bareAccepted) return Outcome::Rejected;
  Require(IsJson(bytes), "a packet that is not JSON is accepted");
  CheckLoaded(fielded);
  CheckLoaded(bare);
  CheckChangesRoundTrip(fielded);
  CheckChangesRoundTrip(bare);
  return Outcome::Accepted;
}

namespace {

// An id read from a request must come back as the same id in a response and in a request.
void CheckIdEchoes(const std::string& idJson) {
  const std::string probe = R"({"jsonrpc":"2.0","method":"m","id":)" + idJson + "}";
  try {
    Require(wire::JsonRpcRequest::Parse(probe).IdJson() == idJson,
            "an echoed id reads differently");
  } catch (const wire::EJsonRpcError& e) {
    throw EInvariantBroken("an echoed id is refused: " + idJson + ": " + e.what());
  }
}

bool SameParams(const std::vector<wire::JsonRpcParam>& a,
                const std::vector<wire::JsonRpcParam>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i].kind != b[i].kind || a[i].value != b[i].value) return false;
  return true;
}

}  // namespace

Outcome FeedJsonRpcRequest(std::string_view bytes) {
  wire::JsonRpcRequest request;
  try {
    request = wire::JsonRpcRequest::Parse(bytes);
  } catch (const wire::EJsonRpcError& e) {
    namespace code = wire::rpc_code;
    Require(e.Code() == code::kParseError || e.Code() == code::kInvalidRequest ||
                e.Code() == code::kInvalidParams,
            "a refused request carries an unexpected code");
    Require(e.Code() != code::kParseError || e.IdJson() == "null",
            "a request that is not JSON carries an id");
    CheckIdEchoes(e.IdJson());
    Require(IsJson(wire::JsonRpcResponse::Error(e.IdJson(), e.Code(), e.what())),
            "the error response is not JSON");
    return Outcome::Rejected;
  }
  Require(IsJson(bytes), "a request that is not JSON is accepted");
  CheckIdEchoes(request.IdJson());
  Require(IsJson(wire::JsonRpcResponse::Result(request.IdJson(), R"({"ok":true,"data":null})")),
          "the result response is not JSON");

  const std::string again = wire::JsonRpcRequest::Write(7, request.Method(), request.Params());
  try {
    const wire::JsonRpcRequest reread = wire::JsonRpcRequest::Parse(again);
    Require(reread.Method() == request.Method(), "a rewritten request changes its method");
    Require(SameParams(reread.Params(), request.Params()),
            "a rewritten request changes its params");
  } catch (const wire::EJsonRpcError& e) {
    throw EInvariantBroken(std::string("a rewritten request is refused: ") + e.what());
  }
  return Outcome::Accepted;
}

Outcome FeedChangePacket(std::string_view bytes) {
  wire::ChangePacket packet;
  try {
    packet = wire::ChangePacketReader::Read(bytes);
  } catch (const wire::EWireError& e) {
    // Input quoted in the message is escaped: a NUL cannot cut it, a line break cannot split it.
    Require(!wire::HasControlCharacter(e.what()), "a refusal message carries a control character");
    return Outcome::Rejected;
  }
  Require(IsJson(bytes), "a change packet that is not JSON is accepted");
  for (const auto& change : packet.changes)
    Require(change.values.size() == packet.fields.size(), "a change is not as wide as the fields");

  std::string out;
  wire::PacketWriter writer(out);
  writer.BeginChanges(packet.fields);
  std::vector<std::string_view> values;
  for (const auto& change : packet.changes) {
    values.assign(change.values.begin(), change.values.end());
    writer.Change(change.op, values);
  }
  writer.End();
  wire::ChangePacket reread;
  try {
    reread = wire::ChangePacketReader::Read(out);
  } catch (const wire::EWireError& e) {
    throw EInvariantBroken(std::string("a rewritten change packet is refused: ") + e.what());
  }
  Require(reread.fields.size() == packet.fields.size(), "a rewritten packet changes its fields");
  for (std::size_t i = 0; i < packet.fields.size(); ++i)
    Require(reread.fields[i].name == packet.fields[i].name &&
                reread.fields[i].size == packet.fields[i].size,
            "a rewritten packet changes a field");
  Require(reread.changes.size() == packet.changes.size(), "a rewritten packet changes its changes");
  for (std::size_t i = 0; i < packet.changes.size(); ++i)
    Require(reread.changes[i].op == packet.changes[i].op &&
                reread.changes[i].values == packet.changes[i].values,
            "a rewritten packet changes a change");
  return Outcome::Accepted;
}

namespace {

// True when the bytes of part appear in whole, in order, within text.
bool IsSubsequence(std::string_view part, std::string_view text) {
  std::size_t p = 0;
  for (std::size_t t = 0; t < text.size() && p < part.size(); ++t)
    if (text[t] == part[p]) ++p;
  return p == part.size();
}

}  // namespace

Outcome FeedEditMask(std::string_view bytes) {
  const std::size_t split = bytes.find('\n');
  const std::string_view maskText = bytes.substr(0, split);
  const std::string_view value =
      split == std::string_view::npos ? std::string_view() : bytes.substr(split + 1);

  std::optional<EditMask> parsed;
  try {
    parsed.emplace(maskText);
  } catch (const EMaskError&) {
    bool refused = false;
    try {
      FormatMaskText(maskText, value);
    } catch (const EMaskError&) {
      refused = true;
    }
    Require(refused, "FormatMaskText accepts a mask that EditMask refuses");
    return Outcome::Rejected;
  }
  const EditMask& mask = *parsed;

  const std::string shown = mask.Format(value);
  Require(FormatMaskText(maskText, value) == shown, "FormatMaskText and EditMask::Format differ");
  Require(IsSubsequence(value, shown), "formatting loses characters of the value");
  Require(!value.empty() || shown.empty(), "an empty value is shown as text");
  mask.EditText(value);
  mask.IsComplete(value);
  mask.Backspace(value);
  mask.Type(value, 'A');
  mask.Type(value, '1');

  // Type the value into an empty cell, key by key, then erase it again.
  std::string cell;
  for (const char key : value) {
    const std::optional<std::string> next = mask.Type(cell, key);
    if (!next) continue;
    Require(next->compare(0, cell.size(), cell) == 0, "typing changes what was already typed");
    Require(next->size() >= cell.size(), "typing shortens the cell");
    cell = *next;
    Require(mask.Empty() || SplitUtf8Chars(cell).size() <= mask.EditText("").size() + 1,
            "typing fills a cell beyond its mask");
    mask.IsComplete(cell);
    const std::string formatted = mask.Format(cell);
    Require(IsSubsequence(cell, formatted), "formatting loses a typed character");
    // A typed cell with its literals already holds them where the mask shows them.
    Require(!mask.SaveLiterals() || mask.Empty() || formatted == cell,
            "formatting changes a typed cell that holds its literals");
    const std::string edited = mask.EditText(cell);
    // Once every input position is filled, the formatted and the edited text are the same.
    if (!mask.SaveLiterals() &&
        SplitUtf8Chars(cell).size() == static_cast<std::size_t>(mask.InputCount()))
      Require(formatted == edited, "a full cell is shown differently while editing");
  }
  for (std::size_t steps = 0; !cell.empty(); ++steps) {
    Require(steps <= bytes.size(), "backspace does not empty the cell");
    const std::string shorter = mask.Backspace(cell);
    Require(shorter.size() < cell.size(), "backspace does not shorten the cell");
    Require(cell.compare(0, shorter.size(), shorter) == 0, "backspace changes the cell's start");
    cell = shorter;
  }
  return Outcome::Accepted;
}

namespace {

// Rows of the filtered set: keys, quotes, blanks, letter cases and accented text.
constexpr std::array<std::array<std::string_view, 3>, 9> kFilterRows = {{
    {"P1", "F1", "Arroz"},
    {"P1", "F2", "Arroz "},
    {"p1", "F1", "arroz"},
    {"P'1", "F1", "D'\xC3\xA1gua"},
    {"", "F3", ""},
    {"P2", "", "Feij\xC3\xA3o"},
    {" P2", "F2", "  "},
    {"P1234567890", "F1", "longo"},
    {"P2", "F2", "Feij\xC3\xA3o"},
}};

}  // namespace

Outcome FeedFilter(std::string_view bytes) {
  TClientDataSet ds("cdsFiltro");
  ds.AddField("CDPRODUTODES", 10);
  ds.AddField("CDFORNECED", 21);
  ds.AddField("NMPRODUTO", 40);
  ds.BeginLoad();
  for (const auto& row : kFilterRows) ds.LoadRow(row);
  ds.EndLoad();
  const Rows all = VisibleRows(ds);

  const std::string expression(bytes);
  try {
    ds.SetFilter(expression);
  } catch (const EFilterError&) {
    Require(ds.Filter().empty(), "a refused filter replaced the previous one");
    return Outcome::Rejected;
  }
  try {
    ds.SetFiltered(true);
  } catch (const EFilterError&) {
    Require(!ds.Filtered() && VisibleRows(ds) == all, "a refused filter hides rows");
    return Outcome::Rejected;
  }
  std::optional<FilterExpression> parsed;
  if (expression.find_first_not_of(" \t\r\n") != std::string::npos)
    parsed = FilterExpression::Parse(expression);
  if (!parsed) {
    Require(VisibleRows(ds) == all, "a blank filter hides rows");
    return Outcome::Accepted;
  }
  const FilterExpression reparsed =
      FilterExpression::Parse(FilterOn(parsed->FieldName(), parsed->Value()));
  Require(reparsed.FieldName() == parsed->FieldName() && reparsed.Value() == parsed->Value(),
          "a filter written back from its parts reads differently");
  const int column = ds.FieldByName(parsed->FieldName())->Index();
  const std::string& value = parsed->Value();
  TField* field = ds.Fields()[static_cast<std::size_t>(column)];
  CheckFilterView(ds, column, value);

  // A row appended with the filtered value stays in view exactly when the value fits the field.
  ds.Append();
  field->SetAsString(value);
  ds.Post();
  CheckFilterView(ds, column, value);
  // Editing a visible row to another value takes it out of view; editing it back brings it in.
  if (!ds.IsEmpty()) {
    ds.Last();
    ds.Edit();
    field->SetAsString("#" + value);
    ds.Post();
    CheckFilterView(ds, column, value);
  }
  ds.SetFiltered(false);
  ds.First();
  ds.Edit();
  field->SetAsString(value);
  ds.Post();
  ds.SetFiltered(true);
  CheckFilterView(ds, column, value);
  // Deleting under the filter removes the current row only.
  if (!ds.IsEmpty()) {
    const int before = ds.RecordCount();
    ds.Delete();
    Require(ds.RecordCount() == before - 1, "a delete under a filter removes other rows");
    CheckFilterView(ds, column, value);
  }
  return Outcome::Accepted;
}

std::span<const Entry> Entries() {
  static constexpr Entry kEntries[] = {
      {"data_packet", &FeedDataPacket},
      {"json_rpc", &FeedJsonRpcRequest},
      {"change_packet", &FeedChangePacket},
      {"edit_mask", &FeedEditMask},
      {"filter", &FeedFilter},
  };
  return kEntries;
}

}  // namespace host::fuzz
