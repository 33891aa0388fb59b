#include "host/data/FilterExpression.h"

namespace host {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
bool IsNameStart(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}
bool IsNameChar(char c) {
  return IsNameStart(c) || (c >= '0' && c <= '9');
}

}  // namespace

FilterExpression FilterExpression::Parse(std::string_view text) {
  auto fail = [&](std::size_t pos, const char* expected) {
    throw EFilterError("Invalid filter expression \"" + std::string(text) + "\": expected " +
                       expected + " at position " + std::to_string(pos + 1) +
                       " (the form is FIELD = 'text')");
  };
  std::size_t pos = 0;
  auto skipBlanks = [&] {
    while (pos < text.size() && IsBlank(text[pos])) ++pos;
  };

  FilterExpression expr;
  skipBlanks();
  if (pos >= text.size() || !IsNameStart(text[pos])) fail(pos, "a field name");
  const std::size_t nameStart = pos;
  while (pos < text.size() && IsNameChar(text[pos])) ++pos;
  expr.fieldName_ = std::string(text.substr(nameStart, pos - nameStart));

  skipBlanks();
  if (pos >= text.size() || text[pos] != '=') fail(pos, "'='");
  ++pos;
  skipBlanks();
  if (pos >= text.size() || text[pos] != '\'') fail(pos, "a quoted text");
  ++pos;
  for (;;) {
    if (pos >= text.size()) fail(pos, "the closing quote");
    if (text[pos] == '\'') {
      if (pos + 1 < text.size() && text[pos + 1] == '\'') {
        expr.value_ += '\'';
        pos += 2;
        continue;
      }
      ++pos;
      break;
    }
    expr.value_ += text[pos++];
  }
  skipBlanks();
  if (pos != text.size()) fail(pos, "the end of the expression");
  return expr;
}

}  // namespace host
