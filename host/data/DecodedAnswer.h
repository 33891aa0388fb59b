// What a remote call's answer becomes when it is decoded while its bytes arrive, instead of being
// kept whole and parsed afterwards:
//
// - DecodedPacket: a data packet already read into row storage, columns in packet order, values
//   as sent (not yet cut to any record set's field sizes). A record set loads it by sharing its
//   storage (no copy) when its fields are the packet's, or by one pass over the cells otherwise.
//   A packet that could not be read keeps the reason instead of rows; loading it raises
//   EPacketError with that reason, exactly as reading the packet's text would.
// - DecodedResult: the raw result {"ok":…,"data":…} read into its parts, the data's packets as
//   DecodedPacket variants. A result that is not of that shape keeps the reason; reading it as a
//   raw result raises EPacketError with that reason.
//
// Both hand out their JSON text on request (written once from what was decoded, or the bytes as
// received for small answers), so every reader of packet or result text keeps working.
//
// Thread rules: immutable once built (the JSON text is written on first request, under a
// once-flag); shared between variants and threads.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/data/RowStore.h"
#include "host/data/Variant.h"
#include "host/wire/PacketWriter.h"

namespace host {

struct DecodedPacket {
  // The packet's fields, in packet order.
  std::vector<wire::FieldDef> fields;
  // One column per packet field.
  RowStore store;
  // Per column: the longest value in characters (a column whose values are no longer than its
  // field's size needs no cutting).
  std::vector<std::size_t> widest;
  // Non-empty when the packet could not be read: what was wrong (the EPacketError message).
  std::string error;

  // The packet as JSON text, in a buffer padded for in-place parsing. Written on first request.
  const std::shared_ptr<const std::string>& Json() const;

 private:
  mutable std::once_flag jsonOnce_;
  mutable std::shared_ptr<const std::string> json_;
};

struct DecodedResult {
  bool ok = false;
  // The refusal's message (ok false).
  std::string error;
  // The data (ok true).
  Variant data;
  // Non-empty when the result is not a raw result: what was wrong (the EPacketError message).
  std::string failure;
  // The result's JSON text as received, when it was kept (small answers); else null.
  std::shared_ptr<const std::string> received;

  // The result as JSON text: as received when kept, else written from the parts.
  const std::shared_ptr<const std::string>& Text() const;

 private:
  mutable std::once_flag textOnce_;
  mutable std::shared_ptr<const std::string> text_;
};

}  // namespace host
