// AuditTime gives the times of the audit trail as text: UTC with milliseconds,
// "YYYY-MM-DDTHH:MM:SS.mmmZ" (times outside years 0000 to 9999 are clamped to them). Such texts
// sort as the times they name, so both stores compare them as plain text.
//
// Stateless; thread-safe.
#pragma once

#include <chrono>
#include <stdexcept>
#include <string>
#include <string_view>

namespace server {

class AuditTime {
 public:
  AuditTime() = delete;

  // The given instant (by default now) as audit text.
  static std::string Format(std::chrono::system_clock::time_point when);
  static std::string Now() { return Format(std::chrono::system_clock::now()); }

  // Reads an ISO 8601 date or date-time and returns it as audit text:
  //   2024-05-01            midnight
  //   2024-05-01T14:30      (a space may stand for the T)
  //   2024-05-01T14:30:15   with optional fraction .5 … .123456789 (kept to the millisecond)
  // optionally followed by Z or an offset +HH:MM / -HH:MM / +HHMM / +HH. A time without a zone is
  // UTC, like the times the audit listing prints. Raises std::invalid_argument naming the text
  // when it is not such a date or a field is out of range.
  static std::string Parse(std::string_view text);
};

}  // namespace server
