#include "host/net/AnswerTokenizer.h"

#include <simdjson.h>

#include "host/net/PlainTextScan.h"

namespace host {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

// A byte that may belong to a number; the whole token is checked once it ends.
bool IsNumberByte(char c) { return (c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E'; }

// True for a JSON number: -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?
bool IsJsonNumber(std::string_view n) {
  std::size_t i = 0;
  const auto digits = [&] {
    const std::size_t from = i;
    while (i < n.size() && n[i] >= '0' && n[i] <= '9') ++i;
    return i > from;
  };
  if (i < n.size() && n[i] == '-') ++i;
  if (i < n.size() && n[i] == '0') {
    ++i;
  } else if (!digits()) {
    return false;
  }
  if (i < n.size() && n[i] == '.') {
    ++i;
    if (!digits()) return false;
  }
  if (i < n.size() && (n[i] == 'e' || n[i] == 'E')) {
    ++i;
    if (i < n.size() && (n[i] == '+' || n[i] == '-')) ++i;
    if (!digits()) return false;
  }
  return i == n.size();
}

constexpr const char* kBrokenPair = "escape \\u incompleto (par substituto)";

}  // namespace

bool AnswerTokenizer::Fail(std::string message) {
  if (!failed_) {
    failed_ = true;
    failure_ = std::move(message);
  }
  return false;
}

const char* AnswerTokenizer::FailAt(const char* p, const std::string& message) {
  Fail(message + " (byte " + std::to_string(offset_ + static_cast<std::uint64_t>(p - piece_)) + ")");
  return nullptr;
}

bool AnswerTokenizer::Refuse() {
  failed_ = true;
  return false;
}

const char* AnswerTokenizer::Stop(const char* message) {
  Fail(message);
  return nullptr;
}

const char* AnswerTokenizer::Refused() {
  Refuse();
  return nullptr;
}

std::string AnswerTokenizer::TakeKept() {
  if (keptDropped_) return {};
  return std::move(kept_);
}

void AnswerTokenizer::KeepPart(const char* from, const char* to) {
  kept_.append(from, to);
  if (kept_.size() > keptMax_) {
    keeping_ = false;
    keptDropped_ = true;
    std::string().swap(kept_);
  }
}

bool AnswerTokenizer::Feed(std::string_view bytes) {
  if (failed_) return false;
  const char* p = bytes.data();
  const char* const end = p + bytes.size();
  piece_ = p;
  if (keeping_) keptFrom_ = p;
  while (p < end) {
    if (token_ != Token::None) {
      p = ContinueToken(p, end);
    } else {
      while (p < end && IsBlank(*p)) ++p;
      if (p == end) break;
      p = Structural(p, end);
    }
    if (!p) return false;  // the failure is recorded
  }
  if (keeping_) KeepPart(keptFrom_, end);
  offset_ += bytes.size();
  return true;
}

bool AnswerTokenizer::Finish() {
  if (failed_) return false;
  if (token_ == Token::Number && containers_.empty() && !EndNumber(nullptr)) return false;
  if (token_ != Token::None || expect_ != Expect::Done) {
    if (offset_ == 0) return Fail("resposta vazia");
    return Fail("a resposta terminou antes de completa (" + std::to_string(offset_) + " bytes)");
  }
  return true;
}

const char* AnswerTokenizer::ContinueToken(const char* p, const char* end) {
  switch (token_) {
    case Token::String: return ScanString(p, end);
    case Token::Number: return ContinueNumber(p, end);
    case Token::Literal: return ContinueLiteral(p, end);
    case Token::None: break;
  }
  return p;
}

const char* AnswerTokenizer::ContinueNumber(const char* p, const char* end) {
  while (p < end && IsNumberByte(*p)) {
    if (scratch_.size() >= 400) return FailAt(p, "número longo demais");
    scratch_ += *p++;
  }
  if (p == end) return p;
  return EndNumber(p) ? p : nullptr;
}

const char* AnswerTokenizer::ContinueLiteral(const char* p, const char* end) {
  while (p < end && literal_[literalAt_] != '\0') {
    if (*p != literal_[literalAt_]) return FailAt(p, "valor inválido");
    ++p;
    ++literalAt_;
  }
  if (literal_[literalAt_] != '\0') return p;
  token_ = Token::None;
  const JsonKind kind = literal_[0] == 'n' ? JsonKind::Null : literal_[0] == 't' ? JsonKind::True : JsonKind::False;
  if (!events_.Scalar(kind, {}, false)) return Refused();
  return ValueDone(p) ? p : nullptr;
}

const char* AnswerTokenizer::Structural(const char* p, const char* end) {
  const char c = *p;
  switch (expect_) {
    case Expect::Value:
    case Expect::ValueOrEnd:
      if (c == ']' && expect_ == Expect::ValueOrEnd) return Close('[', p + 1) ? p + 1 : nullptr;
      return BeginValue(p, end);
    case Expect::Key:
    case Expect::KeyOrEnd:
      if (c == '}' && expect_ == Expect::KeyOrEnd) return Close('{', p + 1) ? p + 1 : nullptr;
      if (c != '"') return FailAt(p, "nome de membro esperado");
      return BeginString(p, true);
    case Expect::Colon:
      if (c != ':') return FailAt(p, "':' esperado");
      expect_ = Expect::Value;
      return p + 1;
    case Expect::CommaOrEnd:
      if (c == ',') {
        expect_ = containers_.back() == '{' ? Expect::Key : Expect::Value;
        return p + 1;
      }
      if (c != '}' && c != ']') return FailAt(p, "',' esperado");
      return Close(c == '}' ? '{' : '[', p + 1) ? p + 1 : nullptr;
    case Expect::Done: return FailAt(p, "texto após a resposta");
  }
  return p;
}

const char* AnswerTokenizer::BeginValue(const char* p, const char* end) {
  const char c = *p;
  if (c == '[' && containers_.size() < kMaxDepth) {
    const char* after = events_.PlainArrays(p, end);
    if (after != p) {
      // The sink read whole arrays; it stopped after one (or after the ',' that follows it).
      expect_ = after[-1] == ',' ? Expect::Value : Expect::CommaOrEnd;
      return after;
    }
  }
  if (keyIsKept_ && !keptStarted_ && containers_.size() == 1) {
    keeping_ = keptStarted_ = true;
    keptFrom_ = p;
  }
  if (c == '{' || c == '[') {
    // An answer nests a few levels; a hostile one must not make the stacks grow with its size.
    if (containers_.size() >= kMaxDepth) return FailAt(p, "aninhamento profundo demais");
    containers_ += c;
    if (!events_.BeginContainer(c == '{')) return Refused();
    expect_ = c == '{' ? Expect::KeyOrEnd : Expect::ValueOrEnd;
    return p + 1;
  }
  if (c == '"') return BeginString(p, false);
  if (c == '-' || (c >= '0' && c <= '9')) {
    token_ = Token::Number;
    scratch_.clear();
    return p;
  }
  if (c == 't' || c == 'f' || c == 'n') {
    token_ = Token::Literal;
    literal_ = c == 't' ? "true" : c == 'f' ? "false" : "null";
    literalAt_ = 0;
    return p;
  }
  return FailAt(p, "valor inesperado");
}

const char* AnswerTokenizer::BeginString(const char* p, bool key) {
  token_ = Token::String;
  stringIsKey_ = key;
  stringNonAscii_ = false;
  inScratch_ = false;
  return p + 1;
}

void AnswerTokenizer::AppendCodePoint(std::uint32_t cp) {
  if (cp < 0x80) {
    scratch_ += static_cast<char>(cp);
  } else if (cp < 0x800) {
    scratch_ += static_cast<char>(0xC0 | (cp >> 6));
    scratch_ += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    scratch_ += static_cast<char>(0xE0 | (cp >> 12));
    scratch_ += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    scratch_ += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    scratch_ += static_cast<char>(0xF0 | (cp >> 18));
    scratch_ += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    scratch_ += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    scratch_ += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// One byte of an escape sequence (escape_ > 0). Returns false on a malformed escape.
bool AnswerTokenizer::EscapeByte(char c) {
  if (escape_ == 1) {
    if (highSurrogate_ && c != 'u') return Fail(kBrokenPair);
    switch (c) {
      case '"': scratch_ += '"'; break;
      case '\\': scratch_ += '\\'; break;
      case '/': scratch_ += '/'; break;
      case 'b': scratch_ += '\b'; break;
      case 'f': scratch_ += '\f'; break;
      case 'n': scratch_ += '\n'; break;
      case 'r': scratch_ += '\r'; break;
      case 't': scratch_ += '\t'; break;
      case 'u':
        escape_ = 2;
        codeUnit_ = 0;
        return true;
      default: return Fail("escape inválido em texto");
    }
    escape_ = 0;
    return true;
  }
  int digit;
  if (c >= '0' && c <= '9') {
    digit = c - '0';
  } else if (c >= 'a' && c <= 'f') {
    digit = c - 'a' + 10;
  } else if (c >= 'A' && c <= 'F') {
    digit = c - 'A' + 10;
  } else {
    return Fail("escape \\u inválido em texto");
  }
  codeUnit_ = codeUnit_ * 16 + static_cast<std::uint32_t>(digit);
  if (++escape_ < 6) return true;
  escape_ = 0;
  const std::uint32_t unit = codeUnit_;
  if (highSurrogate_) {
    if (unit < 0xDC00 || unit > 0xDFFF) return Fail(kBrokenPair);
    AppendCodePoint(0x10000 + ((highSurrogate_ - 0xD800) << 10) + (unit - 0xDC00));
    highSurrogate_ = 0;
  } else if (unit >= 0xD800 && unit <= 0xDBFF) {
    highSurrogate_ = unit;
  } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
    return Fail(kBrokenPair);
  } else {
    AppendCodePoint(unit);
  }
  return true;
}

const char* AnswerTokenizer::ScanString(const char* p, const char* end) {
  const char* start = p;
  bool nonAscii = stringNonAscii_;
  while (p < end) {
    if (escape_) {
      if (!EscapeByte(*p)) return nullptr;  // the failure is recorded
      start = ++p;
      continue;
    }
    // After a high surrogate only the escape of its low half may follow.
    if (highSurrogate_ && *p != '\\') return Stop(kBrokenPair);
    p = SkipPlainText(p, end, nonAscii);
    if (p == end) break;
    if (*p == '"') {
      stringNonAscii_ = nonAscii;
      token_ = Token::None;
      const char* after = p + 1;
      if (inScratch_) {
        scratch_.append(start, p);
        return EndString(scratch_, stringNonAscii_, after) ? after : nullptr;
      }
      return EndString(std::string_view(start, static_cast<std::size_t>(p - start)), stringNonAscii_, after) ? after
                                                                                                          : nullptr;
    }
    if (*p != '\\') return Stop("caractere de controle dentro de um texto");
    if (!inScratch_) {
      scratch_.clear();
      inScratch_ = true;
    }
    scratch_.append(start, p);
    escape_ = 1;
    start = ++p;
  }
  // The piece ended inside the string: keep what was read.
  if (!inScratch_) {
    scratch_.clear();
    inScratch_ = true;
  }
  scratch_.append(start, p);
  stringNonAscii_ = nonAscii;
  return end;
}

bool AnswerTokenizer::EndString(std::string_view text, bool nonAscii, const char* after) {
  if (nonAscii && !simdjson::validate_utf8(text.data(), text.size())) return Fail("texto que não é UTF-8 válido");
  if (stringIsKey_) {
    expect_ = Expect::Colon;
    keyIsKept_ = containers_.size() == 1 && !keptName_.empty() && text == keptName_;
    return events_.Key(text) || Refuse();
  }
  if (!events_.Scalar(JsonKind::String, text, nonAscii)) return Refuse();
  return ValueDone(after);
}

bool AnswerTokenizer::EndNumber(const char* after) {
  token_ = Token::None;
  if (!IsJsonNumber(scratch_)) return Fail("número inválido");
  if (!events_.Scalar(JsonKind::Number, scratch_, false)) return Refuse();
  return ValueDone(after);
}

bool AnswerTokenizer::Close(char bracket, const char* after) {
  if (containers_.empty() || containers_.back() != bracket) return Fail("fechamento inesperado");
  containers_.pop_back();
  if (!events_.EndContainer()) return Refuse();
  return ValueDone(after);
}

bool AnswerTokenizer::ValueDone(const char* after) {
  expect_ = containers_.empty() ? Expect::Done : Expect::CommaOrEnd;
  // The kept member's value ends when the reading is back at the outermost object.
  if (keeping_ && containers_.size() == 1) {
    keeping_ = false;
    KeepPart(keptFrom_, after);
  }
  return true;
}

}  // namespace host
