#include "host/wire/EscapedText.h"

#include <cstdint>

namespace host::wire {
namespace {

constexpr char kHex[] = "0123456789ABCDEF";

void AppendByteEscape(std::string& out, unsigned char byte) {
  out += "\\x";
  out += kHex[byte >> 4];
  out += kHex[byte & 0xF];
}

void AppendCodePointEscape(std::string& out, std::uint32_t cp) {
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(cp >> shift) & 0xF];
}

// Length of the valid UTF-8 sequence starting at text[i] and its code point, or 0 when the byte
// there does not start one (stray continuation byte, overlong form, surrogate, past U+10FFFF,
// sequence cut short).
std::size_t Utf8Sequence(std::string_view text, std::size_t i, std::uint32_t& cp) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  std::size_t length = 0;
  std::uint32_t min = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, cp = lead & 0x1F, min = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, cp = lead & 0x0F, min = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, cp = lead & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (byte(i + k) & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return length;
}

// The characters that are never text of their own: the C1 controls (one is a terminal's CSI),
// the line and paragraph separators, and the bidirectional formatting characters, which reorder
// how the text around them is shown (an override can make "CBA" show as "ABC").
bool IsFormattingControl(std::uint32_t cp) {
  return (cp >= 0x80 && cp <= 0x9F) || cp == 0x2028 || cp == 0x2029 || cp == 0x061C || cp == 0x200E ||
         cp == 0x200F || (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069);
}

}  // namespace

std::string EscapedText(std::string_view text, std::size_t maxChars) {
  std::string out;
  out.reserve(text.size() < 256 ? text.size() + 8 : 256);
  std::size_t chars = 0;
  for (std::size_t i = 0; i < text.size();) {
    if (chars++ == maxChars) {
      out += "…";
      break;
    }
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      if (c == '\\') {
        out += "\\\\";
      } else if (c < 0x20 || c == 0x7F) {
        AppendByteEscape(out, c);
      } else {
        out += static_cast<char>(c);
      }
      ++i;
      continue;
    }
    std::uint32_t cp = 0;
    const std::size_t length = Utf8Sequence(text, i, cp);
    if (length == 0) {
      AppendByteEscape(out, c);
      ++i;
    } else if (IsFormattingControl(cp)) {
      AppendCodePointEscape(out, cp);
      i += length;
    } else {
      out.append(text.substr(i, length));
      i += length;
    }
  }
  return out;
}

bool HasControlCharacter(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x80) {
      if (byte < 0x20 || byte == 0x7F) return true;
      ++i;
      continue;
    }
    std::uint32_t cp = 0;
    const std::size_t length = Utf8Sequence(text, i, cp);
    if (length == 0) {
      ++i;  // not UTF-8: the readers of the wire refuse such text before it gets here
      continue;
    }
    if (IsFormattingControl(cp)) return true;
    i += length;
  }
  return false;
}

}  // namespace host::wire
