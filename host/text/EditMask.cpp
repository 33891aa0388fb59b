#include "host/text/EditMask.h"

namespace host {

namespace {

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7f; }
bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

// Length of the complete UTF-8 sequence that starts at text[i], or 0 when none starts there.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t i) {
  const auto lead = static_cast<unsigned char>(text[i]);
  std::size_t len = 0;
  if (lead >= 0xc2 && lead <= 0xdf) len = 2;
  else if (lead >= 0xe0 && lead <= 0xef) len = 3;
  else if (lead >= 0xf0 && lead <= 0xf4) len = 4;
  else return 0;
  if (i + len > text.size()) return 0;
  for (std::size_t k = 1; k < len; ++k) {
    if ((static_cast<unsigned char>(text[i + k]) & 0xc0) != 0x80) return 0;
  }
  return len;
}

}  // namespace

std::vector<std::string_view> SplitUtf8Chars(std::string_view text) {
  std::vector<std::string_view> out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    std::size_t len = static_cast<unsigned char>(text[i]) < 0x80 ? 1 : Utf8SequenceLength(text, i);
    if (len == 0) len = 1;
    out.push_back(text.substr(i, len));
    i += len;
  }
  return out;
}

EditMask::EditMask(std::string_view mask) : text_(mask) {
  // Split into sections at the unescaped ';', remembering where each section starts.
  std::vector<std::pair<std::size_t, std::size_t>> sections;  // (begin, end) in text_
  std::size_t begin = 0;
  for (std::size_t i = 0; i < text_.size(); ++i) {
    const auto c = static_cast<unsigned char>(text_[i]);
    if (IsControl(c)) Fail(i, "caractere de controle");
    if (c == '\\' && sections.empty()) {
      if (i + 1 >= text_.size()) Fail(i, "'\\' sem caractere a seguir");
      ++i;  // the escaped byte is checked by the edit-section parser
      if (IsControl(static_cast<unsigned char>(text_[i]))) Fail(i, "caractere de controle");
      continue;
    }
    if (c == ';') {
      sections.emplace_back(begin, i);
      begin = i + 1;
      if (sections.size() == 3) Fail(i, "mais de três seções");
    }
  }
  sections.emplace_back(begin, text_.size());

  const std::string_view all(text_);
  ParseEditSection(all.substr(sections[0].first, sections[0].second - sections[0].first),
                   sections[0].first);

  if (sections.size() >= 2) {
    const auto [b, e] = sections[1];
    const std::string_view s = all.substr(b, e - b);
    if (s == "0") saveLiterals_ = false;
    else if (s == "1") saveLiterals_ = true;
    else Fail(b, "a segunda seção deve ser \"0\" ou \"1\"");
  }
  if (sections.size() == 3) {
    const auto [b, e] = sections[2];
    if (e - b > 1) Fail(b + 1, "o caractere de espaço deve ser um só");
    if (e - b == 1) {
      const auto c = static_cast<unsigned char>(text_[b]);
      if (c >= 0x80) Fail(b, "o caractere de espaço deve ser ASCII imprimível");
      blank_ = text_[b];
    }
  }
}

void EditMask::Fail(std::size_t position, const std::string& reason) const {
  throw EMaskError("Máscara inválida \"" + text_ + "\" na posição " + std::to_string(position + 1) +
                   ": " + reason);
}

void EditMask::ParseEditSection(std::string_view section, std::size_t offset) {
  hasEditSection_ = !section.empty();
  Case current = Case::kNone;
  auto addInput = [&](Kind kind, bool required) {
    Element e;
    e.kind = kind;
    e.required = required;
    e.letterCase = current;
    inputs_.push_back(elements_.size());
    elements_.push_back(std::move(e));
  };
  auto addLiteral = [&](std::string_view lit) {
    Element e;
    e.literal = std::string(lit);
    elements_.push_back(std::move(e));
  };

  for (std::size_t i = 0; i < section.size(); ++i) {
    const char c = section[i];
    const auto uc = static_cast<unsigned char>(c);
    if (uc >= 0x80) Fail(offset + i, "caractere não ASCII sem '\\' antes");
    switch (c) {
      case 'L': addInput(Kind::kLetter, true); break;
      case 'l': addInput(Kind::kLetter, false); break;
      case 'A': addInput(Kind::kAlnum, true); break;
      case 'a': addInput(Kind::kAlnum, false); break;
      case 'C': addInput(Kind::kAny, true); break;
      case 'c': addInput(Kind::kAny, false); break;
      case '0': addInput(Kind::kDigit, true); break;
      case '9': addInput(Kind::kDigit, false); break;
      case '#': addInput(Kind::kSignedDigit, false); break;
      case '>': current = Case::kUpper; break;
      case '<':
        if (i + 1 < section.size() && section[i + 1] == '>') {
          current = Case::kNone;
          ++i;
        } else {
          current = Case::kLower;
        }
        break;
      case '!': leadingBlanks_ = true; break;
      case '_': addLiteral(" "); break;
      case '\\': {
        // The section splitter guarantees a following byte.
        ++i;
        const auto next = static_cast<unsigned char>(section[i]);
        if (next < 0x80) {
          addLiteral(section.substr(i, 1));
        } else {
          const std::size_t len = Utf8SequenceLength(section, i);
          if (len == 0) Fail(offset + i, "sequência UTF-8 incompleta após '\\'");
          addLiteral(section.substr(i, len));
          i += len - 1;
        }
        break;
      }
      default: addLiteral(section.substr(i, 1)); break;
    }
  }
}

