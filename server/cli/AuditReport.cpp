#include "server/cli/AuditReport.h"

#include <string>

#include "host/wire/EscapedText.h"
#include "server/store/StoreTransaction.h"

namespace server {
namespace {

// Text as the audit prints it: whatever a client sent (control characters C0 and C1, DEL,
// bidirectional overrides, line separators, invalid UTF-8) written as visible escapes, so a stored
// code can neither reorder nor hide what a terminal shows.
std::string Printable(std::string_view value) { return host::wire::EscapedText(value); }

}  // namespace

int64_t AuditReport::Print(StoreSession& session, const AuditFilter& filter, std::ostream& out) {
  StoreTransaction read(session, StoreTransaction::Kind::Read);
  auto cursor = session.ReadAudit(filter);
  std::string packet;
  int64_t packets = 0;
  while (cursor->Next()) {
    const auto row = cursor->Row();
    if (row[0] != packet) {
      packet = std::string(row[0]);
      ++packets;
      out << Printable(row[1]) << "  packet " << Printable(row[0]) << "  " << Printable(row[2]) << "  client "
          << (row[3].empty() ? std::string("-") : Printable(row[3]));
      if (!row[4].empty()) out << "  user " << Printable(row[4]);
      // A person who signed in; a user of the tokens file is shown as before.
      if (row.size() > 11 && row[11] == "local") out << " (local user)";
      if (row.size() > 11 && row[11] == "diretorio") out << " (directory user)";
      out << '\n';
    }
    if (row[5].empty()) {
      out << "  (no changes)\n";
      continue;
    }
    out << "  " << Printable(row[6]) << "  product " << Printable(row[7]);
    if (!row[8].empty()) out << "  item " << Printable(row[8]);
    if (!row[9].empty()) out << "  code " << Printable(row[9]);
    out << "  (" << Printable(row[10]) << (row[10] == "1" ? " row)" : " rows)") << '\n';
  }
  cursor.reset();
  read.Commit();
  return packets;
}

}  // namespace server
