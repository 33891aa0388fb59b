#include "host/net/AnswerDecoder.h"

#include <simdjson.h>

#include <charconv>
#include <cstring>
#ifdef __SSE2__
#include <emmintrin.h>
#endif
#include <span>
#include <utility>
#include <vector>

#include "host/data/DecodedAnswer.h"
#include "host/data/Field.h"
#include "host/data/SameName.h"

namespace host {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

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

// The value of an integer token; nullopt for a fraction, an exponent or one past 64 bits.
std::optional<std::int64_t> Integer(std::string_view n) {
  std::int64_t value = 0;
  const auto [end, ec] = std::from_chars(n.data(), n.data() + n.size(), value);
  if (ec != std::errc() || end != n.data() + n.size()) return std::nullopt;
  return value;
}

}  // namespace

// Turns the tokenizer's events into the envelope's parts and the decoded raw result. Each open
// container has one frame saying what it is; a container whose content does not matter (or can
// no longer matter, after a fault) is a Skip frame.
struct AnswerDecoder::Builder {
  enum class F : std::uint8_t { Envelope, EnvError, Result, DataArray, Packet, Fields, Field, Rows, Row, Skip };

  AnswerDecoder& decoder;
  std::vector<F> frames;
  std::string key;  // the member name the next value belongs to

  // Envelope.
  bool sawEnvelope = false;
  std::string resultFailure;

  // Raw result.
  bool haveOk = false;
  bool ok = false;
  bool haveResultError = false;
  std::string resultError;
  Variant data;
  std::vector<std::vector<Variant>> arrays;  // per open DataArray frame, its items
  std::shared_ptr<DecodedResult> result;

  // The packet being read (packets do not nest).
  std::shared_ptr<DecodedPacket> packet;
  bool sawFields = false, sawRows = false, haveFields = false, haveRows = false;
  int width = 0;
  std::size_t rowNumber = 0;
  int column = 0;
  RowId row = 0;
  std::string fieldName;
  bool haveName = false;
  int fieldSize = kDefaultFieldSize;

  explicit Builder(AnswerDecoder& d) : decoder(d) {}

  F Top() const { return frames.back(); }
  // Inside a healthy packet's rows, expecting the next row: the rows' fast path may run.
  bool InRows() const {
    return !frames.empty() && frames.back() == F::Rows && packet && packet->error.empty() && width > 0;
  }

  // ---- faults ----

  std::string DataWhere() const {
    std::string where = "data";
    for (const auto& items : arrays) where += "[" + std::to_string(items.size()) + "]";
    return where;
  }
  // The result is not a raw result: keep the first reason, drop what was built, skip the rest.
  void ResultFail(const std::string& what) {
    if (resultFailure.empty()) resultFailure = "Malformed raw result: " + what;
    for (std::size_t i = frames.size(); i-- > 0 && frames[i] != F::Envelope;) frames[i] = F::Skip;
    arrays.clear();
    packet.reset();
    data = Variant();
  }
  // The packet is malformed: keep the first reason, drop its rows, skip the rest of it.
  void PacketFail(const std::string& what) {
    if (packet->error.empty()) packet->error = "Malformed data packet: " + what;
    packet->store = RowStore(0);
    for (std::size_t i = frames.size(); i-- > 0 && frames[i] != F::Packet;) frames[i] = F::Skip;
  }
  std::string RowWhere() const { return "row " + std::to_string(rowNumber); }

  // ---- placing values ----

  void PutData(Variant value) {
    if (Top() == F::DataArray) {
      arrays.back().push_back(std::move(value));
    } else {
      data = std::move(value);
    }
  }
  // True when the next value is a value of "data" (the result's member or an array's element).
  bool DataSlot() const { return Top() == F::DataArray || (Top() == F::Result && key == "data"); }

  // ---- events ----

