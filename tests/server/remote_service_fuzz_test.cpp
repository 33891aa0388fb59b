// The service in process, fed valid requests of every method and mutations of them: every body
// must come back as one well-formed JSON-RPC response, and the store must stay consistent.
#include <gtest/gtest.h>
#include <simdjson.h>

#include <cstdint>

#include "ServerTestSupport.h"
#include "server/cli/DemoGenerator.h"
#include "server/service/RemoteService.h"
#include "server/store/Store.h"

namespace server::test {
namespace {

using host::wire::ChangeOp;
using host::wire::JsonRpcParam;
using host::wire::JsonRpcRequest;

class Mutator {
 public:
  explicit Mutator(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  size_t Below(size_t n) { return n == 0 ? 0 : static_cast<size_t>(Next() % n); }
  std::string Mutate(std::string s) {
    static const char kBytes[] = "{}[]\",:\\0123456789-ntfaulr'PFC \xC3\xA7\xFF";
    for (size_t e = 1 + Below(3); e > 0; --e) {
      const size_t pos = Below(s.size() + 1);
      const char c = kBytes[Below(sizeof(kBytes) - 1)];
      switch (Below(3)) {
        case 0: if (pos < s.size()) s.erase(pos, 1 + Below(6)); break;
        case 1: s.insert(pos, 1, c); break;
        default: if (pos < s.size()) s[pos] = c;
      }
    }
    return s;
  }

 private:
  uint64_t state_;
};

// Reads the whole body of a reply, draining a stream.
std::string BodyOf(Reply& reply) {
  if (!reply.stream) return reply.body;
  std::string body, piece;
  bool more = true;
  while (more) {
    more = reply.stream->Fill(piece);
    body += piece;
  }
  return body;
}

class RemoteServiceFuzz : public ::testing::TestWithParam<StoreKind> {};

INSTANTIATE_TEST_SUITE_P(Stores, RemoteServiceFuzz, ::testing::Values(StoreKind::Sqlite, StoreKind::Postgres),
                         StoreParamName());

TEST_P(RemoteServiceFuzz, EveryBodyGetsOneWellFormedResponse) {
  PDI_SKIP_UNLESS_STORE(GetParam());
  TempDir dir;
  const TestDatabase database(GetParam(), dir);
  const auto store = Store::Open(database.Location(), StoreOptions{.create = true});
  {
    const auto session = store->OpenSession();
    DemoGenerator::Generate(*session, DemoOptions{6, 6, 1});
  }
  RemoteService service(*store);

  const std::vector<std::string> seeds = {
      JsonRpcRequest::Write(1, "getDados", {}),
      JsonRpcRequest::Write(2, "getFilial", {}),
      JsonRpcRequest::Write(3, "getVd_Fornecedor", {JsonRpcParam::Text("P000000001"), JsonRpcParam::Text("FOR0000002")}),
      JsonRpcRequest::Write(4, "getVd_Produto", {JsonRpcParam::Text("P'00000002")}),
      JsonRpcRequest::Write(5, "SetCliente", {Changes(ClientFields(), {{ChangeOp::Insert, {"P000000003", "", "CLI0000004", "", "", ""}},
                                                                      {ChangeOp::Delete, {"P000000001", "", "CLI0000002", "", "", ""}}})}),
      JsonRpcRequest::Write(6, "SetProduto", {Changes(ProductFields(), {{ChangeOp::Delete, {"1004", "P000000005", "x"}}})}),
      JsonRpcRequest::Write(7, "SetFilial", {Changes(BranchFields(), {{ChangeOp::Insert, {"P000000004", "SP01", ""}}})}),
  };
  Mutator m(7310);
  simdjson::dom::parser parser;
  for (int i = 0; i < 6000; ++i) {
    const std::string body = i < 70 ? seeds[static_cast<size_t>(i) % seeds.size()] : m.Mutate(seeds[m.Below(seeds.size())]);
    Reply reply = service.Call(body);
    const std::string response = BodyOf(reply);
    simdjson::dom::object object;
    ASSERT_EQ(parser.parse(response).get(object), simdjson::SUCCESS) << body << "\n-> " << response.substr(0, 300);
    const bool hasResult = object["result"].error() == simdjson::SUCCESS;
    const bool hasError = object["error"].error() == simdjson::SUCCESS;
    ASSERT_NE(hasResult, hasError) << response.substr(0, 300);
    ASSERT_FALSE(reply.outcome.empty());
    // The status the log and the batch count agrees with what the client was told.
    const bool ok = hasResult && bool(object["result"]["ok"].get_bool());
    ASSERT_EQ(reply.status == Outcome::kOk, ok) << response.substr(0, 300);
    if (reply.status == Outcome::kRefused || reply.status == Outcome::kInvalid) {
      ASSERT_EQ(reply.status == Outcome::kInvalid, hasError) << response.substr(0, 300);
    }
  }
  // The store still answers, and its lists are still consistent with one another.
  Reply loaded = service.Call(JsonRpcRequest::Write(9, "getDados", {}));
  const std::string response = BodyOf(loaded);
  simdjson::dom::element element;
  ASSERT_EQ(parser.parse(response).get(element), simdjson::SUCCESS);
  EXPECT_TRUE(bool(element["result"]["ok"].get_bool()));
}

}  // namespace
}  // namespace server::test
