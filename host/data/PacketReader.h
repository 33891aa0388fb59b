// PacketReader reads a data packet
//   {"fields":[{"name":"CDPRODUTO","size":10},...],"rows":[["...","..."],...]}
// straight into new row storage for a record set, streaming with simdjson On-Demand (no JSON
// tree is built). "fields" must come before "rows"; other members are ignored.
//
// Promises:
// - Packet fields are matched by name (any letter case) to the target fields; a target field the
//   packet lacks reads as empty, a packet field the target lacks is skipped. With no target
//   fields, the storage columns are the packet's fields.
// - Every value must be a JSON string or null (read as empty); a value longer than its field
//   keeps its first Size() characters.
// - Anything malformed (bad JSON, a missing or mistyped member, a row of the wrong width,
//   duplicate field names, trailing content) raises EPacketError saying what and where. The
//   storage being built is simply dropped, so the caller's record set is untouched.
//
// Thread rules: stateless; safe to call from several threads at once. Not instantiable.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

#include "host/data/RowStore.h"
#include "host/wire/PacketWriter.h"

namespace host {

// What a packet read produced.
struct LoadedPacket {
  // Rows in packet order; columns are the target fields (or the packet's fields when the
  // target has none).
  RowStore store;
  // The packet's own fields, in packet order.
  std::vector<wire::FieldDef> packetFields;
};

class PacketReader {
 public:
  PacketReader() = delete;

  // Reads json, which must have readable memory up to json.data() + capacity, where
  // capacity >= json.size() + kPacketPadding. Raises EPacketError as described above.
  static LoadedPacket ReadData(std::string_view json, std::size_t capacity,
                               std::span<const wire::FieldDef> targetFields);
};

}  // namespace host