bool EditMask::Admits(const Element& e, char c) {
  switch (e.kind) {
    case Kind::kLetter: return IsAsciiLetter(c);
    case Kind::kAlnum: return IsAsciiLetter(c) || IsAsciiDigit(c);
    case Kind::kAny: return true;
    case Kind::kDigit: return IsAsciiDigit(c);
    case Kind::kSignedDigit: return IsAsciiDigit(c) || c == '+' || c == '-';
    case Kind::kLiteral: return false;
  }
  return false;
}

char EditMask::Convert(const Element& e, char c) {
  if (e.letterCase == Case::kUpper && c >= 'a' && c <= 'z') return static_cast<char>(c - 'a' + 'A');
  if (e.letterCase == Case::kLower && c >= 'A' && c <= 'Z') return static_cast<char>(c - 'A' + 'a');
  return c;
}

std::string EditMask::Format(std::string_view value) const {
  if (Empty() || value.empty()) return std::string(value);
  const auto chars = SplitUtf8Chars(value);
  std::string out;
  out.reserve(value.size() + elements_.size());
  std::size_t vi = 0;
  if (!saveLiterals_) {
    std::string pending;  // literals waiting for the next filled position
    bool stopped = false;
    for (const Element& e : elements_) {
      if (e.kind == Kind::kLiteral) {
        pending += e.literal;
        continue;
      }
      if (vi >= chars.size()) {
        stopped = true;
        break;
      }
      out += pending;
      pending.clear();
      out += chars[vi++];
    }
    if (!stopped) out += pending;
  } else {
    for (const Element& e : elements_) {
      if (vi >= chars.size()) break;
      if (e.kind == Kind::kLiteral) {
        out += e.literal;
        if (chars[vi] == e.literal) ++vi;
      } else {
        out += chars[vi++];
      }
    }
  }
  for (; vi < chars.size(); ++vi) out += chars[vi];
  return out;
}

std::string EditMask::EditText(std::string_view storedValue) const {
  if (Empty()) return std::string(storedValue);
  const auto chars = SplitUtf8Chars(storedValue);
  std::string out;
  std::size_t vi = 0;
  for (const Element& e : elements_) {
    if (e.kind == Kind::kLiteral) {
      out += e.literal;
      if (saveLiterals_ && vi < chars.size()) ++vi;  // the stored literal takes this place
    } else if (vi < chars.size()) {
      out += chars[vi++];
    } else {
      out += blank_;
    }
  }
  for (; vi < chars.size(); ++vi) out += chars[vi];
  return out;
}

std::optional<std::string> EditMask::Type(std::string_view storedValue, char c) const {
  const auto uc = static_cast<unsigned char>(c);
  if (IsControl(uc) || uc >= 0x80) return std::nullopt;
  std::string out(storedValue);
  if (Empty()) return out + c;

  const std::size_t filled = SplitUtf8Chars(storedValue).size();
  if (!saveLiterals_) {
    if (filled >= inputs_.size()) return std::nullopt;
    const std::size_t target = inputs_[filled];
    const std::size_t from = filled == 0 ? 0 : inputs_[filled - 1] + 1;
    for (std::size_t k = from; k < target; ++k) {
      if (elements_[k].literal.size() == 1 && elements_[k].literal[0] == c) return out;
    }
    const Element& e = elements_[target];
    if (!Admits(e, c)) return std::nullopt;
    out += Convert(e, c);
    return out;
  }

  // Literals stored: every stored character takes one element of the mask.
  for (std::size_t k = filled; k < elements_.size(); ++k) {
    const Element& e = elements_[k];
    if (e.kind == Kind::kLiteral) {
      out += e.literal;
      if (e.literal.size() == 1 && e.literal[0] == c) return out;
      continue;
    }
    if (!Admits(e, c)) return std::nullopt;
    out += Convert(e, c);
    return out;
  }
  return std::nullopt;
}

std::string EditMask::Backspace(std::string_view storedValue) const {
  auto chars = SplitUtf8Chars(storedValue);
  if (chars.empty()) return {};
  chars.pop_back();
  if (saveLiterals_ && !Empty()) {
    while (!chars.empty() && chars.size() <= elements_.size() &&
           elements_[chars.size() - 1].kind == Kind::kLiteral) {
      chars.pop_back();
    }
  }
  std::string out;
  for (auto ch : chars) out += ch;
  return out;
}

bool EditMask::IsComplete(std::string_view storedValue) const {
  const std::size_t filled = SplitUtf8Chars(storedValue).size();
  for (std::size_t n = 0; n < inputs_.size(); ++n) {
    const std::size_t position = saveLiterals_ ? inputs_[n] : n;
    if (elements_[inputs_[n]].required && position >= filled) return false;
  }
  return true;
}

std::string FormatMaskText(std::string_view mask, std::string_view value) {
  if (mask.empty()) return std::string(value);
  // Grids format cell after cell with the same few masks: keep the last one parsed per thread.
  thread_local EditMask last("");
  if (last.Text() != mask) last = EditMask(mask);
  return last.Format(value);
}

}  // namespace host
