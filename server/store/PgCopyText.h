// PgCopyText writes and reads rows in PostgreSQL's COPY text format: one line per row, values
// separated by a tab, a NULL written as \N, and a backslash, tab, newline or carriage return
// inside a value written as \\, \t, \n and \r. Every other byte travels as it is (the
// connection's encoding, UTF-8, applies), so a value reaches the database byte for byte.
//
// Stateless functions; safe from any thread.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace server {

class PgCopyText {
 public:
  PgCopyText() = delete;

  // Appends one row (values, then the newline) to out.
  static void AppendRow(std::string& out, std::span<const std::string_view> values);
  // Appends one row where a missing value is a NULL.
  static void AppendRow(std::string& out, std::span<const std::optional<std::string_view>> values);

  // Splits one line (without its newline) into values, decoding escapes: values[i] views line
  // itself when the value holds no escape, otherwise a string in storage (which is reused; the
  // views stay valid until the next call with the same storage). A NULL reads as empty when
  // nulls is null, otherwise (*nulls)[i] says which values were NULL. Returns false, with values
  // unspecified, when the line is not well formed (a backslash at its end).
  static bool SplitRow(std::string_view line, std::vector<std::string_view>& values,
                       std::vector<std::string>& storage, std::vector<bool>* nulls = nullptr);
};

}  // namespace server
