// ChangePacketReader turns the JSON text of a change packet into its field definitions and its
// ordered list of changes:
//
//   {"fields":[{"name":"CDPRODUTODES","size":10},…],
//    "changes":[{"op":"insert","row":["…",…]},{"op":"delete","row":["…",…]}]}
//
// The result owns all its text, so it stays valid after the input buffer is gone. Every row value
// is a JSON string; a null is read as an empty string. "fields" and "changes" may come in either
// order. Members it does not know are ignored.
//
// Any input that is not such a packet (malformed JSON, invalid UTF-8, a missing member, a field
// without a name, two fields of the same name, a member repeated within the packet, a field or a
// change (the last one never silently wins), an unknown op, a row whose width differs from the
// field count, a value that is neither a string nor null, text after the packet) raises EWireError
// with a message that says what was wrong and where. It never crashes on arbitrary bytes.
//
// Stateless; the static functions may be called from any thread at once.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "host/wire/PacketWriter.h"

namespace host::wire {

// One change of a change packet: its kind and its values in field order.
struct ChangeRow {
  ChangeOp op = ChangeOp::Insert;
  std::vector<std::string> values;
};

// A change packet read into memory. Intentionally copyable.
struct ChangePacket {
  std::vector<FieldDef> fields;
  std::vector<ChangeRow> changes;

  // Index of the field with this exact name, or -1 when the packet has no such field.
  int FieldIndex(std::string_view name) const;
};

class ChangePacketReader {
 public:
  ChangePacketReader() = delete;

  // Reads a change packet from json. Copies the text into a padded buffer first.
  // Raises EWireError when json is not a change packet.
  static ChangePacket Read(std::string_view json);
};

}  // namespace host::wire
