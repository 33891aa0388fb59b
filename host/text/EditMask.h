// An edit mask: the picture that shapes what a cell accepts and how its value is shown.
//
// A mask text has up to three sections separated by ';':
//   1. the edit mask: a sequence of elements, each an input position or a literal;
//   2. "0" (the literals are not stored with the value) or "1" (they are; the default);
//   3. the blank character shown in unfilled input positions while editing (default '_').
// Input positions: 'L' letter, 'A' letter or digit, 'C' any printable character, '0' digit
// (required); 'l', 'a', 'c', '9' the same optional; '#' digit, '+' or '-' (optional).
// Directives: '>' upper case from here, '<' lower case, "<>" no case conversion, '!' the
// leading-blanks flag (accepted and kept, no other effect). '\' makes the next character a
// literal (a ';' included); '_' is a literal blank; every other printable ASCII character is a
// literal. Letters are the ASCII letters; case conversion changes ASCII letters only.
//
// A mask is parsed once, when constructed; a malformed mask raises EMaskError naming the mask and
// the 1-based position: a control character anywhere, a byte >= 0x80 that is not escaped (an
// escaped one must begin a complete UTF-8 sequence, which becomes one literal), a '\' at the end
// of the mask, a second section other than "0" or "1", more than three sections, or a blank
// section of more than one character (or a non-printable blank). An empty edit section means
// "no mask": values pass unchanged and every printable character is accepted.
//
// Values are UTF-8 text handled character by character (a multi-byte sequence is one character;
// a stray byte is a character of its own), so a character of the value is never split.
//
// Thread rules: an EditMask is immutable after construction and may be shared between threads.
// Intentionally copyable and movable.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/core/Component.h"

namespace host {

// A mask that cannot be parsed. The message names the mask and the position of the fault.
class EMaskError : public EPlatformError {
 public:
  using EPlatformError::EPlatformError;
};

class EditMask {
 public:
  // Parses `mask`. Throws EMaskError when it is malformed (see above).
  explicit EditMask(std::string_view mask);

  // The mask text as given.
  const std::string& Text() const { return text_; }
  // True when the mask has no edit section: values pass unchanged.
  bool Empty() const { return elements_.empty() && !hasEditSection_; }
  // True when the literals are stored with the value (second section "1" or absent).
  bool SaveLiterals() const { return saveLiterals_; }
  // The character shown in unfilled input positions while editing.
  char BlankChar() const { return blank_; }
  // True when the mask carries the leading-blanks flag '!'.
  bool LeadingBlanks() const { return leadingBlanks_; }
  // The number of input positions.
  int InputCount() const { return static_cast<int>(inputs_.size()); }

  // The value as shown through the mask (the platform's FormatMaskText).
  // Literals not stored: the value's characters fill the input positions in order and the
  // literals are placed between them. Literals stored: the value already holds its literals; a
  // literal the value lacks at its place is inserted. In both cases:
  //   - no class check and no case conversion is made: the value is shown as it is stored;
  //   - a value shorter than the mask stops at its last character: the unfilled positions and
  //     the literals after the last filled position are left out (an empty value gives "");
  //   - characters beyond the mask's last input position are appended unchanged, so no
  //     character of the value is ever lost.
  std::string Format(std::string_view value) const;

  // The cell editor's text for a stored value: every literal of the mask, the value's
  // characters in the filled input positions and BlankChar() in the unfilled ones. Characters
  // beyond the mask are appended as in Format. An empty mask gives the value unchanged.
  std::string EditText(std::string_view storedValue) const;

  // A character typed at the end of a cell whose stored value is `storedValue`. Returns the new
  // stored value, or nullopt when the mask refuses the character:
  //   - the next input position's class does not admit it, or the mask is full;
  //   - it is a control character or a byte >= 0x80 (one typed byte is never half a character).
  // The character is converted to the case in force at its position. When the literals are
  // stored, the literals before the position are appended with it. Typing a literal that lies
  // between the value's end and the next input position is accepted: when literals are stored
  // it appends the literals up to and including that one; when they are not, the stored value
  // comes back unchanged. Optional positions are never skipped: a character fills the next
  // position or is refused. With an empty mask every printable character is appended.
  // REQUIRES: storedValue was produced by this mask (a value with more characters than the mask
  // has elements is full).
  std::optional<std::string> Type(std::string_view storedValue, char c) const;

  // The stored value after the backspace key: the last character removed, then, when literals
  // are stored, the literals left at the end removed too, so the value ends at an input position.
  // An empty value stays empty.
  std::string Backspace(std::string_view storedValue) const;

  // True when every required input position of the mask is filled by `storedValue`.
  bool IsComplete(std::string_view storedValue) const;

 private:
  enum class Kind { kLiteral, kLetter, kAlnum, kAny, kDigit, kSignedDigit };
  enum class Case { kNone, kUpper, kLower };
  struct Element {
    Kind kind = Kind::kLiteral;
    bool required = false;
    Case letterCase = Case::kNone;
    std::string literal;  // the literal's text (one character, possibly multi-byte)
  };

  [[noreturn]] void Fail(std::size_t position, const std::string& reason) const;
  void ParseEditSection(std::string_view section, std::size_t offset);
  static bool Admits(const Element& e, char c);
  static char Convert(const Element& e, char c);

  std::string text_;
  bool hasEditSection_ = false;
  bool saveLiterals_ = true;
  char blank_ = '_';
  bool leadingBlanks_ = false;
  std::vector<Element> elements_;
  std::vector<std::size_t> inputs_;  // indexes into elements_ of the input positions
};

// The value shown through `mask` (see EditMask::Format). An empty mask returns the value
// unchanged. Throws EMaskError when the mask is malformed. The last mask parsed is kept per
// thread, so formatting many values with one mask parses it once; safe from any thread.
std::string FormatMaskText(std::string_view mask, std::string_view value);

// Splits UTF-8 text into characters: each complete multi-byte sequence is one piece, every other
// byte a piece of its own. The pieces view `text`.
std::vector<std::string_view> SplitUtf8Chars(std::string_view text);

}  // namespace host
