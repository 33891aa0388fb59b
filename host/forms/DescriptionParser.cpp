#include "host/forms/DescriptionParser.h"

#include <cctype>
#include <optional>
#include <stdexcept>

namespace host {

const char* DescriptionValueKindName(DescriptionValue::Kind kind) {
  switch (kind) {
    case DescriptionValue::Kind::kInteger: return "integer";
    case DescriptionValue::Kind::kDecimal: return "decimal number";
    case DescriptionValue::Kind::kString: return "string";
    case DescriptionValue::Kind::kIdentifier: return "identifier";
    case DescriptionValue::Kind::kSet: return "set";
    case DescriptionValue::Kind::kList: return "list";
    case DescriptionValue::Kind::kCollection: return "collection";
    case DescriptionValue::Kind::kBinary: return "binary data";
  }
  return "value";
}

namespace {

enum class Tok { kIdentifier, kInteger, kDecimal, kStringPart, kBinary, kSymbol, kEnd };

struct Token {
  Tok kind = Tok::kEnd;
  int line = 0;
  std::string text;  // identifier, number as written, decoded string part, hex digits, symbol
  std::int64_t integer = 0;
};

bool IsIdentStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0 || c == '_'; }
bool IsIdentChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_'; }

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

void AppendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Length of the valid UTF-8 sequence starting at s[i], or 0 when it is not valid.
std::size_t Utf8SequenceLength(std::string_view s, std::size_t i) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  std::size_t len;
  std::uint32_t cp;
  if (b0 < 0x80) return 1;
  if ((b0 & 0xE0) == 0xC0) { len = 2; cp = b0 & 0x1F; }
  else if ((b0 & 0xF0) == 0xE0) { len = 3; cp = b0 & 0x0F; }
  else if ((b0 & 0xF8) == 0xF0) { len = 4; cp = b0 & 0x07; }
  else return 0;
  if (i + len > s.size()) return 0;
  for (std::size_t k = 1; k < len; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  if ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000)) return 0;
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

class Lexer {
 public:
  explicit Lexer(std::string_view text) : text_(text) {
    if (text_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
  }

  Token Next() {
    SkipBlanks();
    Token t;
    t.line = line_;
    if (pos_ >= text_.size()) return t;
    const char c = text_[pos_];
    if (IsIdentStart(c)) return Identifier(t);
    if (std::isdigit(static_cast<unsigned char>(c)) != 0 ||
        ((c == '-' || c == '+') && pos_ + 1 < text_.size() &&
         std::isdigit(static_cast<unsigned char>(text_[pos_ + 1])) != 0)) {
      return Number(t);
    }
    if (c == '$') return HexNumber(t);
    if (c == '\'') return Quoted(t);
    if (c == '#') return CharCode(t);
    if (c == '{') return Binary(t);
    static constexpr std::string_view kSymbols = "=:[](),<>+";
    if (kSymbols.find(c) != std::string_view::npos) {
      ++pos_;
      t.kind = Tok::kSymbol;
      t.text = std::string(1, c);
      return t;
    }
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) {
      throw EDescriptionError(line_, "unexpected character code " + std::to_string(static_cast<unsigned char>(c)));
    }
    throw EDescriptionError(line_, std::string("unexpected character '") + c + "'");
  }

 private:
  void SkipBlanks() {
    while (pos_ < text_.size()) {
      const char c = text_[pos_];
      if (c == '\n') {
        ++line_;
        ++pos_;
      } else if (c == ' ' || c == '\t' || c == '\r') {
        ++pos_;
      } else {
        break;
      }
    }
  }

  Token Identifier(Token& t) {
    const std::size_t start = pos_;
    while (pos_ < text_.size()) {
      if (IsIdentChar(text_[pos_])) {
        ++pos_;
      } else if (text_[pos_] == '.' && pos_ + 1 < text_.size() && IsIdentStart(text_[pos_ + 1])) {
        ++pos_;
      } else {
        break;
      }
    }
    t.kind = Tok::kIdentifier;
    t.text = std::string(text_.substr(start, pos_ - start));
    return t;
  }