  bool BeginContainer(bool object) {
    if (frames.empty()) {
      if (!object) return decoder.Fail("a resposta não é um objeto JSON");
      frames.push_back(F::Envelope);
      sawEnvelope = true;
      return true;
    }
    switch (Top()) {
      case F::Envelope:
        if (key == "result") {
          if (decoder.hasResult_) return decoder.Fail("\"result\" repetido");
          decoder.hasResult_ = true;
          if (!object) {
            ResultFail("the result must be a JSON object");
            frames.push_back(F::Skip);
            return true;
          }
          frames.push_back(F::Result);
          return true;
        }
        if (key == "error") {
          if (!object) return decoder.Fail("erro sem objeto");
          decoder.hasError_ = true;
          frames.push_back(F::EnvError);
          return true;
        }
        break;
      case F::Result:
      case F::DataArray:
        if (DataSlot()) {
          if (!object) {
            arrays.emplace_back();
            frames.push_back(F::DataArray);
            return true;
          }
          if (packet) {  // cannot happen: packets hold no objects as data
            ResultFail(DataWhere() + " is not valid here");
            frames.push_back(F::Skip);
            return true;
          }
          packet = std::make_shared<DecodedPacket>();
          sawFields = sawRows = haveFields = haveRows = false;
          width = 0;
          rowNumber = 0;
          frames.push_back(F::Packet);
          return true;
        }
        break;
      case F::Packet:
        if (!packet->error.empty()) break;
        if (key == "fields") {
          if (haveFields) {
            PacketFail("\"fields\" appears twice");
          } else if (object) {
            PacketFail("\"fields\" must be an array");
          } else {
            frames.push_back(F::Fields);
            return true;
          }
        } else if (key == "rows") {
          if (!haveFields) {
            PacketFail("\"rows\" must come after \"fields\"");
          } else if (haveRows) {
            PacketFail("\"rows\" appears twice");
          } else if (object) {
            PacketFail("\"rows\" must be an array");
          } else {
            haveRows = true;
            frames.push_back(F::Rows);
            return true;
          }
        }
        break;
      case F::Fields:
        if (!object) {
          PacketFail("field " + std::to_string(packet->fields.size() + 1) + " is not an object");
          break;
        }
        fieldName.clear();
        haveName = false;
        fieldSize = kDefaultFieldSize;
        frames.push_back(F::Field);
        return true;
      case F::Field:
        if (key == "name" || key == "size") {
          PacketFail("field " + std::to_string(packet->fields.size() + 1) + ": \"" + key +
                     "\" has the wrong type");
        }
        break;
      case F::Rows:
        ++rowNumber;
        if (object) {
          PacketFail(RowWhere() + " is not an array");
          break;
        }
        row = packet->store.AddEmptyRow();
        column = 0;
        frames.push_back(F::Row);
        return true;
      case F::Row:
        PacketFail(RowWhere() + ", value " + std::to_string(column + 1) + " is not a string");
        break;
      case F::EnvError:
        if (key == "code") return decoder.Fail("código de erro não numérico");
        if (key == "message") return decoder.Fail("mensagem de erro não textual");
        break;
      case F::Skip: break;
    }
    frames.push_back(F::Skip);
    return true;
  }

  bool End() {
    const F closing = frames.back();
    frames.pop_back();
    switch (closing) {
      case F::Field: {
        const std::string where = "field " + std::to_string(packet->fields.size() + 1);
        if (!haveName || fieldName.empty()) {
          PacketFail(where + " has no name");
          break;
        }
        for (const auto& other : packet->fields)
          if (SameName(other.name, fieldName)) {
            PacketFail("field \"" + fieldName + "\" appears twice");
            return true;
          }
        packet->fields.push_back({fieldName, fieldSize});
        break;
      }
      case F::Fields:
        haveFields = true;
        width = static_cast<int>(packet->fields.size());
        packet->store = RowStore(width);
        packet->widest.assign(packet->fields.size(), 0);
        break;
      case F::Row:
        if (column != width)
          PacketFail(RowWhere() + " has " + std::to_string(column) + " values, expected " +
                     std::to_string(width));
        break;
      case F::Packet: {
        std::shared_ptr<DecodedPacket> done = std::move(packet);
        packet.reset();
        if (!sawFields || !sawRows) {
          ResultFail(DataWhere() + " is an object without \"fields\" and \"rows\", not a data packet");
          break;
        }
        done->store.ShrinkToFit();
        PutData(Variant::FromDecodedPacket(std::move(done)));
        break;
      }
      case F::DataArray: {
        Variant array = Variant::FromArray(std::move(arrays.back()));
        arrays.pop_back();
        PutData(std::move(array));
        break;
      }
      case F::Result: {
        auto out = std::make_shared<DecodedResult>();
        if (!haveOk) {
          out->failure = "Malformed raw result: no \"ok\"";
        } else {
          out->ok = ok;
          if (ok) {
            out->data = std::move(data);
          } else {
            out->error = haveResultError && !resultError.empty()
                             ? resultError
                             : "The server refused the call without a message";
          }
        }
        data = Variant();
        result = std::move(out);
        break;
      }
      default: break;
    }
    return true;
  }

