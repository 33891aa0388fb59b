#include "server/service/AuditTime.h"

#include <algorithm>
#include <cstdio>

// The text is scanned by hand and the calendar is std::chrono's (days in a month, leap years,
// arithmetic past the year 2262). A general parser such as date::parse of Howard Hinnant's date
// library is laxer than the audit filter must be: it takes one-digit fields ("2024-5-1",
// "T7:5"), a signed year ("+2024-05-01"), a one-digit offset ("+5"), and reads the digits of a
// fraction finer than its clock as an offset, giving a wrong time without an error. Made strict,
// it would need this scan anyway.
namespace server {
namespace {

using std::chrono::days;
using std::chrono::milliseconds;
using std::chrono::sys_days;

// Reads exactly n digits at pos; false when they are not there.
bool Digits(std::string_view text, size_t& pos, size_t n, int& out) {
  if (pos + n > text.size()) return false;
  out = 0;
  for (size_t i = 0; i < n; ++i) {
    const char c = text[pos + i];
    if (c < '0' || c > '9') return false;
    out = out * 10 + (c - '0');
  }
  pos += n;
  return true;
}

bool Take(std::string_view text, size_t& pos, char c) {
  if (pos < text.size() && text[pos] == c) {
    ++pos;
    return true;
  }
  return false;
}

// Milliseconds since the epoch, which reach far past the year 2262 where the system clock's
// nanoseconds end. Times outside years 0000 to 9999 are clamped to them, so every text has four
// digits of year and sorts as its time.
std::string FormatMs(std::chrono::sys_time<milliseconds> ms) {
  const auto first = std::chrono::sys_time<milliseconds>(sys_days(std::chrono::year(0) / 1 / 1));
  const auto last = std::chrono::sys_time<milliseconds>(sys_days(std::chrono::year(10000) / 1 / 1)) - milliseconds(1);
  ms = std::clamp(ms, first, last);
  const auto day = std::chrono::floor<days>(ms);
  const std::chrono::year_month_day date(day);
  const std::chrono::hh_mm_ss<milliseconds> time(ms - day);
  char out[32];
  std::snprintf(out, sizeof out, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()), static_cast<int>(time.subseconds().count()));
  return out;
}

}  // namespace

std::string AuditTime::Format(std::chrono::system_clock::time_point when) {
  return FormatMs(std::chrono::floor<milliseconds>(when));
}

std::string AuditTime::Parse(std::string_view text) {
  const auto bad = [&](const std::string& why) -> std::invalid_argument {
    return std::invalid_argument("not an ISO 8601 time: \"" + std::string(text.substr(0, 60)) + "\" (" + why + ")");
  };
  size_t pos = 0;
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millis = 0;
  if (!Digits(text, pos, 4, year) || !Take(text, pos, '-') || !Digits(text, pos, 2, month) || !Take(text, pos, '-') ||
      !Digits(text, pos, 2, day)) {
    throw bad("expected YYYY-MM-DD");
  }
  const std::chrono::year_month_day date{std::chrono::year(year), std::chrono::month(static_cast<unsigned>(month)),
                                         std::chrono::day(static_cast<unsigned>(day))};
  if (!date.ok()) throw bad("no such date");
  if (Take(text, pos, 'T') || Take(text, pos, ' ')) {
    if (!Digits(text, pos, 2, hour) || !Take(text, pos, ':') || !Digits(text, pos, 2, minute)) {
      throw bad("expected HH:MM after the date");
    }
    if (Take(text, pos, ':')) {
      if (!Digits(text, pos, 2, second)) throw bad("expected seconds as SS");
      if (Take(text, pos, '.') || Take(text, pos, ',')) {
        int digits = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
          if (digits < 3) millis = millis * 10 + (text[pos] - '0');
          ++digits;
          ++pos;
        }
        if (digits == 0) throw bad("expected digits after the decimal point");
        for (int d = digits; d < 3; ++d) millis *= 10;
      }
    }
    if (hour > 23 || minute > 59 || second > 59) throw bad("time of day out of range");
  }
  int offsetMinutes = 0;
  if (pos < text.size()) {
    if (Take(text, pos, 'Z')) {
    } else if (text[pos] == '+' || text[pos] == '-') {
      const int sign = text[pos] == '-' ? -1 : 1;
      ++pos;
      int oh = 0, om = 0;
      if (!Digits(text, pos, 2, oh)) throw bad("expected an offset as +HH:MM");
      if (Take(text, pos, ':')) {
        if (!Digits(text, pos, 2, om)) throw bad("expected an offset as +HH:MM");
      } else if (pos < text.size() && !Digits(text, pos, 2, om)) {
        throw bad("expected an offset as +HH:MM");
      }
      if (oh > 23 || om > 59) throw bad("offset out of range");
      offsetMinutes = sign * (oh * 60 + om);
    }
  }
  if (pos != text.size()) throw bad("unexpected text at position " + std::to_string(pos + 1));
  const auto local = sys_days(date) + std::chrono::hours(hour) + std::chrono::minutes(minute) +
                     std::chrono::seconds(second) + milliseconds(millis);
  return FormatMs(local - std::chrono::minutes(offsetMinutes));
}

}  // namespace server
