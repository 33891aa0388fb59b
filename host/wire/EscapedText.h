// EscapedText makes text that came from a client safe to show in one line of a log or inside a
// message: every byte or character that could end the line, start a terminal escape sequence or
// cut a C string is written as a visible escape instead, so the text can neither forge a line nor
// lose its tail.
//
//   - a backslash becomes "\\" (so an escape in the output is never ambiguous);
//   - a control character below U+0020 and DEL (U+007F) become "\xNN" (NUL is "\x00");
//   - the C1 controls U+0080..U+009F (one of them is a terminal's CSI), the line and paragraph
//     separators U+2028, U+2029 and the bidirectional formatting characters (U+061C, U+200E,
//     U+200F, U+202A..U+202E, U+2066..U+2069, which reorder how a line is shown) become "\uNNNN";
//   - a byte that is not part of a valid UTF-8 sequence becomes "\xNN";
//   - everything else is copied as it is.
//
// Stateless; may be called from any thread at once.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace host::wire {

// Returns text escaped as above. When text holds more than maxChars characters, only the first
// maxChars are kept and "…" is appended.
std::string EscapedText(std::string_view text, std::size_t maxChars = std::string_view::npos);

// True when text holds a control character: below U+0020, U+007F, a C1 control, a line or
// paragraph separator, or a bidirectional formatting character (those EscapedText writes as
// escapes). Such characters are never part of a code or key typed by a user.
bool HasControlCharacter(std::string_view text);

}  // namespace host::wire