  bool Key(std::string_view name) {
    if (Top() == F::Packet) {
      if (name == "fields") sawFields = true;
      if (name == "rows") sawRows = true;
    }
    key.assign(name);
    return true;
  }

  // A scalar value: kind 's' string, 'n' number, 'b' boolean, 'z' null.
  // nonAscii: the text may hold characters of more than one byte.
  bool Scalar(char kind, std::string_view text, bool flag, bool nonAscii = false) {
    if (frames.empty()) return decoder.Fail("a resposta não é um objeto JSON");
    switch (Top()) {
      case F::Row: {
        if (kind != 's' && kind != 'z') {
          PacketFail(RowWhere() + ", value " + std::to_string(column + 1) + " is not a string");
          return true;
        }
        if (column >= width) {
          PacketFail(RowWhere() + " has more than " + std::to_string(width) + " values");
          return true;
        }
        if (!text.empty()) {
          packet->store.SetCell(row, column, text);
          std::size_t chars = text.size();
          if (nonAscii) {
            chars = 0;
            for (const char c : text) chars += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
          }
          std::size_t& widest = packet->widest[static_cast<std::size_t>(column)];
          if (chars > widest) widest = chars;
        }
        ++column;
        return true;
      }
      case F::Envelope:
        if (key == "result") {
          if (decoder.hasResult_) return decoder.Fail("\"result\" repetido");
          decoder.hasResult_ = true;
          ResultFail("the result must be a JSON object");
        } else if (key == "id") {
          decoder.id_ = kind == 'n' ? Integer(text) : std::nullopt;
        } else if (key == "error") {
          return decoder.Fail("erro sem objeto");
        }
        return true;
      case F::EnvError:
        if (key == "code") {
          const auto code = kind == 'n' ? Integer(text) : std::nullopt;
          if (!code) return decoder.Fail("código de erro não numérico");
          decoder.errorCode_ = *code;
        } else if (key == "message") {
          if (kind != 's') return decoder.Fail("mensagem de erro não textual");
          decoder.errorMessage_.assign(text);
        }
        return true;
      case F::Result:
        if (key == "ok") {
          if (kind != 'b') {
            ResultFail("\"ok\" must be true or false");
            return true;
          }
          haveOk = true;
          ok = flag;
          return true;
        }
        if (key == "error") {
          if (kind != 's') {
            ResultFail("\"error\" must be a string");
            return true;
          }
          haveResultError = true;
          resultError.assign(text);
          return true;
        }
        if (key != "data") return true;
        [[fallthrough]];
      case F::DataArray:
        switch (kind) {
          case 's': PutData(Variant::FromText(std::string(text))); break;
          case 'b': PutData(Variant::FromBool(flag)); break;
          case 'z': PutData(Variant()); break;
          default: {
            const auto number = Integer(text);
            if (!number) {
              ResultFail(DataWhere() + " must be an integer that fits 64 bits");
              return true;
            }
            PutData(Variant::FromInt(*number));
          }
        }
        return true;
      case F::Packet:
        if (packet->error.empty()) {
          if (key == "fields") PacketFail("\"fields\" must be an array");
          if (key == "rows") PacketFail(haveFields ? "\"rows\" must be an array" : "\"rows\" must come after \"fields\"");
        }
        return true;
      case F::Fields:
        PacketFail("field " + std::to_string(packet->fields.size() + 1) + " is not an object");
        return true;
      case F::Field: {
        const std::string where = "field " + std::to_string(packet->fields.size() + 1);
        if (key == "name") {
          if (kind != 's') {
            PacketFail(where + ": \"name\" must be a string");
            return true;
          }
          fieldName.assign(text);
          haveName = true;
        } else if (key == "size") {
          const auto size = kind == 'n' ? Integer(text) : std::nullopt;
          if (!size) {
            PacketFail(where + ": \"size\" must be an integer");
            return true;
          }
          if (*size < 1 || *size > 1'000'000) {
            PacketFail(where + ": size " + std::to_string(*size) + " is outside 1..1000000");
            return true;
          }
          fieldSize = static_cast<int>(*size);
        }
        return true;
      }
      case F::Rows:
        ++rowNumber;
        PacketFail(RowWhere() + " is not an array");
        return true;
      case F::Skip: return true;
    }
    return true;
  }
};

