// Small text helpers of the screen.
#pragma once

#include <string>
#include <string_view>

namespace pdi07310 {

// Removes leading and trailing blanks and control characters (every byte up to the blank).
inline std::string Trim(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ') ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ') --end;
  return std::string(text.substr(begin, end - begin));
}

// The text of a product key quoted for a filter expression: enclosed in single quotes, each
// single quote inside doubled.
inline std::string QuotedFilterText(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out += '\'';
  for (char c : text) {
    if (c == '\'') out += '\'';
    out += c;
  }
  out += '\'';
  return out;
}

}  // namespace pdi07310