  Token Number(Token& t) {
    const std::size_t start = pos_;
    if (text_[pos_] == '-' || text_[pos_] == '+') ++pos_;
    while (pos_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_])) != 0) ++pos_;
    bool decimal = false;
    if (pos_ + 1 < text_.size() && text_[pos_] == '.' && std::isdigit(static_cast<unsigned char>(text_[pos_ + 1])) != 0) {
      decimal = true;
      ++pos_;
      while (pos_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_])) != 0) ++pos_;
    }
    if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
      std::size_t p = pos_ + 1;
      if (p < text_.size() && (text_[p] == '+' || text_[p] == '-')) ++p;
      if (p < text_.size() && std::isdigit(static_cast<unsigned char>(text_[p])) != 0) {
        decimal = true;
        pos_ = p;
        while (pos_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_])) != 0) ++pos_;
      }
    }
    t.text = std::string(text_.substr(start, pos_ - start));
    if (pos_ < text_.size() && IsIdentChar(text_[pos_])) {
      throw EDescriptionError(line_, "malformed number '" + t.text + text_[pos_] + "'");
    }
    if (decimal) {
      t.kind = Tok::kDecimal;
      return t;
    }
    t.kind = Tok::kInteger;
    const bool negative = t.text[0] == '-';
    std::uint64_t value = 0;
    for (char d : t.text) {
      if (d == '-' || d == '+') continue;
      value = value * 10 + static_cast<std::uint64_t>(d - '0');
      if (value > (std::uint64_t{1} << 62)) throw EDescriptionError(line_, "number too large: " + t.text);
    }
    t.integer = negative ? -static_cast<std::int64_t>(value) : static_cast<std::int64_t>(value);
    return t;
  }

  Token HexNumber(Token& t) {
    const std::size_t start = pos_++;
    std::uint64_t value = 0;
    std::size_t digits = 0;
    while (pos_ < text_.size() && std::isxdigit(static_cast<unsigned char>(text_[pos_])) != 0) {
      value = value * 16 + static_cast<std::uint64_t>(HexDigit(text_[pos_]));
      if (++digits > 15) throw EDescriptionError(line_, "hexadecimal number too large");
      ++pos_;
    }
    if (digits == 0) throw EDescriptionError(line_, "'$' without hexadecimal digits");
    t.kind = Tok::kInteger;
    t.text = std::string(text_.substr(start, pos_ - start));
    t.integer = static_cast<std::int64_t>(value);
    return t;
  }

  static int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    return std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
  }

  Token Quoted(Token& t) {
    ++pos_;  // opening quote
    std::string out;
    while (true) {
      if (pos_ >= text_.size() || text_[pos_] == '\n' || text_[pos_] == '\r') {
        throw EDescriptionError(t.line, "unterminated string");
      }
      const char c = text_[pos_];
      if (c == '\'') {
        if (pos_ + 1 < text_.size() && text_[pos_ + 1] == '\'') {
          out.push_back('\'');
          pos_ += 2;
          continue;
        }
        ++pos_;
        break;
      }
      const std::size_t len = Utf8SequenceLength(text_, pos_);
      if (len == 0) throw EDescriptionError(t.line, "invalid UTF-8 inside a string");
      if (len == 1 && static_cast<unsigned char>(c) < 0x20 && c != '\t') {
        throw EDescriptionError(t.line, "control character inside a string (write it as #" +
                                            std::to_string(static_cast<unsigned char>(c)) + ")");
      }
      out.append(text_.substr(pos_, len));
      pos_ += len;
    }
    t.kind = Tok::kStringPart;
    t.text = std::move(out);
    return t;
  }

  Token CharCode(Token& t) {
    ++pos_;  // '#'
    std::uint64_t cp = 0;
    std::size_t digits = 0;
    if (pos_ < text_.size() && text_[pos_] == '$') {
      ++pos_;
      while (pos_ < text_.size() && std::isxdigit(static_cast<unsigned char>(text_[pos_])) != 0) {
        cp = cp * 16 + static_cast<std::uint64_t>(HexDigit(text_[pos_++]));
        if (++digits > 8) break;
      }
    } else {
      while (pos_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_])) != 0) {
        cp = cp * 10 + static_cast<std::uint64_t>(text_[pos_++] - '0');
        if (++digits > 8) break;
      }
    }
    if (digits == 0) throw EDescriptionError(line_, "'#' without a character code");
    if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      throw EDescriptionError(line_, "character code #" + std::to_string(cp) + " is not a valid character");
    }
    t.kind = Tok::kStringPart;
    AppendUtf8(t.text, static_cast<std::uint32_t>(cp));
    return t;
  }

  Token Binary(Token& t) {
    ++pos_;  // '{'
    std::string digits;
    while (true) {
      if (pos_ >= text_.size()) throw EDescriptionError(t.line, "binary data without closing '}'");
      const char c = text_[pos_++];
      if (c == '}') break;
      if (c == '\n') {
        ++line_;
      } else if (std::isxdigit(static_cast<unsigned char>(c)) != 0) {
        digits.push_back(c);
      } else if (c != ' ' && c != '\t' && c != '\r') {
        throw EDescriptionError(line_, "binary data holds a character that is not a hexadecimal digit");
      }
    }
    t.kind = Tok::kBinary;
    t.text = std::move(digits);
    return t;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  int line_ = 1;
};