AnswerDecoder::AnswerDecoder() : builder_(std::make_unique<Builder>(*this)) {}
AnswerDecoder::~AnswerDecoder() = default;

bool AnswerDecoder::Fail(std::string message) {
  if (!failed_) {
    failed_ = true;
    failure_ = std::move(message);
  }
  return false;
}

void AnswerDecoder::AppendCodePoint(std::uint32_t cp) {
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
bool AnswerDecoder::EscapeByte(char c) {
  if (escape_ == 1) {
    if (highSurrogate_ && c != 'u') return Fail("escape \\u incompleto (par substituto)");
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
    if (unit < 0xDC00 || unit > 0xDFFF) return Fail("escape \\u incompleto (par substituto)");
    AppendCodePoint(0x10000 + ((highSurrogate_ - 0xD800) << 10) + (unit - 0xDC00));
    highSurrogate_ = 0;
  } else if (unit >= 0xD800 && unit <= 0xDBFF) {
    highSurrogate_ = unit;
  } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
    return Fail("escape \\u incompleto (par substituto)");
  } else {
    AppendCodePoint(unit);
  }
  return true;
}

const char* AnswerDecoder::ScanString(const char* p, const char* end) {
  const char* start = p;
  bool nonAscii = stringNonAscii_;
  while (p < end) {
    if (escape_) {
      if (!EscapeByte(*p)) return nullptr;
      ++p;
      start = p;
      continue;
    }
    if (highSurrogate_ && *p != '\\') {
      Fail("escape \\u incompleto (par substituto)");
      return nullptr;
    }
    // The common case: a run of plain bytes, sixteen at a time where the processor allows.
#ifdef __SSE2__
    {
      const __m128i quote = _mm_set1_epi8('"');
      const __m128i backslash = _mm_set1_epi8('\\');
      const __m128i control = _mm_set1_epi8(0x1F);
      while (end - p >= 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i stops = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash)),
                                           _mm_cmpeq_epi8(_mm_max_epu8(v, control), control));
        const unsigned stop = static_cast<unsigned>(_mm_movemask_epi8(stops));
        const unsigned high = static_cast<unsigned>(_mm_movemask_epi8(v));
        if (stop) {
          const unsigned n = static_cast<unsigned>(__builtin_ctz(stop));
          nonAscii |= (high & ((1u << n) - 1)) != 0;
          p += n;
          break;
        }
        nonAscii |= high != 0;
        p += 16;
      }
    }
#endif
    while (p < end) {
      const auto c = static_cast<unsigned char>(*p);
      if (c == '"' || c == '\\' || c < 0x20) break;
      nonAscii |= c >= 0x80;
      ++p;
    }
    if (p == end) break;
    const char c = *p;
    if (c == '"') {
      if (highSurrogate_) {
        Fail("escape \\u incompleto (par substituto)");
        return nullptr;
      }
      stringNonAscii_ = nonAscii;
      token_ = Token::None;
      bool done;
      if (inScratch_) {
        scratch_.append(start, p);
        done = EndString(scratch_, nonAscii);
      } else {
        done = EndString(std::string_view(start, static_cast<std::size_t>(p - start)), nonAscii);
      }
      if (!done) return nullptr;
      return p + 1;
    }
    if (c == '\\') {
      if (!inScratch_) {
        scratch_.clear();
        inScratch_ = true;
      }
      scratch_.append(start, p);
      escape_ = 1;
      ++p;
      start = p;
      continue;
    }
    Fail("caractere de controle dentro de um texto");
    return nullptr;
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

