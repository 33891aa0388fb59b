// Counting the characters of UTF-8 text, as the client and the server both do when they measure a
// value against a field's size: a character is a byte that does not continue a multi-byte
// sequence. The count is exact for valid UTF-8, which every reader of the wire checks before it
// counts.
//
// Stateless functions; safe from any thread.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace host::wire {

// True for a byte that continues a multi-byte character (10xxxxxx).
inline bool IsUtf8Continuation(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

// The number of characters (code points) of text. REQUIRES: text is valid UTF-8.
inline std::size_t Utf8CharCount(std::string_view text) {
  // Eight bytes at a time: a continuation byte has its top bit set and the next one clear, so
  // after w << 1 moves each byte's bit 6 to its bit 7, w & ~(w << 1) keeps bit 7 of exactly those.
  std::size_t continuations = 0;
  std::size_t i = 0;
  for (; i + 8 <= text.size(); i += 8) {
    std::uint64_t w;
    std::memcpy(&w, text.data() + i, 8);
    continuations += static_cast<std::size_t>(std::popcount(w & ~(w << 1) & 0x8080808080808080u));
  }
  for (; i < text.size(); ++i) continuations += IsUtf8Continuation(text[i]);
  return text.size() - continuations;
}

}  // namespace host::wire
