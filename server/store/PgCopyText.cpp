#include "server/store/PgCopyText.h"

#include <cstring>

namespace server {
namespace {

void AppendValue(std::string& out, std::string_view value) {
  size_t start = 0;
  for (size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    const char* escape = c == '\\' ? "\\\\" : c == '\t' ? "\\t" : c == '\n' ? "\\n" : c == '\r' ? "\\r" : nullptr;
    if (!escape) continue;
    out.append(value.data() + start, i - start);
    out += escape;
    start = i + 1;
  }
  out.append(value.data() + start, value.size() - start);
}

bool IsOctal(char c) { return c >= '0' && c <= '7'; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decodes the escapes of one value into out. Returns false on a backslash at its end.
bool Unescape(std::string_view value, std::string& out) {
  out.clear();
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\') {
      out += value[i];
      continue;
    }
    if (++i == value.size()) return false;
    const char c = value[i];
    switch (c) {
      case 'b': out += '\b'; break;
      case 'f': out += '\f'; break;
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      case 'v': out += '\v'; break;
      case 'x': {
        // \xh or \xhh; a lone \x stands for x.
        int v = i + 1 < value.size() ? HexValue(value[i + 1]) : -1;
        if (v < 0) {
          out += 'x';
          break;
        }
        ++i;
        if (i + 1 < value.size() && HexValue(value[i + 1]) >= 0) v = v * 16 + HexValue(value[++i]);
        out += static_cast<char>(v);
        break;
      }
      default:
        if (IsOctal(c)) {
          int v = c - '0';
          for (int k = 0; k < 2 && i + 1 < value.size() && IsOctal(value[i + 1]); ++k) v = v * 8 + (value[++i] - '0');
          out += static_cast<char>(v & 0xFF);
        } else {
          out += c;  // any other escaped character stands for itself
        }
    }
  }
  return true;
}

}  // namespace

void PgCopyText::AppendRow(std::string& out, std::span<const std::string_view> values) {
  for (size_t i = 0; i < values.size(); ++i) {
    if (i) out += '\t';
    AppendValue(out, values[i]);
  }
  out += '\n';
}

void PgCopyText::AppendRow(std::string& out, std::span<const std::optional<std::string_view>> values) {
  for (size_t i = 0; i < values.size(); ++i) {
    if (i) out += '\t';
    if (values[i]) {
      AppendValue(out, *values[i]);
    } else {
      out += "\\N";
    }
  }
  out += '\n';
}

bool PgCopyText::SplitRow(std::string_view line, std::vector<std::string_view>& values,
                          std::vector<std::string>& storage, std::vector<bool>* nulls) {
  values.clear();
  if (nulls) nulls->clear();
  size_t escaped = 0;  // values holding an escape, decoded into storage below
  size_t start = 0;
  while (true) {
    const char* tab = static_cast<const char*>(std::memchr(line.data() + start, '\t', line.size() - start));
    const size_t end = tab ? static_cast<size_t>(tab - line.data()) : line.size();
    const std::string_view raw = line.substr(start, end - start);
    const bool isNull = raw == "\\N";
    if (nulls) nulls->push_back(isNull);
    if (isNull) {
      values.emplace_back();
    } else {
      if (raw.find('\\') != std::string_view::npos) ++escaped;
      values.push_back(raw);
    }
    if (!tab) break;
    start = end + 1;
  }
  if (escaped == 0) return true;
  // Sized before any view into it is taken: growing it later would move the strings.
  if (storage.size() < escaped) storage.resize(escaped);
  size_t used = 0;
  for (size_t i = 0; i < values.size(); ++i) {
    if ((nulls && (*nulls)[i]) || values[i].find('\\') == std::string_view::npos) continue;
    if (!Unescape(values[i], storage[used])) return false;
    values[i] = storage[used++];
  }
  return true;
}

}  // namespace server
