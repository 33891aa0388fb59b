#include "host/wire/ChangePacketReader.h"

#include <simdjson.h>

#include <limits>
#include <unordered_set>

#include "host/wire/EscapedText.h"
#include "host/wire/SkippedValue.h"

namespace host::wire {
namespace {

namespace od = simdjson::ondemand;

// True when the whole input has been read (nothing but white space after the top value).
bool AtEnd(od::document& doc) { return doc.current_location().error() == simdjson::OUT_OF_BOUNDS; }

[[noreturn]] void Fail(const std::string& what) { throw EWireError("Invalid change packet: " + what); }

void Check(simdjson::error_code error, const std::string& where) {
  if (error != simdjson::SUCCESS) Fail(where + " (" + simdjson::error_message(error) + ")");
}

std::vector<FieldDef> ReadFields(od::value value) {
  od::array array;
  Check(value.get_array().get(array), "\"fields\" is not an array");
  std::vector<FieldDef> fields;
  std::unordered_set<std::string> seen;
  for (auto element : array) {
    const std::string where = "field " + std::to_string(fields.size() + 1);
    od::object object;
    Check(element.get_object().get(object), where + " is not an object");
    FieldDef def;
    bool hasName = false;
    bool hasSize = false;
    for (auto member : object) {
      std::string_view key;
      Check(member.unescaped_key().get(key), where + ": bad member name");
      if (key == "name") {
        if (hasName) Fail(where + ": \"name\" appears twice");
        std::string_view name;
        Check(member.value().get_string().get(name), where + ": \"name\" is not a string");
        def.name.assign(name);
        hasName = true;
      } else if (key == "size") {
        if (hasSize) Fail(where + ": \"size\" appears twice");
        hasSize = true;
        int64_t size = 0;
        Check(member.value().get_int64().get(size), where + ": \"size\" is not an integer");
        if (size < 0 || size > std::numeric_limits<int>::max()) Fail(where + ": \"size\" out of range");
        def.size = static_cast<int>(size);
      } else {
        Check(CheckSkippedValue(member.value()), where + ": malformed member");
      }
    }
    if (!hasName || def.name.empty()) Fail(where + " has no name");
    if (!seen.insert(def.name).second) Fail("field \"" + EscapedText(def.name, 40) + "\" appears twice");
    fields.push_back(std::move(def));
  }
  return fields;
}

std::vector<std::string> ReadRow(od::value value, const std::string& where) {
  od::array array;
  Check(value.get_array().get(array), where + ": \"row\" is not an array");
  std::vector<std::string> values;
  for (auto element : array) {
    od::value item;
    Check(std::move(element).get(item), where + ": malformed value");
    bool isNull = false;
    if (item.is_null().get(isNull) == simdjson::SUCCESS && isNull) {
      values.emplace_back();
      continue;
    }
    std::string_view text;
    Check(item.get_string().get(text),
          where + ": value " + std::to_string(values.size() + 1) + " is not a string");
    values.emplace_back(text);
  }
  return values;
}

std::vector<ChangeRow> ReadChanges(od::value value) {
  od::array array;
  Check(value.get_array().get(array), "\"changes\" is not an array");
  std::vector<ChangeRow> changes;
  for (auto element : array) {
    const std::string where = "change " + std::to_string(changes.size() + 1);
    od::object object;
    Check(element.get_object().get(object), where + " is not an object");
    ChangeRow change;
    bool hasOp = false;
    bool hasRow = false;
    for (auto member : object) {
      std::string_view key;
      Check(member.unescaped_key().get(key), where + ": bad member name");
      if (key == "op") {
        if (hasOp) Fail(where + ": \"op\" appears twice");
        std::string_view op;
        Check(member.value().get_string().get(op), where + ": \"op\" is not a string");
        if (op == "insert") {
          change.op = ChangeOp::Insert;
        } else if (op == "delete") {
          change.op = ChangeOp::Delete;
        } else {
          Fail(where + ": unknown op \"" + EscapedText(op, 40) + "\"");
        }
        hasOp = true;
      } else if (key == "row") {
        if (hasRow) Fail(where + ": \"row\" appears twice");
        change.values = ReadRow(member.value(), where);
        hasRow = true;
      } else {
        Check(CheckSkippedValue(member.value()), where + ": malformed member");
      }
    }
    if (!hasOp) Fail(where + " has no \"op\"");
    if (!hasRow) Fail(where + " has no \"row\"");
    changes.push_back(std::move(change));
  }
  return changes;
}

}  // namespace

int ChangePacket::FieldIndex(std::string_view name) const {
  for (size_t i = 0; i < fields.size(); ++i) {
    if (fields[i].name == name) return static_cast<int>(i);
  }
  return -1;
}

ChangePacket ChangePacketReader::Read(std::string_view json) {
  const simdjson::padded_string padded(json);
  od::parser parser;
  od::document doc;
  Check(parser.iterate(padded).get(doc), "not JSON");
  od::object object;
  Check(doc.get_object().get(object), "not a JSON object");
  ChangePacket packet;
  bool hasFields = false;
  bool hasChanges = false;
  for (auto member : object) {
    std::string_view key;
    Check(member.unescaped_key().get(key), "bad member name");
    if (key == "fields") {
      if (hasFields) Fail("\"fields\" appears twice");
      packet.fields = ReadFields(member.value());
      hasFields = true;
    } else if (key == "changes") {
      if (hasChanges) Fail("\"changes\" appears twice");
      packet.changes = ReadChanges(member.value());
      hasChanges = true;
    } else if (key == "rows") {
      Fail("this is a data packet (it has \"rows\"), not a change packet");
    } else {
      Check(CheckSkippedValue(member.value()), "malformed member");
    }
  }
  if (!AtEnd(doc)) Fail("text after the packet");
  if (!hasFields) Fail("no \"fields\"");
  if (!hasChanges) Fail("no \"changes\"");
  for (size_t i = 0; i < packet.changes.size(); ++i) {
    if (packet.changes[i].values.size() != packet.fields.size()) {
      Fail("change " + std::to_string(i + 1) + " has " + std::to_string(packet.changes[i].values.size()) +
           " values, the packet has " + std::to_string(packet.fields.size()) + " fields");
    }
  }
  return packet;
}

}  // namespace host::wire