class Parser {
 public:
  explicit Parser(std::string_view text) : lexer_(text) { Advance(); }

  DescriptionObject Root() {
    if (!IsObjectStart()) throw Unexpected("'object' or 'inherited'");
    DescriptionObject root = Object(0);
    if (cur_.kind != Tok::kEnd) throw Unexpected("the end of the description");
    return root;
  }

 private:
  void Advance() {
    if (peeked_) {
      cur_ = std::move(*peeked_);
      peeked_.reset();
    } else {
      cur_ = lexer_.Next();
    }
  }

  const Token& Peek() {
    if (!peeked_) peeked_ = lexer_.Next();
    return *peeked_;
  }

  static std::string Describe(const Token& t) {
    switch (t.kind) {
      case Tok::kEnd: return "the end of the text";
      case Tok::kStringPart: return "a string";
      case Tok::kBinary: return "binary data";
      default: return "'" + t.text + "'";
    }
  }

  EDescriptionError Unexpected(const std::string& expected) const {
    return EDescriptionError(cur_.line, "expected " + expected + ", found " + Describe(cur_));
  }

  bool IsSymbol(char c) const { return cur_.kind == Tok::kSymbol && cur_.text[0] == c; }
  bool IsKeyword(std::string_view word) const {
    return cur_.kind == Tok::kIdentifier && EqualsIgnoreCase(cur_.text, word);
  }
  bool IsObjectStart() {
    if (!(IsKeyword("object") || IsKeyword("inherited") || IsKeyword("inline"))) return false;
    const Token& next = Peek();
    return !(next.kind == Tok::kSymbol && next.text == "=");
  }

  void Expect(char symbol) {
    if (!IsSymbol(symbol)) throw Unexpected(std::string("'") + symbol + "'");
    Advance();
  }

  std::string ExpectIdentifier(const char* what) {
    if (cur_.kind != Tok::kIdentifier) throw Unexpected(what);
    std::string name = cur_.text;
    Advance();
    return name;
  }

  void CheckDepth(int depth) const {
    if (depth > DescriptionParser::kMaxDepth) throw EDescriptionError(cur_.line, "nesting too deep");
  }

  DescriptionObject Object(int depth) {
    CheckDepth(depth);
    DescriptionObject obj;
    obj.line = cur_.line;
    obj.inherited = !IsKeyword("object");
    Advance();
    obj.name = ExpectIdentifier("a component name");
    if (obj.name.find('.') != std::string::npos) {
      throw EDescriptionError(obj.line, "component name '" + obj.name + "' must not hold a '.'");
    }
    Expect(':');
    obj.className = ExpectIdentifier("a class name");
    if (IsSymbol('[')) {  // position of an inherited component: informational only
      Advance();
      if (cur_.kind != Tok::kInteger) throw Unexpected("an integer");
      Advance();
      Expect(']');
    }
    while (true) {
      if (IsKeyword("end")) {
        Advance();
        return obj;
      }
      if (cur_.kind == Tok::kEnd) {
        throw EDescriptionError(cur_.line, "missing 'end' of '" + obj.name + "' (begun at line " +
                                               std::to_string(obj.line) + ")");
      }
      if (IsObjectStart()) {
        obj.children.push_back(Object(depth + 1));
        continue;
      }
      obj.properties.push_back(Property(depth));
    }
  }