// The rows' fast path. A packet's rows are nearly always arrays of plain texts (no escapes, no
// blanks between values), so a whole row is read here in one go, sixteen bytes at a time where
// the processor allows, its text copied into the arena while it is scanned; the general tokenizer
// is left for anything else. A row is kept only once it is read to its ']' and found plain:
//
//   [ "text" , "text" , ... ]    exactly the packet's width of values, each null or a string
//                                without '\\' and control characters; no blanks.
//
// A row holding bytes outside ASCII is kept only when its text is valid UTF-8 and every value
// starts on a character (so each value is valid on its own). Anything else (a blank, an escape, a
// control character, bad UTF-8, a value of another kind, the wrong width, the piece ending) stops
// it before that row, and the general tokenizer reads the row from its '[' with all its checks, so
// every fault is found and worded as before. Returns the position after the last row kept, with
// its ',' when another row follows.
const char* AnswerDecoder::FastRows(const char* p, const char* end) {
  Builder& b = *builder_;
  if (!b.InRows() || containers_.size() >= kMaxDepth) return p;
  DecodedPacket& packet = *b.packet;
  const std::size_t width = static_cast<std::size_t>(b.width);
  // The text of the rows read here is at most the bytes left in the piece; 16 spare bytes let
  // the copy store whole blocks.
  char* const room = packet.store.TextRoom(static_cast<std::size_t>(end - p) + 16);
  if (!room) return p;
  const std::size_t base = packet.store.TextBytes();
  char* out = room;
  std::size_t* const widest = packet.widest.data();
  constexpr std::size_t kStackColumns = 32;
  CellRef stackCells[kStackColumns];
  bool stackHigh[kStackColumns];
  std::vector<CellRef> heapCells;
  std::vector<char> heapHigh;
  CellRef* cells = stackCells;
  bool* high = stackHigh;
  if (width > kStackColumns) {
    heapCells.resize(width);
    heapHigh.resize(width);
    cells = heapCells.data();
    high = reinterpret_cast<bool*>(heapHigh.data());
  }
#ifdef __SSE2__
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
  const __m128i control = _mm_set1_epi8(0x1F);
#endif
  for (;;) {
    // p is at '['.
    const char* q = p + 1;
    char* w = out;
    bool plain = true;
    bool rowHigh = false;
    for (std::size_t column = 0; column < width; ++column) {
      if (q >= end) {
        plain = false;
        break;
      }
      if (*q == '"') {
        ++q;
        char* const from = w;
        unsigned highBits = 0;
#ifdef __SSE2__
        bool stopped = false;
        while (end - q >= 16) {
          const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
          _mm_storeu_si128(reinterpret_cast<__m128i*>(w), v);
          const unsigned stop = static_cast<unsigned>(
              _mm_movemask_epi8(_mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash)),
                                             _mm_cmpeq_epi8(_mm_max_epu8(v, control), control))));
          const unsigned bits = static_cast<unsigned>(_mm_movemask_epi8(v));
          if (stop) {
            const unsigned n = static_cast<unsigned>(__builtin_ctz(stop));
            highBits |= bits & ((1u << n) - 1);
            q += n;
            w += n;
            stopped = true;
            break;
          }
          highBits |= bits;
          q += 16;
          w += 16;
        }
        if (!stopped)
#endif
          while (q < end) {
            const auto c = static_cast<unsigned char>(*q);
            if (c == '"' || c == '\\' || c < 0x20) break;
            highBits |= c >> 7;
            *w++ = static_cast<char>(c);
            ++q;
          }
        if (q >= end || *q != '"') {
          plain = false;
          break;
        }
        ++q;
        const auto length = static_cast<std::size_t>(w - from);
        if (length == 0) {
          cells[column] = CellRef{};
        } else {
          cells[column] = CellRef{static_cast<std::uint32_t>(base + static_cast<std::size_t>(from - room)),
                                  static_cast<std::uint32_t>(length)};
          // A value must start on a character, not inside one.
          if (highBits && (static_cast<unsigned char>(*from) & 0xC0) == 0x80) {
            plain = false;
            break;
          }
        }
        high[column] = highBits != 0;
        rowHigh |= highBits != 0;
      } else if (end - q >= 4 && std::memcmp(q, "null", 4) == 0) {
        q += 4;
        cells[column] = CellRef{};
        high[column] = false;
      } else {
        plain = false;
        break;
      }
      const char expected = column + 1 < width ? ',' : ']';
      if (q >= end || *q != expected) {
        plain = false;
        break;
      }
      ++q;
    }
    if (!plain) return p;
    // Values that start on characters and join into valid UTF-8 are each valid UTF-8.
    if (rowHigh && !simdjson::validate_utf8(out, static_cast<std::size_t>(w - out))) return p;
    // The row is whole and plain: keep it.
    ++b.rowNumber;
    b.row = packet.store.AddRowWithText(std::span<const CellRef>(cells, width), static_cast<std::size_t>(w - out));
    b.column = b.width;
    for (std::size_t column = 0; column < width; ++column) {
      std::size_t chars = cells[column].length;
      if (high[column]) {
        const char* text = room + (cells[column].offset - base);
        for (std::size_t i = 0; i < cells[column].length; ++i)
          chars -= (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80;
      }
      if (chars > widest[column]) widest[column] = chars;
    }
    out = w;
    p = q;
    expect_ = Expect::CommaOrEnd;
    if (end - p >= 2 && p[0] == ',' && p[1] == '[') {
      ++p;
      expect_ = Expect::Value;
      continue;
    }
    return p;
  }
}

