// Arbitrary and mutated input must come back as a value or as EWireError, never as a crash, a
// hang or another exception. A deterministic generator keeps failures reproducible.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "host/wire/ChangePacketReader.h"
#include "host/wire/JsonRpcRequest.h"

namespace host::wire {
namespace {

class Mutator {
 public:
  explicit Mutator(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    state_ += 0x9E3779B97F4A7C15ull;
    uint64_t z = state_;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  size_t Below(size_t n) { return n == 0 ? 0 : static_cast<size_t>(Next() % n); }

  std::string Mutate(std::string s) {
    static const char kTokens[] = "{}[]\",:\\0123456789.eE-+ntfaulrs \xC3\xA7\xFF\x80\x00";
    const size_t edits = 1 + Below(4);
    for (size_t e = 0; e < edits; ++e) {
      const size_t pos = Below(s.size() + 1);
      const char c = kTokens[Below(sizeof(kTokens) - 1)];
      switch (Below(4)) {
        case 0: if (pos < s.size()) s.erase(pos, 1 + Below(8)); break;
        case 1: s.insert(pos, 1, c); break;
        case 2: if (pos < s.size()) s[pos] = c; break;
        default: s = s.substr(0, pos); break;
      }
    }
    return s;
  }

  std::string Random() {
    std::string s(Below(200), '\0');
    for (char& c : s) c = static_cast<char>(Next());
    return s;
  }

 private:
  uint64_t state_;
};

const char kPacket[] =
    R"({"fields":[{"name":"CDPRODUTODES","size":10},{"name":"CDFORNECED","size":21}],)"
    R"("changes":[{"op":"insert","row":["P'1","F0001"]},{"op":"delete","row":[null,"F\u00e7"]}]})";

TEST(WireFuzz, ChangePacketReaderSurvivesMutations) {
  Mutator m(1);
  for (int i = 0; i < 20000; ++i) {
    const std::string input = i % 5 == 0 ? m.Random() : m.Mutate(kPacket);
    try {
      const ChangePacket packet = ChangePacketReader::Read(input);
      for (const ChangeRow& c : packet.changes) ASSERT_EQ(c.values.size(), packet.fields.size());
    } catch (const EWireError&) {
    }
  }
}

TEST(WireFuzz, JsonRpcRequestSurvivesMutations) {
  const std::string request = std::string(R"({"jsonrpc":"2.0","id":12,"method":"SetFornecedor","params":[)") +
                              kPacket + R"(,"x"]})";
  Mutator m(2);
  for (int i = 0; i < 20000; ++i) {
    const std::string input = i % 5 == 0 ? m.Random() : m.Mutate(request);
    try {
      const JsonRpcRequest r = JsonRpcRequest::Parse(input);
      for (const JsonRpcParam& p : r.Params()) {
        if (p.kind == JsonRpcParam::Kind::Object) {
          try {
            ChangePacketReader::Read(p.value);
          } catch (const EWireError&) {
          }
        }
      }
    } catch (const EJsonRpcError& e) {
      ASSERT_TRUE(e.Code() == -32700 || e.Code() == -32600 || e.Code() == -32602) << e.Code();
    }
  }
}

TEST(WireFuzz, DeepNestingIsRefusedNotOverflowed) {
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  EXPECT_THROW(ChangePacketReader::Read(deep), EWireError);
  const std::string request = R"({"jsonrpc":"2.0","id":1,"method":"m","params":[)" + deep + "]}";
  EXPECT_THROW(JsonRpcRequest::Parse(request), EJsonRpcError);
}

}  // namespace
}  // namespace host::wire
