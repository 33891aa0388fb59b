// libFuzzer target: the client's streaming answer decoder. The input is an answer body; it is
// decoded whole and again cut in three pieces at places the input's first bytes choose. Both
// readings must end alike (accepted or refused, with the same envelope), since a body's reading
// must not depend on how the network cut it; a difference aborts, and so does a crash or a leak.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "host/net/AnswerDecoder.h"

namespace {

struct Reading {
  bool ok = false;
  bool hasResult = false;
  bool hasError = false;
  std::int64_t id = -1;
  std::int64_t errorCode = 0;
};

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
  if (r.hasResult) (void)decoder.TakeResult();  // the result's parts are built and released
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
      whole.id != pieces.id || whole.errorCode != pieces.errorCode) {
    std::abort();
  }
  return 0;
}
