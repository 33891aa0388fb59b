// The fast path of the answer decoder. A packet's rows are nearly always arrays of plain texts (no
// escapes, no blanks between values), so whole rows are read here in one go, sixteen bytes at a
// time where the processor allows, their text copied into the packet's row storage while it is
// scanned. A row is kept only once it is read to its ']' and found plain:
//
//   [ "text" , "text" , ... ]    exactly the packet's width of values, each null or a string
//                                without '\\' and control characters; no blanks.
//
// A row holding bytes outside ASCII is kept only when its text is valid UTF-8 and every value
// starts on a character (so each value is valid on its own). Anything else (a blank, an escape, a
// control character, bad UTF-8, a value of another kind, the wrong width, the piece ending) stops
// the reading before that row, and the general tokenizer reads the row from its '[' with all its
// checks, so every fault is found and worded as before.
//
// A value equal to the same column's value in the row above shares that value's text instead of
// being copied again (a related list's product key repeats on every row of its product).
//
// Stateless; safe from any thread, on packets that no other thread touches.
#pragma once

#include <cstddef>

#include "host/data/DecodedAnswer.h"

namespace host {

struct PlainRowsRead {
  // After the last row kept, with its ',' when another row follows; where the reading began
  // when no row was kept.
  const char* after = nullptr;
  std::size_t rows = 0;  // the rows kept
  RowId lastRow = 0;     // the last row kept, when any
};

// Reads plain rows from p, at a row's '[', up to end, into packet's store and its widest values.
// REQUIRES: packet's store has width columns, width > 0, and its widest has width entries.
// Internal to the platform library, like AnswerTokenizer.
[[gnu::visibility("hidden")]] PlainRowsRead ReadPlainRows(const char* p, const char* end, DecodedPacket& packet, std::size_t width);

}  // namespace host
