#include <gtest/gtest.h>

#include <string>

#include "host/wire/JsonRpcRequest.h"
#include "host/wire/JsonRpcResponse.h"
#include "host/wire/RawResult.h"

namespace host::wire {
namespace {

// Parses body expecting a refusal, and returns "code id" of the error.
std::string Refusal(std::string_view body) {
  try {
    JsonRpcRequest::Parse(body);
  } catch (const EJsonRpcError& e) {
    return std::to_string(e.Code()) + " " + e.IdJson();
  }
  return "accepted";
}

TEST(JsonRpcRequest, ReadsPositionalTextAndPacketParameters) {
  const JsonRpcRequest r = JsonRpcRequest::Parse(
      R"({"params":["42", {"fields":[],"changes":[]}, "Jo\u00e3o"],"method":"SetFornecedor",)"
      R"("id":7,"jsonrpc":"2.0","extra":{"ignored":true}})");
  EXPECT_EQ(r.IdJson(), "7");
  EXPECT_EQ(r.Method(), "SetFornecedor");
  ASSERT_EQ(r.Params().size(), 3u);
  EXPECT_EQ(r.Params()[0].kind, JsonRpcParam::Kind::Text);
  EXPECT_EQ(r.Params()[0].value, "42");
  EXPECT_EQ(r.Params()[1].kind, JsonRpcParam::Kind::Object);
  EXPECT_EQ(r.Params()[1].value, R"({"fields":[],"changes":[]})");
  EXPECT_EQ(r.Params()[2].value, "João");
}

TEST(JsonRpcRequest, EchoesStringNullAndLargeIds) {
  EXPECT_EQ(JsonRpcRequest::Parse(R"({"jsonrpc":"2.0","id":"a\"b","method":"m"})").IdJson(), R"("a\"b")");
  EXPECT_EQ(JsonRpcRequest::Parse(R"({"jsonrpc":"2.0","id":null,"method":"m"})").IdJson(), "null");
  EXPECT_EQ(JsonRpcRequest::Parse(R"({"jsonrpc":"2.0","id":18446744073709551615,"method":"m"})").IdJson(),
            "18446744073709551615");
  EXPECT_EQ(JsonRpcRequest::Parse(R"({"jsonrpc":"2.0","id":-3,"method":"m"})").IdJson(), "-3");
  EXPECT_TRUE(JsonRpcRequest::Parse(R"({"jsonrpc":"2.0","id":1,"method":"m","params":[]})").Params().empty());
}

TEST(JsonRpcRequest, WriteRoundTrips) {
  const std::string body = JsonRpcRequest::Write(
      9, "getVd_Fornecedor",
      {JsonRpcParam::Text("P'1"), JsonRpcParam::Text("a\"b"), JsonRpcParam::Object(R"({"x":[]})")});
  const JsonRpcRequest r = JsonRpcRequest::Parse(body);
  EXPECT_EQ(r.IdJson(), "9");
  EXPECT_EQ(r.Method(), "getVd_Fornecedor");
  ASSERT_EQ(r.Params().size(), 3u);
  EXPECT_EQ(r.Params()[1].value, "a\"b");
  EXPECT_EQ(r.Params()[2].value, R"({"x":[]})");
}

TEST(JsonRpcRequest, MalformedJsonIsAParseErrorWithNullId) {
  EXPECT_EQ(Refusal(""), "-32700 null");
  EXPECT_EQ(Refusal("{"), "-32700 null");
  EXPECT_EQ(Refusal(R"({"jsonrpc":"2.0","id":1,"method":"m"} {})"), "-32700 null");
  EXPECT_EQ(Refusal(R"({"jsonrpc":"2.0","id":1,"method":"m\q"})"), "-32700 null");
  EXPECT_EQ(Refusal("{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"\xC3\"}"), "-32700 null");
  EXPECT_EQ(Refusal(R"({"jsonrpc":"2.0","id":1,"method":"m",})"), "-32700 null");
  EXPECT_EQ(Refusal("nonsense"), "-32700 null");
  EXPECT_EQ(Refusal("tru"), "-32700 null");
  // A malformed member the reader would not even look at still makes the body invalid.
  EXPECT_EQ(Refusal(R"({"jsonrpc":"2.0","id":1,"method":"m","extra":nul})"), "-32700 null");
  EXPECT_EQ(Refusal(R"({"jsonrpc":"2.0","id":1,"method":"m","extra":[1,}})"), "-32700 null");
}

TEST(JsonRpcRequest, StructurallyWrongRequestsAreInvalid) {
  EXPECT_EQ(Refusal("[]"), "-32600 null");
  EXPECT_EQ(Refusal("42"), "-32600 null");
  EXPECT_EQ(Refusal("null"), "-32600 null");
  EXPECT_EQ(Refusal(R"({"id":1,"method":"m"})"), "-32600 1");
  EXPECT_EQ(Refusal(R"({"jsonrpc":"1.0","id":1,"method":"m"})"), "-32600 1");
  EXPECT_EQ(Refusal(R"({"jsonrpc":2.0,"id":1,"method":"m"})"), "-32600 1");
  EXPECT_EQ(Refusal(R"({"jsonrpc":"2.0","method":"m"})"), "-32600 null");
  EXPECT_EQ(Refusal(R"({"jsonrpc":"2.0","id":1})"), "-32600 1");
  EXPECT_EQ(Refusal(R"({"jsonrpc":"2.0","id":1,"method":7})"), "-32600 1");
  EXPECT_EQ(Refusal(R"({"jsonrpc":"2.0","id":1.5,"method":"m"})"), "-32600 null");
  EXPECT_EQ(Refusal(R"({"jsonrpc":"2.0","id":[1],"method":"m"})"), "-32600 null");
  EXPECT_EQ(Refusal(R"({"jsonrpc":"2.0","id":1,"method":"m","params":"x"})"), "-32600 1");
  EXPECT_EQ(Refusal(R"({"jsonrpc":"2.0","id":1,"method":"m","method":"n"})"), "-32600 1");
}

TEST(JsonRpcRequest, UnusableParametersAreInvalidParams) {
  EXPECT_EQ(Refusal(R"({"jsonrpc":"2.0","id":"q","method":"m","params":{"a":"b"}})"), "-32602 \"q\"");
  EXPECT_EQ(Refusal(R"({"jsonrpc":"2.0","id":2,"method":"m","params":[1]})"), "-32602 2");
  EXPECT_EQ(Refusal(R"({"jsonrpc":"2.0","id":2,"method":"m","params":["a",null]})"), "-32602 2");
  EXPECT_EQ(Refusal(R"({"jsonrpc":"2.0","id":2,"method":"m","params":[["a"]]})"), "-32602 2");
}

TEST(JsonRpcResponse, WritesResultAndErrorEnvelopes) {
  EXPECT_EQ(JsonRpcResponse::Result("3", RawResult::Ok("[]")),
            R"({"jsonrpc":"2.0","id":3,"result":{"ok":true,"data":[]}})");
  EXPECT_EQ(JsonRpcResponse::Result("\"x\"", RawResult::Error("Filial já cadastrada \"0001\".")),
            R"({"jsonrpc":"2.0","id":"x","result":{"ok":false,"error":"Filial já cadastrada \"0001\"."}})");
  EXPECT_EQ(JsonRpcResponse::Error("null", -32700, "bad\xFF"),
            "{\"jsonrpc\":\"2.0\",\"id\":null,\"error\":{\"code\":-32700,\"message\":\"bad\xEF\xBF\xBD\"}}");
  EXPECT_EQ(JsonRpcResponse::ResultPrefix("1") + std::string(RawResult::OkPrefix()) + "0" +
                std::string(RawResult::OkSuffix()) + std::string(JsonRpcResponse::ResultSuffix()),
            JsonRpcResponse::Result("1", RawResult::Ok("0")));
}

}  // namespace
}  // namespace host::wire