  DescriptionProperty Property(int depth) {
    DescriptionProperty p;
    p.line = cur_.line;
    p.name = ExpectIdentifier("a property name, 'object' or 'end'");
    if (!IsSymbol('=')) throw Unexpected("'=' after property '" + p.name + "'");
    Advance();
    p.value = Value(depth + 1);
    return p;
  }

  DescriptionValue Value(int depth) {
    CheckDepth(depth);
    DescriptionValue v;
    v.line = cur_.line;
    switch (cur_.kind) {
      case Tok::kInteger:
        v.kind = DescriptionValue::Kind::kInteger;
        v.integer = cur_.integer;
        v.text = cur_.text;
        Advance();
        return v;
      case Tok::kDecimal:
        v.kind = DescriptionValue::Kind::kDecimal;
        v.text = cur_.text;
        try {
          v.decimal = std::stod(cur_.text);
        } catch (const std::exception&) {
          throw EDescriptionError(cur_.line, "number out of range: " + cur_.text);
        }
        Advance();
        return v;
      case Tok::kStringPart:
        v.kind = DescriptionValue::Kind::kString;
        v.text = StringValue();
        return v;
      case Tok::kIdentifier:
        v.kind = DescriptionValue::Kind::kIdentifier;
        v.text = cur_.text;
        Advance();
        return v;
      case Tok::kBinary:
        v.kind = DescriptionValue::Kind::kBinary;
        v.text = cur_.text;
        Advance();
        return v;
      case Tok::kSymbol:
        if (IsSymbol('[')) return Set(v);
        if (IsSymbol('(')) return List(v, depth);
        if (IsSymbol('<')) return Collection(v, depth);
        break;
      case Tok::kEnd:
        break;
    }
    throw Unexpected("a value");
  }

  // String parts on one line are joined; '+' joins a part on a following line.
  std::string StringValue() {
    std::string out = cur_.text;
    int line = cur_.line;
    Advance();
    while (true) {
      if (cur_.kind == Tok::kStringPart && cur_.line == line) {
        out += cur_.text;
        Advance();
      } else if (IsSymbol('+')) {
        Advance();
        if (cur_.kind != Tok::kStringPart) throw Unexpected("a string after '+'");
        out += cur_.text;
        line = cur_.line;
        Advance();
      } else {
        return out;
      }
    }
  }

  DescriptionValue Set(DescriptionValue& v) {
    v.kind = DescriptionValue::Kind::kSet;
    Advance();  // '['
    if (IsSymbol(']')) {
      Advance();
      return v;
    }
    while (true) {
      if (cur_.kind != Tok::kIdentifier && cur_.kind != Tok::kInteger) throw Unexpected("a set element");
      v.names.push_back(cur_.text);
      Advance();
      if (IsSymbol(']')) {
        Advance();
        return v;
      }
      Expect(',');
    }
  }

  DescriptionValue List(DescriptionValue& v, int depth) {
    v.kind = DescriptionValue::Kind::kList;
    Advance();  // '('
    while (!IsSymbol(')')) {
      if (cur_.kind == Tok::kEnd) throw EDescriptionError(v.line, "list without closing ')'");
      v.items.push_back(Value(depth + 1));
    }
    Advance();
    return v;
  }

  DescriptionValue Collection(DescriptionValue& v, int depth) {
    v.kind = DescriptionValue::Kind::kCollection;
    Advance();  // '<'
    while (!IsSymbol('>')) {
      if (!IsKeyword("item")) throw Unexpected("'item' or '>'");
      DescriptionItem item;
      item.line = cur_.line;
      Advance();
      if (IsSymbol('[')) {
        Advance();
        if (cur_.kind != Tok::kInteger) throw Unexpected("an integer");
        Advance();
        Expect(']');
      }
      while (!IsKeyword("end")) {
        if (cur_.kind == Tok::kEnd) {
          throw EDescriptionError(item.line, "collection item without 'end'");
        }
        item.properties.push_back(Property(depth + 1));
      }
      Advance();
      v.collection.push_back(std::move(item));
    }
    Advance();
    return v;
  }

  Lexer lexer_;
  Token cur_;
  std::optional<Token> peeked_;
};

}  // namespace

DescriptionObject DescriptionParser::Parse(std::string_view text) { return Parser(text).Root(); }

}  // namespace host
