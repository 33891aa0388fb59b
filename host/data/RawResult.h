// The raw result of a remote call, read from its JSON text:
//   {"ok":true,"data":X}  or  {"ok":false,"error":"message"}.
// X becomes a Variant: an array -> Array variant (an object element with "fields" and "rows" is
// a DataPacket variant referring to its range of the same buffer, no copy); an object with
// "fields" and "rows" -> DataPacket; a string -> Text; an integer -> Int; true/false -> Bool;
// null -> Null. Anything else raises EPacketError with a message saying what and where.
//
// Thread rules: ParseRawResult is reentrant (it uses no shared state). RawResult is
// intentionally copyable and movable (its variant shares the buffer).
#pragma once

#include <memory>
#include <string>

#include "host/data/Variant.h"

namespace host {

struct RawResult {
  bool ok = false;
  // The message of a refused call ("" when ok).
  std::string error;
  // The data of a successful call (Null when refused).
  Variant data;
};

// Reads a raw result from body. When body->capacity() >= body->size() + kPacketPadding the text
// is parsed in place and packet variants share body; otherwise it is copied once into a padded
// buffer. Raises EPacketError on a malformed or unexpected document, and on a null body.
RawResult ParseRawResult(std::shared_ptr<const std::string> body);
// The same, from a Text variant (the text is shared, not copied, when it carries the padding).
// Raises EVariantError when text is not a Text variant.
RawResult ParseRawResult(const Variant& text);

}  // namespace host
