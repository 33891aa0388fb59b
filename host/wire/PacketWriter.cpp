#include "host/wire/PacketWriter.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <emmintrin.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace host::wire {
namespace {

// The packet structure is written by RapidJSON into its own buffer, whose reserve-then-put path
// is the fast one, and moved to the caller's string when a packet opens or closes.
using JsonWriter = rapidjson::Writer<rapidjson::StringBuffer, rapidjson::UTF8<>, rapidjson::UTF8<>,
                                     rapidjson::CrtAllocator, rapidjson::kWriteValidateEncodingFlag>;

// Length of the valid UTF-8 sequence starting at s[i], or 0 when the byte there does not start
// one (stray continuation byte, overlong form, surrogate, beyond U+10FFFF, truncated sequence).
size_t ValidSequenceLength(std::string_view s, size_t i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char b0 = byte(i);
  const size_t left = s.size() - i;
  if (b0 < 0x80) return 1;
  const auto cont = [&](size_t k) { return k < s.size() && (byte(k) & 0xC0) == 0x80; };
  if (b0 >= 0xC2 && b0 <= 0xDF) return left >= 2 && cont(i + 1) ? 2 : 0;
  if (b0 >= 0xE0 && b0 <= 0xEF) {
    if (left < 3 || !cont(i + 1) || !cont(i + 2)) return 0;
    const unsigned char b1 = byte(i + 1);
    if (b0 == 0xE0 && b1 < 0xA0) return 0;  // overlong
    if (b0 == 0xED && b1 > 0x9F) return 0;  // UTF-16 surrogate
    return 3;
  }
  if (b0 >= 0xF0 && b0 <= 0xF4) {
    if (left < 4 || !cont(i + 1) || !cont(i + 2) || !cont(i + 3)) return 0;
    const unsigned char b1 = byte(i + 1);
    if (b0 == 0xF0 && b1 < 0x90) return 0;  // overlong
    if (b0 == 0xF4 && b1 > 0x8F) return 0;  // beyond U+10FFFF
    return 4;
  }
  return 0;
}

// True when the text can go out as it stands: valid UTF-8 with no byte that is escaped (control
// characters, a quote, a backslash) or that the writer would treat otherwise (DEL). Names with
// accents are the common case of a value beyond ASCII, and need no trip through the writer.
// Runs of plain ASCII are passed 16 bytes at a time (the last few bytes, and most values, which
// are short, from a copy padded with plain bytes); the bytes of a block holding anything else
// are looked at one by one, a character beyond ASCII checked whole.
bool IsPlain(std::string_view s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const size_t n = s.size();
  size_t i = 0;
  const __m128i space = _mm_set1_epi8(0x20);
  const __m128i del = _mm_set1_epi8(0x7F);
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
  while (i < n) {
    const size_t block = std::min<size_t>(16, n - i);
    __m128i v;
    if (block == 16) {
      v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    } else {
      alignas(16) unsigned char tail[16];
      std::memset(tail, 'x', sizeof tail);
      std::memcpy(tail, p + i, block);
      v = _mm_load_si128(reinterpret_cast<const __m128i*>(tail));
    }
    // Signed, so bytes from 0x80 up count as below the space too.
    const __m128i odd = _mm_or_si128(_mm_or_si128(_mm_cmplt_epi8(v, space), _mm_cmpeq_epi8(v, del)),
                                     _mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash)));
    const int mask = _mm_movemask_epi8(odd);
    if (mask == 0) {
      i += block;
      continue;
    }
    i += static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(mask)));  // the plain bytes before it
    // One character: escaped or DEL means not plain; beyond ASCII it must be a valid sequence.
    const unsigned char b = p[i];
    if (b < 0x80) {
      if (b < 0x20 || b == 0x7F || b == '"' || b == '\\') return false;
      ++i;
    } else {
      const size_t length = ValidSequenceLength(s, i);
      if (length == 0) return false;
      i += length;
    }
  }
  return true;
}

