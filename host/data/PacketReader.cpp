#include "host/data/PacketReader.h"

#include <simdjson.h>

#include <string>

#include "host/data/DataErrors.h"
#include "host/data/Field.h"
#include "host/data/SameName.h"
#include "host/data/TextLimit.h"
#include "host/data/Variant.h"
#include "host/wire/SkippedValue.h"

namespace host {

namespace od = simdjson::ondemand;

namespace {

[[noreturn]] void Fail(const std::string& what) {
  throw EPacketError("Malformed data packet: " + what);
}

[[noreturn]] void FailJson(simdjson::error_code err, const std::string& where) {
  Fail(std::string(simdjson::error_message(err)) + " (" + where + ")");
}

std::vector<wire::FieldDef> ReadFields(od::value& value) {
  std::vector<wire::FieldDef> fields;
  od::array array;
  if (auto err = value.get_array().get(array)) FailJson(err, "\"fields\" must be an array");
  for (auto itemResult : array) {
    const std::string where = "field " + std::to_string(fields.size() + 1);
    od::object object;
    if (auto err = itemResult.get_object().get(object)) FailJson(err, where + " is not an object");
    wire::FieldDef def;
    def.size = kDefaultFieldSize;
    bool haveName = false;
    for (auto memberResult : object) {
      od::field member;
      if (auto err = std::move(memberResult).get(member)) FailJson(err, where);
      std::string_view key;
      if (auto err = member.unescaped_key().get(key)) FailJson(err, where);
      if (key == "name") {
        std::string_view name;
        if (auto err = member.value().get_string().get(name))
          FailJson(err, where + ": \"name\" must be a string");
        def.name = std::string(name);
        haveName = true;
      } else if (key == "size") {
        std::int64_t size = 0;
        if (auto err = member.value().get_int64().get(size))
          FailJson(err, where + ": \"size\" must be an integer");
        if (size < 1 || size > 1'000'000)
          Fail(where + ": size " + std::to_string(size) + " is outside 1..1000000");
        def.size = static_cast<int>(size);
      } else if (auto err = wire::CheckSkippedValue(member.value())) {
        FailJson(err, where);
      }
    }
    if (!haveName || def.name.empty()) Fail(where + " has no name");
    for (const auto& other : fields)
      if (SameName(other.name, def.name)) Fail("field \"" + def.name + "\" appears twice");
    fields.push_back(std::move(def));
  }
  return fields;
}

// Most values carry no escape: their text is taken straight from the packet, skipping the copy
// into the parser's string buffer. Returns false (consuming nothing) for anything else, which then
// takes the general path; returns true having consumed the value.
bool ReadRawString(od::value& value, std::string_view& text) {
  const std::string_view token = value.raw_json_token();
  if (token.empty() || token.front() != '"') return false;
  std::size_t end = token.size();
  while (end > 1 && (token[end - 1] == ' ' || token[end - 1] == '\t' || token[end - 1] == '\n' ||
                     token[end - 1] == '\r'))
    --end;
  if (end < 2 || token[end - 1] != '"') return false;
  const std::string_view inner = token.substr(1, end - 2);
  if (inner.find('\\') != std::string_view::npos) return false;
  // Consume the string (without unescaping it): a value left unread is skipped by a scan that
  // takes `"…":` for a member name, so a malformed row such as ["a":}] would be misread.
  od::raw_json_string raw;
  if (value.get_raw_json_string().get(raw)) return false;
  text = inner;
  return true;
}

}  // namespace

LoadedPacket PacketReader::ReadData(std::string_view json, std::size_t capacity,
                                    std::span<const wire::FieldDef> targetFields) {
  if (capacity < json.size() + kPacketPadding)
    throw EPacketError("Data packet buffer lacks its padding");
  od::parser parser;
  od::document doc;
  if (auto err = parser.iterate(json.data(), json.size(), capacity).get(doc))
    FailJson(err, "document");
  od::object top;
  if (auto err = doc.get_object().get(top)) FailJson(err, "the packet must be a JSON object");

  LoadedPacket out;
  bool haveFields = false;
  bool haveRows = false;
  // Per packet column: the storage column it fills (-1: skipped) and that column's size.
  std::vector<int> target;
  std::vector<int> sizes;

  for (auto memberResult : top) {
    od::field member;
    if (auto err = std::move(memberResult).get(member)) FailJson(err, "top level");
    std::string_view key;
    if (auto err = member.unescaped_key().get(key)) FailJson(err, "top level");
    if (key == "fields") {
      if (haveFields) Fail("\"fields\" appears twice");
      out.packetFields = ReadFields(member.value());
      haveFields = true;
      const auto& pf = out.packetFields;
      if (targetFields.empty()) {
        out.store = RowStore(static_cast<int>(pf.size()));
        for (std::size_t i = 0; i < pf.size(); ++i) {
          target.push_back(static_cast<int>(i));
          sizes.push_back(pf[i].size);
        }
      } else {
        out.store = RowStore(static_cast<int>(targetFields.size()));
        for (const auto& f : pf) {
          int column = -1;
          for (std::size_t t = 0; t < targetFields.size(); ++t)
            if (SameName(targetFields[t].name, f.name)) column = static_cast<int>(t);
          target.push_back(column);
          sizes.push_back(column >= 0 ? targetFields[column].size : 0);
        }
      }
    } else if (key == "rows") {
      if (!haveFields) Fail("\"rows\" must come after \"fields\"");
      if (haveRows) Fail("\"rows\" appears twice");
      haveRows = true;
      od::array rows;
      if (auto err = member.value().get_array().get(rows))
        FailJson(err, "\"rows\" must be an array");
      const std::size_t width = target.size();
      RowStore& store = out.store;
      // Every value is at least two bytes of the packet, so text never outgrows the packet.
      store.Reserve(0, json.size());
      std::size_t rowNumber = 0;
      constexpr std::size_t kSampleRows = 1024;
      const char* rowsStart = nullptr;
      if (doc.current_location().get(rowsStart)) rowsStart = nullptr;
      for (auto rowResult : rows) {
        ++rowNumber;
        od::array row;
        if (auto err = rowResult.get_array().get(row))
          FailJson(err, "row " + std::to_string(rowNumber) + " is not an array");
        if (rowNumber == kSampleRows + 1) {
          // Estimate the row count from the bytes the first rows took, so the cell array is
          // allocated once instead of growing (and being copied) about twenty times.
          const char* here = nullptr;
          if (!rowResult.current_location().get(here) && here > rowsStart) {
            const double perRow = static_cast<double>(here - rowsStart) / kSampleRows;
            const auto estimate = static_cast<std::size_t>(
                static_cast<double>(json.data() + json.size() - rowsStart) / perRow * 1.05);
            store.Reserve(estimate + 16, 0);
          }
        }
        const RowId id = store.AddEmptyRow();
        std::size_t column = 0;
        for (auto valueResult : row) {
          od::value value;
          if (auto err = std::move(valueResult).get(value))
            FailJson(err, "row " + std::to_string(rowNumber));
          if (column >= width)
            Fail("row " + std::to_string(rowNumber) + " has more than " + std::to_string(width) +
                 " values");
          std::string_view text;
          if (!ReadRawString(value, text)) {
            if (auto err = value.get_string().get(text)) {
              bool isNull = false;
              if (err != simdjson::INCORRECT_TYPE || value.is_null().get(isNull) || !isNull)
                Fail("row " + std::to_string(rowNumber) + ", value " + std::to_string(column + 1) +
                     " is not a string");
              text = {};
            }
          }
          const int to = target[column];
          if (to >= 0 && !text.empty()) store.SetCell(id, to, TruncateToChars(text, sizes[column]));
          ++column;
        }
        if (column != width)
          Fail("row " + std::to_string(rowNumber) + " has " + std::to_string(column) +
               " values, expected " + std::to_string(width));
      }
    } else if (auto err = wire::CheckSkippedValue(member.value())) {
      // Other members are ignored, but only when well-formed.
      FailJson(err, "top level");
    }
  }
  if (!haveFields) Fail("no \"fields\"");
  if (!haveRows) Fail("no \"rows\"");
  // Past the packet there must be nothing: a location still in bounds means trailing content.
  const char* trailing = nullptr;
  if (!doc.current_location().get(trailing)) Fail("unexpected content after the packet");
  return out;
}

}  // namespace host
