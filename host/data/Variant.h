// Variant is the platform's dynamically typed value: null, boolean, integer, text, a
// one-dimensional array of variants, a data packet or a change packet. Remote calls return
// variants and take them as arguments; record sets load data packets from them and hand out
// their change packets as them.
//
// Promises:
// - Copies are cheap and never copy text: text, arrays and packets are held by shared pointer to
//   immutable storage.
// - A packet variant holds its JSON text as a range inside a shared buffer, and the buffer has at
//   least kPacketPadding readable bytes after the end of the range (within its capacity), so a
//   packet can be parsed in place by a reader that reads past the end of its input.
// - Reading a variant as the wrong kind, or an array element out of bounds, raises
//   EVariantError; nothing is converted silently except the few conversions documented below.
//
// Thread rules: a Variant is immutable once built; distinct Variant objects sharing storage may be
// used from different threads. Intentionally copyable and movable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/data/DataErrors.h"

namespace host {

struct DecodedPacket;
struct DecodedResult;

enum class VariantKind { Null, Bool, Int, Text, Array, DataPacket, ChangePacket };

// Readable bytes a packet buffer keeps after the end of every packet range it holds.
inline constexpr std::size_t kPacketPadding = 64;

// The name of a kind, for messages ("Null", "Text", "DataPacket", ...).
const char* VariantKindName(VariantKind kind);

class Variant {
 public:
  // A null variant.
  Variant() = default;

  static Variant FromBool(bool value);
  static Variant FromInt(std::int64_t value);
  static Variant FromText(std::string text);
  // Shares text without copying it. A null pointer gives an empty text.
  static Variant FromText(std::shared_ptr<const std::string> text);
  static Variant FromArray(std::vector<Variant> items);

  // A packet variant over buffer[offset, offset + length).
  // REQUIRES: offset + length <= buffer->size() and
  //           buffer->capacity() >= offset + length + kPacketPadding (raises EVariantError if not).
  static Variant MakeDataPacket(std::shared_ptr<const std::string> buffer, std::size_t offset,
                                std::size_t length);
  static Variant MakeChangePacket(std::shared_ptr<const std::string> buffer, std::size_t offset,
                                  std::size_t length);
  // A packet variant owning a copy of json, padded as required.
  static Variant MakeDataPacket(std::string_view json);
  static Variant MakeChangePacket(std::string_view json);
  // A data packet variant over a packet decoded as it arrived (see DecodedAnswer.h). Its JSON
  // text is written on first request. REQUIRES: packet is not null.
  static Variant FromDecodedPacket(std::shared_ptr<const DecodedPacket> packet);
  // A Text variant holding a raw result decoded as it arrived: its text is the result's JSON
  // (written on first request when not kept), and ParseRawResult takes the parts as they are.
  // REQUIRES: result is not null.
  static Variant FromDecodedResult(std::shared_ptr<const DecodedResult> result);

  // The decoded packet of a data packet variant built from one, else null.
  const DecodedPacket* Decoded() const { return decoded_.get(); }
  // The decoded raw result of a Text variant built from one, else null.
  const std::shared_ptr<const DecodedResult>& DecodedRaw() const { return result_; }

  VariantKind Kind() const { return kind_; }
  bool IsNull() const { return kind_ == VariantKind::Null; }
  bool IsArray() const { return kind_ == VariantKind::Array; }
  bool IsPacket() const {
    return kind_ == VariantKind::DataPacket || kind_ == VariantKind::ChangePacket;
  }

  // The value of a Bool variant. Raises EVariantError for any other kind.
  bool AsBool() const;
  // The value of an Int variant. Raises EVariantError for any other kind.
  std::int64_t AsInt() const;
  // The text of a Text variant; a Null variant reads as the empty text.
  // Raises EVariantError for any other kind.
  const std::string& AsText() const;
  // The shared text of a Text variant (never null). Raises EVariantError for any other kind.
  std::shared_ptr<const std::string> TextPtr() const;

  // Number of elements of an Array variant. Raises EVariantError for any other kind.
  std::size_t Count() const;
  // Element i (0-based) of an Array variant. Raises EVariantError when this is not an array or
  // i is out of bounds; the message names the index and the bounds.
  const Variant& Item(std::size_t i) const;
  const Variant& operator[](std::size_t i) const { return Item(i); }
  // The bounds of an Array variant, inclusive: 0 and Count() - 1 (-1 when empty).
  std::int64_t LowBound() const;
  std::int64_t HighBound() const;

  // The JSON text of a packet variant (points into the shared buffer). Raises EVariantError for
  // any other kind.
  std::string_view PacketJson() const;
  // The shared buffer of a packet variant and the range's offset in it.
  const std::shared_ptr<const std::string>& PacketBuffer() const;
  std::size_t PacketOffset() const;

  // A short rendering for messages and test output: null, true, 42, "text", [..], or
  // DataPacket(<n> bytes).
  std::string DebugString() const;

 private:
  // Builds a packet variant after checking the range and the padding rule.
  static Variant MakePacket(VariantKind kind, std::shared_ptr<const std::string> buffer,
                            std::size_t offset, std::size_t length);

  VariantKind kind_ = VariantKind::Null;
  bool bool_ = false;
  std::int64_t int_ = 0;
  std::shared_ptr<const std::string> text_;            // Text; packet buffer for packets
  std::shared_ptr<const std::vector<Variant>> items_;  // Array
  std::size_t offset_ = 0;                             // packets
  std::size_t length_ = 0;                             // packets
  std::shared_ptr<const DecodedPacket> decoded_;       // decoded data packet
  std::shared_ptr<const DecodedResult> result_;        // Text: decoded raw result
};

}  // namespace host
