// FilterExpression is a parsed record-set filter. The language is one comparison:
//
//   FIELD = 'text'
//
// FIELD is a field name (a letter or '_' then letters, digits or '_'); text is any characters
// between single quotes, a quote inside written as two quotes. Blanks (spaces, tabs, line
// breaks) are allowed before and after each part. Anything else raises EFilterError, whose
// message quotes the expression and says what was expected where.
//
// Thread rules: immutable after parsing; may be shared between threads. Intentionally copyable
// and movable.
#pragma once

#include <string>
#include <string_view>

#include "host/data/DataErrors.h"

namespace host {

class FilterExpression {
 public:
  // Parses text. Raises EFilterError when it is outside the language (the empty text included).
  static FilterExpression Parse(std::string_view text);

  // The field name as written.
  const std::string& FieldName() const { return fieldName_; }
  // The compared text with doubled quotes made single.
  const std::string& Value() const { return value_; }

 private:
  std::string fieldName_;
  std::string value_;
};

}  // namespace host
