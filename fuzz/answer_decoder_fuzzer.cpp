// libFuzzer target: the client's streaming answer decoder. The input is an answer body; it is
// decoded whole and again cut in three pieces at places the input's first bytes choose. Both
// readings must end alike (accepted or refused, with the same envelope, and the same rows, cells
// and refusals in every packet of the result), since a body's reading must not depend on how the
// network cut it; a difference aborts, and so does a crash or a leak.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "host/data/DataErrors.h"
#include "host/data/DecodedAnswer.h"
#include "host/data/RawResult.h"
#include "host/net/AnswerDecoder.h"

namespace {

struct Reading {
  bool ok = false;
  bool hasResult = false;
  bool hasError = false;
  std::int64_t id = -1;
  std::int64_t errorCode = 0;
  std::string result;  // what the result holds, written out
};

// Everything a data value holds, packets cell by cell with their longest values.
void Describe(const host::Variant& value, std::string& out) {
  if (const host::DecodedPacket* packet = value.Decoded()) {
    out += "packet " + packet->error + "\n";
    for (const auto& field : packet->fields) out += field.name + "/" + std::to_string(field.size) + " ";
    for (const std::size_t w : packet->widest) out += std::to_string(w) + " ";
    const host::RowStore& store = packet->store;
    for (host::RowId r = 0; r < store.RowCount(); ++r) {
      out += "\n";
      for (int c = 0; c < store.Columns(); ++c) {
        out += store.Cell(r, c);
        out += '|';
      }
    }
    out += "\n";
  } else if (value.Kind() == host::VariantKind::Array) {
    out += "[";
    for (std::size_t i = 0; i < value.Count(); ++i) Describe(value[i], out);
    out += "]";
  } else {
    out += value.DebugString() + "\n";
  }
}

Reading Decode(std::string_view body, std::size_t cut1, std::size_t cut2) {
  host::AnswerDecoder decoder;
  Reading r;
  r.ok = decoder.Feed(body.substr(0, cut1)) && decoder.Feed(body.substr(cut1, cut2 - cut1)) &&
         decoder.Feed(body.substr(cut2)) && decoder.Finish();
  if (!r.ok) return r;
  r.hasResult = decoder.HasResult();
  r.hasError = decoder.HasError();
  r.id = decoder.Id().value_or(-1);
  r.errorCode = r.hasError ? decoder.ErrorCode() : 0;
  if (r.hasResult) {
    try {
      const host::RawResult raw = host::ParseRawResult(decoder.TakeResult());
      r.result = raw.ok ? "ok\n" : "refused " + raw.error + "\n";
      Describe(raw.data, r.result);
    } catch (const host::EPacketError& e) {
      r.result = std::string("not a raw result: ") + e.what();
    }
  }
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::string_view body(reinterpret_cast<const char*>(data) + 2, size - 2);
  std::size_t cut1 = body.empty() ? 0 : data[0] % (body.size() + 1);
  std::size_t cut2 = body.empty() ? 0 : data[1] % (body.size() + 1);
  if (cut1 > cut2) std::swap(cut1, cut2);
  const Reading whole = Decode(body, body.size(), body.size());
  const Reading pieces = Decode(body, cut1, cut2);
  if (whole.ok != pieces.ok || whole.hasResult != pieces.hasResult || whole.hasError != pieces.hasError ||
      whole.id != pieces.id || whole.errorCode != pieces.errorCode || whole.result != pieces.result) {
    std::abort();
  }
  return 0;
}
