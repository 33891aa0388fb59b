// PacketWriter writes data packets and change packets as JSON text, appending to a caller's
// std::string as it goes, so a producer can drain the string (send it, clear it) between rows and
// a packet of a million rows never exists in memory at once.
//
//   data packet:   {"fields":[{"name":"CDPRODUTO","size":10},…],"rows":[["…","…"],…]}
//   change packet: {"fields":[…],"changes":[{"op":"insert","row":[…]},{"op":"delete","row":[…]}]}
//
// Every value is written as a JSON string. Text is UTF-8; a value that is not valid UTF-8 is
// written with each offending byte replaced by U+FFFD (the replacement character), so a single bad
// byte in stored data never makes the whole packet unreadable to the other side (a JSON reader
// rejects the entire document on one invalid byte). Valid text is written unchanged.
//
// Usage: BeginData(fields) or BeginChanges(fields), then Row(...) / Change(...) any number of
// times, then End(). After End() the writer may begin another packet, appended after the first;
// the caller may append its own text (a separator, an envelope) to the string between packets.
// Calls out of order, or a row whose width differs from the field count, raise EWireError.
//
// Not thread-safe: one writer per thread. Not copyable or movable (it holds a reference to the
// output string).
#pragma once

#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "host/wire/WireError.h"

namespace host::wire {

// One column of a packet: its name and its declared size in characters.
struct FieldDef {
  std::string name;
  int size = 0;
};

// The kind of one change in a change packet.
enum class ChangeOp { Insert, Delete };

class PacketWriter {
 public:
  // REQUIRES: out outlives this writer. Text is appended to out; nothing already in it is touched.
  explicit PacketWriter(std::string& out);
  ~PacketWriter();
  PacketWriter(const PacketWriter&) = delete;
  PacketWriter& operator=(const PacketWriter&) = delete;

  // Starts a data packet with these fields and opens its row array.
  // Raises EWireError if a packet is already open.
  void BeginData(std::span<const FieldDef> fields);

  // Starts a change packet with these fields and opens its change array.
  // Raises EWireError if a packet is already open.
  void BeginChanges(std::span<const FieldDef> fields);

  // Appends one row of a data packet, values in field order.
  // Raises EWireError if no data packet is open or values.size() differs from the field count.
  void Row(std::span<const std::string_view> values);

  // Appends one change of a change packet, values in field order.
  // Raises EWireError if no change packet is open or values.size() differs from the field count.
  void Change(ChangeOp op, std::span<const std::string_view> values);

  // Closes the open packet. Raises EWireError if none is open.
  void End();

  // True between a Begin… and its End.
  bool IsOpen() const;

  // Appends value to out as one JSON string literal (quotes and escapes included), with the same
  // replacement of invalid UTF-8 as packet values. For envelopes and messages around packets.
  static void AppendJsonString(std::string& out, std::string_view value);

  // Returns value with every byte that is not part of a valid UTF-8 sequence replaced by U+FFFD.
  // Returns value unchanged when it is already valid.
  static std::string SanitizeUtf8(std::string_view value);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace host::wire
