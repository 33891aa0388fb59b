#include "web/src/JsonOut.h"

namespace web {

namespace {

// Length of the valid UTF-8 sequence at text[i], or 0 when the byte there starts none.
std::size_t Utf8Length(std::string_view text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char c = byte(i);
  if (c < 0x80) return 1;
  std::size_t n = 0;
  unsigned min = 0;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
    min = 0x80;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    min = 0x800;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    min = 0x10000;
  } else {
    return 0;
  }
  if (i + n > text.size()) return 0;
  unsigned code = c & (0x7F >> n);
  for (std::size_t k = 1; k < n; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(i + k) & 0x3F);
  }
  if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return n;
}

}  // namespace

JsonOut& JsonOut::Text(std::string_view text) {
  std::string clean;
  bool bad = false;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t n = Utf8Length(text, i);
    if (n == 0) {
      if (!bad) clean.assign(text.substr(0, i));
      bad = true;
      clean += "\xEF\xBF\xBD";
      ++i;
      continue;
    }
    if (bad) clean.append(text.substr(i, n));
    i += n;
  }
  const std::string_view out = bad ? std::string_view(clean) : text;
  writer_.String(out.data(), static_cast<rapidjson::SizeType>(out.size()));
  return *this;
}

}  // namespace web