bool IsValidUtf8(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    const size_t n = ValidSequenceLength(s, i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

}  // namespace

struct PacketWriter::Impl {
  enum class Kind { None, Data, Changes };

  explicit Impl(std::string& o) : out(o), writer(buffer), valueWriter(valueBuffer) {}

  std::string& out;
  rapidjson::StringBuffer buffer;  // the packet's structure, moved to out piece by piece
  JsonWriter writer;
  rapidjson::StringBuffer valueBuffer;  // one escaped value at a time
  JsonWriter valueWriter;
  Kind open = Kind::None;
  size_t fieldCount = 0;
  size_t elements = 0;  // rows or changes written into the open packet
  std::string scratch;  // a value after replacement of invalid bytes

  // Appends v to text as a JSON string. Plain text is copied as it stands; anything else goes
  // through RapidJSON's writer with UTF-8 validation on, in a buffer of its own, so text it
  // refuses is written again with its invalid bytes replaced.
  void AppendValue(std::string& text, std::string_view v) {
    if (v.size() > 0xFFFFFFF0u) throw EWireError("PacketWriter: a value is too long to write");
    if (IsPlain(v)) {
      text += '"';
      text += v;
      text += '"';
      return;
    }
    if (!WriteValue(v)) {
      scratch = SanitizeUtf8(v);
      if (!WriteValue(scratch)) throw EWireError("PacketWriter: a value could not be written as UTF-8");
    }
    text.append(valueBuffer.GetString(), valueBuffer.GetSize());
  }

  bool WriteValue(std::string_view v) {
    valueBuffer.Clear();
    valueWriter.Reset(valueBuffer);
    return valueWriter.String(v.data(), static_cast<rapidjson::SizeType>(v.size()));
  }

  // Appends values as a JSON array to out. Rows and changes are written straight into the
  // caller's string (the structure writer only opens and closes the packet), which keeps a row to
  // one copy of its bytes.
  void Values(std::span<const std::string_view> values) {
    if (WritePlainRow(values)) return;
    out += '[';
    for (size_t i = 0; i < values.size(); ++i) {
      if (i > 0) out += ',';
      AppendValue(out, values[i]);
    }
    out += ']';
  }

  // Writes a row whose values are all plain with one growth of out and a copy per value, and
  // returns true; returns false, writing nothing, when a value needs the careful path.
  bool WritePlainRow(std::span<const std::string_view> values) {
    size_t size = 2 + (values.empty() ? 0 : values.size() - 1);  // brackets and commas
    for (const std::string_view v : values) {
      if (v.size() > 0xFFFFFFF0u || !IsPlain(v)) return false;
      size += v.size() + 2;
    }
    const size_t at = out.size();
    out.resize(at + size);
    char* p = out.data() + at;
    *p++ = '[';
    for (size_t i = 0; i < values.size(); ++i) {
      if (i > 0) *p++ = ',';
      *p++ = '"';
      std::memcpy(p, values[i].data(), values[i].size());
      p += values[i].size();
      *p++ = '"';
    }
    *p = ']';
    return true;
  }

  // Starts the next element of the open packet's array.
  void Separate() {
    if (elements++ > 0) out += ',';
  }

  void Begin(std::span<const FieldDef> fields, Kind kind) {
    if (open != Kind::None) throw EWireError("PacketWriter: a packet is already open");
    buffer.Clear();
    writer.Reset(buffer);
    writer.StartObject();
    writer.Key("fields");
    writer.StartArray();
    for (const FieldDef& f : fields) {
      std::string name;
      AppendValue(name, f.name);
      writer.StartObject();
      writer.Key("name");
      writer.RawValue(name.data(), name.size(), rapidjson::kStringType);
      writer.Key("size");
      writer.Int(f.size);
      writer.EndObject();
    }
    writer.EndArray();
    writer.Key(kind == Kind::Data ? "rows" : "changes");
    writer.StartArray();
    open = kind;
    fieldCount = fields.size();
    elements = 0;
    Flush();
  }

  // Moves what the writer produced to the caller's string.
  void Flush() {
    out.append(buffer.GetString(), buffer.GetSize());
    buffer.Clear();
  }

  void CheckWidth(size_t n) const {
    if (n != fieldCount) {
      throw EWireError("PacketWriter: row has " + std::to_string(n) + " values, packet has " +
                       std::to_string(fieldCount) + " fields");
    }
  }
};

PacketWriter::PacketWriter(std::string& out) : impl_(std::make_unique<Impl>(out)) {}
PacketWriter::~PacketWriter() = default;

void PacketWriter::BeginData(std::span<const FieldDef> fields) { impl_->Begin(fields, Impl::Kind::Data); }

void PacketWriter::BeginChanges(std::span<const FieldDef> fields) {
  impl_->Begin(fields, Impl::Kind::Changes);
}

void PacketWriter::Row(std::span<const std::string_view> values) {
  if (impl_->open != Impl::Kind::Data) throw EWireError("PacketWriter: Row outside a data packet");
  impl_->CheckWidth(values.size());
  impl_->Separate();
  impl_->Values(values);
}

void PacketWriter::Change(ChangeOp op, std::span<const std::string_view> values) {
  if (impl_->open != Impl::Kind::Changes) throw EWireError("PacketWriter: Change outside a change packet");
  impl_->CheckWidth(values.size());
  impl_->Separate();
  impl_->out += op == ChangeOp::Insert ? R"({"op":"insert","row":)" : R"({"op":"delete","row":)";
  impl_->Values(values);
  impl_->out += '}';
}

void PacketWriter::End() {
  if (impl_->open == Impl::Kind::None) throw EWireError("PacketWriter: End without an open packet");
  impl_->writer.EndArray();
  impl_->writer.EndObject();
  impl_->Flush();
  impl_->open = Impl::Kind::None;
}

bool PacketWriter::IsOpen() const { return impl_->open != Impl::Kind::None; }

void PacketWriter::AppendJsonString(std::string& out, std::string_view value) {
  const std::string clean = SanitizeUtf8(value);
  rapidjson::StringBuffer buffer;
  JsonWriter writer(buffer);
  if (!writer.String(clean.data(), static_cast<rapidjson::SizeType>(clean.size()))) {
    throw EWireError("PacketWriter: a value could not be written as UTF-8");
  }
  out.append(buffer.GetString(), buffer.GetSize());
}

std::string PacketWriter::SanitizeUtf8(std::string_view value) {
  if (IsValidUtf8(value)) return std::string(value);
  std::string clean;
  clean.reserve(value.size() + 8);
  for (size_t i = 0; i < value.size();) {
    const size_t n = ValidSequenceLength(value, i);
    if (n == 0) {
      clean += "\xEF\xBF\xBD";
      ++i;
    } else {
      clean.append(value, i, n);
      i += n;
    }
  }
  return clean;
}

}  // namespace host::wire
