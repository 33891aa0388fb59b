// DescriptionParser reads the text of a screen description (see DescriptionNode.h for the form)
// into a tree of DescriptionObject. It only checks the syntax: which classes and properties
// exist is the loader's business.
//
// Faults raise EDescriptionError naming the line: an unexpected token, an unterminated string, a
// character code that is not a Unicode scalar value, invalid UTF-8, a missing "end", text after
// the root object, a nesting deeper than kMaxDepth.
//
// Stateless: Parse may be called from any thread.
#pragma once

#include <string_view>

#include "host/forms/DescriptionError.h"
#include "host/forms/DescriptionNode.h"

namespace host {

class DescriptionParser {
 public:
  // Objects and values nested deeper than this are refused (a malformed text must not exhaust
  // the stack).
  static constexpr int kMaxDepth = 64;

  // Parses the whole text, which must hold exactly one root object.
  static DescriptionObject Parse(std::string_view text);
};

}  // namespace host
