// AuditReport prints the audit trail for people: one line per applied change packet (time,
// packet number, method, client address, user) followed by one indented line per change
// (operation, product, item, typed code, stored rows it added or removed):
//
//   2024-05-01T14:30:15.123Z  packet 12  SetFornecedor  client 127.0.0.1:51234  user maria
//     insert  product P1  item F1  code 12345678000195  (1 row)
//
// A person who signed in is marked after the name: "user maria (local user)", "user maria
// (directory user)"; a user of the tokens file is shown as before.
//
// A packet without changes shows "(no changes)". Stored values are printed escaped
// (host::wire::EscapedText): control characters, bidirectional formatting characters and invalid
// bytes appear as \xNN or \uNNNN, so a line is always one line and reads as it is stored.
//
// Stateless; Print runs on the caller's thread with the session it is given.
#pragma once

#include <cstdint>
#include <ostream>

#include "server/store/Store.h"

namespace server {

class AuditReport {
 public:
  AuditReport() = delete;

  // Prints the packets the filter selects, oldest first, in one read transaction. Returns the
  // number of packets printed. Raises EStoreError.
  static int64_t Print(StoreSession& session, const AuditFilter& filter, std::ostream& out);
};

}  // namespace server
