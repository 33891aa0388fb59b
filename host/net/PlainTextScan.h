// The scan that finds where the plain run of a JSON string's text ends: the first '"', '\\' or
// control character (below 0x20), the only bytes that need more than copying. It reads sixteen
// bytes at a time where the processor allows (SSE2), and notes whether the run holds bytes past
// ASCII (whose text must then be checked as UTF-8). The answer decoder's tokenizer and its reader
// of plain rows both scan with it, the latter copying the run as it goes.
//
// Stateless; safe from any thread.
#pragma once

#include <cstddef>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace host {

// Scans from p to the first '"', '\\' or control character, or to end; returns where it stopped.
// Sets high when the bytes passed hold one of 0x80 or above (it is never cleared). With kCopy,
// the bytes passed are also copied to out, which moves past them.
// REQUIRES (kCopy): out has room for the bytes up to end plus 16 (whole blocks are stored).
template <bool kCopy>
inline const char* ScanPlainText(const char* p, const char* end, char*& out, bool& high) {
  // Locals, not the references, inside the loops: a byte stored through a char pointer could
  // alias them, which would make the compiler reload them after every store.
  char* o = out;
  unsigned highBits = 0;
#ifdef __SSE2__
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
  const __m128i control = _mm_set1_epi8(0x1F);
  while (end - p >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    if constexpr (kCopy) _mm_storeu_si128(reinterpret_cast<__m128i*>(o), v);
    const unsigned stop = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash)),
        _mm_cmpeq_epi8(_mm_max_epu8(v, control), control))));
    const unsigned bits = static_cast<unsigned>(_mm_movemask_epi8(v));
    if (stop) {
      const unsigned n = static_cast<unsigned>(__builtin_ctz(stop));
      highBits |= bits & ((1u << n) - 1);
      p += n;
      if constexpr (kCopy) o += n;
      out = o;
      high |= highBits != 0;
      return p;
    }
    highBits |= bits;
    p += 16;
    if constexpr (kCopy) o += 16;
  }
#endif
  while (p < end) {
    const auto c = static_cast<unsigned char>(*p);
    if (c == '"' || c == '\\' || c < 0x20) break;
    highBits |= c >> 7;
    if constexpr (kCopy) *o++ = static_cast<char>(c);
    ++p;
  }
  out = o;
  high |= highBits != 0;
  return p;
}

// The scan without a copy.
inline const char* SkipPlainText(const char* p, const char* end, bool& high) {
  char* none = nullptr;
  return ScanPlainText<false>(p, end, none, high);
}

// The scan copying the bytes passed to out (see ScanPlainText's REQUIRES).
inline const char* CopyPlainText(const char* p, const char* end, char*& out, bool& high) {
  return ScanPlainText<true>(p, end, out, high);
}

}  // namespace host
