// Keeping a text to a field's size. Sizes count UTF-8 characters, so a cut never splits a
// multi-byte character (which would make the text invalid UTF-8 and a packet carrying it
// unreadable). A byte that does not begin a valid sequence counts as one character.
//
// Stateless functions; safe from any thread.
#pragma once

#include <cstddef>
#include <string_view>

namespace host {

// The longest prefix of text holding at most maxChars characters.
inline std::string_view TruncateToChars(std::string_view text, int maxChars) {
  if (maxChars <= 0) return {};
  // Fast path: a text of no more bytes than allowed characters always fits.
  if (text.size() <= static_cast<std::size_t>(maxChars)) return text;
  std::size_t pos = 0;
  int chars = 0;
  while (pos < text.size() && chars < maxChars) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    std::size_t len = 1;
    if (lead >= 0xF0 && lead <= 0xF4)
      len = 4;
    else if (lead >= 0xE0)
      len = 3;
    else if (lead >= 0xC2 && lead <= 0xDF)
      len = 2;
    if (len > 1) {
      // Count the sequence as one character only when its continuation bytes are all there.
      if (pos + len > text.size()) len = 1;
      for (std::size_t k = 1; k < len; ++k) {
        if ((static_cast<unsigned char>(text[pos + k]) & 0xC0) != 0x80) {
          len = 1;
          break;
        }
      }
    }
    pos += len;
    ++chars;
  }
  return text.substr(0, pos);
}

}  // namespace host