bool AnswerDecoder::EndString(std::string_view text, bool nonAscii) {
  if (nonAscii && !simdjson::validate_utf8(text.data(), text.size()))
    return Fail("texto que não é UTF-8 válido");
  if (stringIsKey_) {
    expect_ = Expect::Colon;
    return builder_->Key(text);
  }
  if (!builder_->Scalar('s', text, false, nonAscii)) return false;
  return ValueDone();
}

bool AnswerDecoder::EndNumber() {
  token_ = Token::None;
  if (!IsJsonNumber(scratch_)) return Fail("número inválido");
  if (!builder_->Scalar('n', scratch_, false)) return false;
  return ValueDone();
}

bool AnswerDecoder::ValueDone() {
  expect_ = containers_.empty() ? Expect::Done : Expect::CommaOrEnd;
  return true;
}

bool AnswerDecoder::Close(char bracket) {
  if (containers_.empty() || containers_.back() != bracket) return Fail("fechamento inesperado");
  containers_.pop_back();
  if (!builder_->End()) return false;
  return ValueDone();
}

bool AnswerDecoder::Feed(std::string_view bytes) {
  if (failed_) return false;
  const char* p = bytes.data();
  const char* const end = p + bytes.size();
  if (capturing_) captureFrom_ = p;
  const auto fail = [&](std::string message) {
    return Fail(std::move(message) + " (byte " + std::to_string(offset_ + static_cast<std::uint64_t>(p - bytes.data())) + ")");
  };
  // The value starting at p: is it the result, whose text is kept while small?
  const auto startValue = [&] {
    if (!capturing_ && !captureDropped_ && containers_.size() == 1 && builder_->key == "result" &&
        !hasResult_) {
      capturing_ = true;
      captureFrom_ = p;
      resultDepth_ = containers_.size();
    }
  };
  const auto endCapture = [&](const char* after) {
    if (capturing_ && containers_.size() == resultDepth_ && expect_ != Expect::Colon) {
      captured_.append(captureFrom_, after);
      capturing_ = false;
      captureFrom_ = nullptr;
      if (captured_.size() > kKeptResultBytes) {
        captureDropped_ = true;
        std::string().swap(captured_);
      }
    }
  };

  while (p < end) {
    switch (token_) {
      case Token::String: {
        const bool key = stringIsKey_;
        const char* after = ScanString(p, end);
        if (!after) return false;  // the failure is recorded
        p = after;
        if (token_ == Token::None && !key) endCapture(p);
        continue;
      }
      case Token::Number: {
        while (p < end && ((*p >= '0' && *p <= '9') || *p == '-' || *p == '+' || *p == '.' ||
                           *p == 'e' || *p == 'E')) {
          if (scratch_.size() >= 400) return fail("número longo demais");
          scratch_ += *p++;
        }
        if (p == end) continue;
        if (!EndNumber()) return false;  // the failure is recorded
        endCapture(p);
        continue;
      }
      case Token::Literal: {
        while (p < end && literal_[literalAt_] != '\0') {
          if (*p != literal_[literalAt_]) return fail("valor inválido");
          ++p;
          ++literalAt_;
        }
        if (literal_[literalAt_] != '\0') continue;
        token_ = Token::None;
        const char kind = literal_[0] == 'n' ? 'z' : 'b';
        if (!builder_->Scalar(kind, {}, literal_[0] == 't')) return false;  // the failure is recorded
        ValueDone();
        endCapture(p);
        continue;
      }
      case Token::None: break;
    }
    while (p < end && IsBlank(*p)) ++p;
    if (p == end) break;
    const char c = *p;
    switch (expect_) {
      case Expect::Value:
      case Expect::ValueOrEnd:
        if (c == ']' && expect_ == Expect::ValueOrEnd) {
          if (!Close('[')) return false;  // the failure is recorded
          ++p;
          endCapture(p);
          continue;
        }
        if (c == '[') {
          const char* after = FastRows(p, end);
          if (after != p) {
            p = after;
            continue;
          }
        }
        startValue();
        if (c == '{' || c == '[') {
          // An answer nests a few levels; a hostile one must not make the stacks grow with its size.
          if (containers_.size() >= kMaxDepth) return fail("aninhamento profundo demais");
          containers_ += c;
          if (!builder_->BeginContainer(c == '{')) return false;  // the failure is recorded
          expect_ = c == '{' ? Expect::KeyOrEnd : Expect::ValueOrEnd;
          ++p;
        } else if (c == '"') {
          token_ = Token::String;
          stringIsKey_ = false;
          stringNonAscii_ = false;
          inScratch_ = false;
          ++p;
        } else if (c == '-' || (c >= '0' && c <= '9')) {
          token_ = Token::Number;
          scratch_.clear();
        } else if (c == 't' || c == 'f' || c == 'n') {
          token_ = Token::Literal;
          literal_ = c == 't' ? "true" : c == 'f' ? "false" : "null";
          literalAt_ = 0;
        } else {
          return fail("valor inesperado");
        }
        continue;
      case Expect::Key:
      case Expect::KeyOrEnd:
        if (c == '}' && expect_ == Expect::KeyOrEnd) {
          if (!Close('{')) return false;  // the failure is recorded
          ++p;
          endCapture(p);
          continue;
        }
        if (c != '"') return fail("nome de membro esperado");
        token_ = Token::String;
        stringIsKey_ = true;
        stringNonAscii_ = false;
        inScratch_ = false;
        ++p;
        continue;
      case Expect::Colon:
        if (c != ':') return fail("':' esperado");
        expect_ = Expect::Value;
        ++p;
        continue;
      case Expect::CommaOrEnd:
        if (c == ',') {
          expect_ = containers_.back() == '{' ? Expect::Key : Expect::Value;
          ++p;
          continue;
        }
        if (c != '}' && c != ']') return fail("',' esperado");
        if (!Close(c == '}' ? '{' : '[')) return false;  // the failure is recorded
        ++p;
        endCapture(p);
        continue;
      case Expect::Done: return fail("texto após a resposta");
    }
  }
  if (capturing_) {
    captured_.append(captureFrom_, end);
    if (captured_.size() > kKeptResultBytes) {
      capturing_ = false;
      captureDropped_ = true;
      std::string().swap(captured_);
    }
  }
  offset_ += bytes.size();
  return true;
}

bool AnswerDecoder::Finish() {
  if (failed_) return false;
  if (token_ == Token::Number && containers_.empty()) {
    if (!EndNumber()) return false;
  }
  if (token_ != Token::None || expect_ != Expect::Done) {
    if (offset_ == 0) return Fail("resposta vazia");
    return Fail("a resposta terminou antes de completa (" + std::to_string(offset_) + " bytes)");
  }
  if (!builder_->sawEnvelope) return Fail("a resposta não é um objeto JSON");
  return true;
}

Variant AnswerDecoder::TakeResult() {
  Builder& b = *builder_;
  std::shared_ptr<DecodedResult> result = std::move(b.result);
  if (!result) result = std::make_shared<DecodedResult>();
  if (!b.resultFailure.empty()) {
    result = std::make_shared<DecodedResult>();
    result->failure = b.resultFailure;
  }
  if (!captureDropped_ && !captured_.empty()) {
    auto text = std::make_shared<std::string>();
    text->reserve(captured_.size() + kPacketPadding);
    text->assign(captured_);
    result->received = std::move(text);
    std::string().swap(captured_);
  }
  return Variant::FromDecodedResult(std::move(result));
}

}  // namespace host
