// The answer decoder against the reading of the whole text: the same outcome however the bytes are
// cut, every malformed or cut answer refused, and a malformed packet failing its load exactly
// where reading its text would, leaving the record set as it was.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/data/ClientDataSet.h"
#include "host/data/DecodedAnswer.h"
#include "host/data/RawResult.h"
#include "host/net/AnswerDecoder.h"

namespace host {
namespace {

// Two packets and the other kinds of data, with escapes, a surrogate pair, raw UTF-8, nulls, a
// value longer than its field and values repeating the row above.
const std::string kPacketA =
    R"({"fields":[{"name":"CDPRODUTO","size":10},{"name":"NMPRODUTO","size":6}],)"
    R"("rows":[["P1","a\"b\\c\/d"],["P2","\u00e7\ud83d\ude00 é"],["P3",null],["P3","é"],[null,"longer than six"]]})";
const std::string kPacketB = R"({"extra":{"x":[1,2.5e3,true]},"fields":[{"name":"CDFILIAL","size":4,"z":null}],"rows":[]})";
const std::string kAnswer = "{\"jsonrpc\":\"2.0\",\"id\":7,\"result\":{\"ok\":true,\"data\":[" + kPacketA + " , " +
                            kPacketB + ",\"t\\u0041\",-12,false,null,[]]}}\n";

struct Decoded {
  bool ok = false;
  std::string failure;
  Variant result;
};

// Decodes body cut into pieces at the given positions.
Decoded Decode(const std::string& body, const std::vector<std::size_t>& cuts) {
  AnswerDecoder decoder;
  Decoded out;
  std::size_t from = 0;
  bool fed = true;
  for (std::size_t cut : cuts) {
    fed = fed && decoder.Feed(std::string_view(body).substr(from, cut - from));
    from = cut;
  }
  fed = fed && decoder.Feed(std::string_view(body).substr(from));
  out.ok = fed && decoder.Finish();
  out.failure = decoder.Failure();
  if (out.ok && decoder.HasResult()) out.result = decoder.TakeResult();
  return out;
}

// Every row of a data set, one line per row, values separated by '|'.
std::string Rows(TClientDataSet& ds) {
  std::string out;
  for (ds.First(); !ds.Eof(); ds.Next()) {
    for (int f = 0; f < ds.FieldCount(); ++f) out += std::string(ds.Fields()[static_cast<std::size_t>(f)]->AsString()) + "|";
    out += "\n";
  }
  return out;
}

// What a raw result holds, packets loaded into record sets (with no fields, and with fields of
// their own sizes in another order), as one text.
std::string Describe(const RawResult& raw) {
  std::string out = raw.ok ? "ok\n" : "refused: " + raw.error + "\n";
  const Variant& data = raw.data;
  for (std::size_t i = 0; i < data.Count(); ++i) {
    const Variant& item = data[i];
    if (item.Kind() == VariantKind::DataPacket) {
      TClientDataSet plain;
      plain.SetData(item);
      out += "packet\n" + Rows(plain);
      if (plain.FieldCount() == 2) {
        TClientDataSet sized;
        sized.AddField("NMPRODUTO", 3);
        sized.AddField("CDPRODUTO", 10);
        sized.AddField("OTHER", 5);
        sized.SetData(item);
        out += "sized\n" + Rows(sized);
      }
    } else {
      out += item.DebugString() + "\n";
    }
  }
  return out;
}

TEST(AnswerDecoder, EverySplitOfTheAnswerDecodesAsTheWholeTextReads) {
  // The reference: the result's text read whole by the raw-result reader.
  const std::string resultText = kAnswer.substr(kAnswer.find("{\"ok\""), kAnswer.rfind('}') - kAnswer.find("{\"ok\""));
  const std::string expected = Describe(ParseRawResult(Variant::FromText(resultText)));
  ASSERT_NE(expected.find("a\"b\\c/|"), std::string::npos);  // cut to 6 characters
  ASSERT_NE(expected.find("ç😀 é"), std::string::npos);
  ASSERT_NE(expected.find("lon|"), std::string::npos);  // cut to 3 characters in the sized set

  const Decoded whole = Decode(kAnswer, {});
  ASSERT_TRUE(whole.ok) << whole.failure;
  EXPECT_EQ(Describe(ParseRawResult(whole.result)), expected);
  EXPECT_EQ(whole.result.AsText(), resultText);  // a small result keeps its text as received

  for (std::size_t cut = 1; cut < kAnswer.size(); ++cut) {
    const Decoded two = Decode(kAnswer, {cut});
    ASSERT_TRUE(two.ok) << "cut at " << cut << ": " << two.failure;
    ASSERT_EQ(Describe(ParseRawResult(two.result)), expected) << "cut at " << cut;
    ASSERT_EQ(two.result.AsText(), resultText) << "cut at " << cut;
  }
  std::vector<std::size_t> everyByte;
  for (std::size_t i = 1; i < kAnswer.size(); ++i) everyByte.push_back(i);
  const Decoded bytes = Decode(kAnswer, everyByte);
  ASSERT_TRUE(bytes.ok) << bytes.failure;
  EXPECT_EQ(Describe(ParseRawResult(bytes.result)), expected);
}

TEST(AnswerDecoder, ACutOrMalformedAnswerIsRefused) {
  // Every proper prefix of the answer (a connection cut anywhere) is incomplete.
  const std::string trimmed = kAnswer.substr(0, kAnswer.size() - 1);
  for (std::size_t length = 0; length < trimmed.size(); ++length) {
    const Decoded cut = Decode(trimmed.substr(0, length), {length / 2});
    ASSERT_FALSE(cut.ok) << "prefix of " << length;
    ASSERT_FALSE(cut.failure.empty());
  }
  const std::string head = R"({"jsonrpc":"2.0","id":7,"result":{"ok":true,"data":[)";
  const std::vector<std::string> tails = {
      R"(["a"]]}} x)",                 // text after the answer
      R"(["a"]]}}})",                  // one brace too many
      R"(["a"]}})",                    // brackets do not match
      "[\"a\x01\"]]}}",                // control character in a text
      "[\"a\xC3\"]]}}",                // cut UTF-8 sequence
      "[\"\xED\xA0\x80\"]]}}",         // UTF-8 of a surrogate
      R"(["\ud800"]]}})",              // lone high surrogate
      R"(["\ud800\u0041"]]}})",        // high surrogate without its low half
      R"(["\udc00"]]}})",              // lone low surrogate
      R"(["\x"]]}})",                  // unknown escape
      R"(["\u12G4"]]}})",              // bad hex digit
      R"([01]]}})",                    // leading zero
      R"([1.]]}})",                    // fraction without digits
      R"([-]]}})",                     // sign alone
      R"([tru]]}})",                   // broken literal
      R"([nulL]]}})",                  // broken literal
      R"([1,]]}})",                    // trailing comma
      R"({"a" 1}]}})",                 // missing colon
      R"({1:2}]}})",                   // key not a string
  };
  for (const std::string& tail : tails) {
    const std::string body = head + tail;
    for (std::size_t cut : {std::size_t{0}, head.size(), head.size() + tail.size() / 2}) {
      const Decoded bad = Decode(body, {cut});
      EXPECT_FALSE(bad.ok) << tail << " cut at " << cut;
      EXPECT_FALSE(bad.failure.empty()) << tail;
    }
  }
  // Not an answer at all.
  for (const std::string body : {"", "   ", "[1]", "\"x\"", "42", "{\"id\":1,\"result\":{\"ok\":true}"}) {
    EXPECT_FALSE(Decode(body, {}).ok) << body;
  }
  // Nesting past the limit is refused, not followed.
  EXPECT_FALSE(Decode(head + std::string(AnswerDecoder::kMaxDepth, '['), {}).ok);
  EXPECT_TRUE(Decode(head + std::string(100, '[') + std::string(100, ']') + "]}}", {}).ok);
  // A failure is final: later pieces are not read.
  AnswerDecoder decoder;
  EXPECT_FALSE(decoder.Feed("{]"));
  EXPECT_FALSE(decoder.Feed("}"));
  EXPECT_FALSE(decoder.Finish());
}

TEST(AnswerDecoder, TheEnvelopeIsReportedForTheConnectionToCheck) {
  AnswerDecoder error;
  ASSERT_TRUE(error.Feed(R"({"jsonrpc":"2.0","id":3,"error":{"code":-32601,"message":"Método não encontrado","data":[1]}})"));
  ASSERT_TRUE(error.Finish());
  EXPECT_TRUE(error.HasError());
  EXPECT_FALSE(error.HasResult());
  EXPECT_EQ(error.ErrorCode(), -32601);
  EXPECT_EQ(error.ErrorMessage(), "Método não encontrado");
  EXPECT_EQ(error.Id(), 3);

  AnswerDecoder noId;
  ASSERT_TRUE(noId.Feed(R"({"result":{"ok":true,"data":1},"id":"7"})"));
  ASSERT_TRUE(noId.Finish());
  EXPECT_TRUE(noId.HasResult());
  EXPECT_FALSE(noId.Id().has_value());

  for (const std::string body : {R"({"error":"x"})", R"({"error":{"code":"1"}})", R"({"error":{"message":2}})",
                                 R"({"result":{"ok":true},"result":{"ok":true}})"}) {
    AnswerDecoder bad;
    EXPECT_FALSE(bad.Feed(body) && bad.Finish()) << body;
  }
}

TEST(AnswerDecoder, AMalformedPacketFailsItsLoadAndLeavesTheRecordSetAsItWas) {
  const std::vector<std::string> packets = {
      R"({"fields":[{"name":"A","size":5}],"rows":[["x","y"]]})",             // row too wide
      R"({"fields":[{"name":"A","size":5}],"rows":[[]]})",                    // row too narrow
      R"({"fields":[{"name":"A","size":5}],"rows":[[1]]})",                   // value not a string
      R"({"fields":[{"name":"A","size":5}],"rows":[[["x"]]]})",               // value an array
      R"({"fields":[{"name":"A","size":5}],"rows":["x"]})",                   // row not an array
      R"({"fields":[{"name":"A"},{"name":"a"}],"rows":[]})",                  // repeated field
      R"({"fields":[{"name":"A","size":0}],"rows":[]})",                      // size out of range
      R"({"fields":[{"name":"A","size":"5"}],"rows":[]})",                    // size not a number
      R"({"fields":[{"size":5}],"rows":[]})",                                 // field without name
      R"({"rows":[],"fields":[{"name":"A","size":5}]})",                      // rows before fields
      R"({"fields":{"name":"A"},"rows":[]})",                                 // fields not an array
      R"({"fields":[{"name":"A","size":5}],"rows":[],"rows":[]})",            // rows twice
  };
  for (const std::string& packet : packets) {
    const std::string body = R"({"jsonrpc":"2.0","id":1,"result":{"ok":true,"data":)" + packet + "}}";
    // Reading the text whole refuses the load; so does the decoded packet, with the same kind.
    TClientDataSet fromText;
    fromText.AddField("A", 5);
    fromText.SetData(Variant::MakeDataPacket(R"({"fields":[{"name":"A","size":5}],"rows":[["keep"]]})"));
    EXPECT_THROW(fromText.SetData(Variant::MakeDataPacket(packet)), EPacketError) << packet;

    for (std::size_t cut = 0; cut < body.size(); cut += 7) {
      const Decoded decoded = Decode(body, {cut});
      ASSERT_TRUE(decoded.ok) << packet << ": " << decoded.failure;
      const RawResult raw = ParseRawResult(decoded.result);
      ASSERT_TRUE(raw.ok);
      TClientDataSet ds;
      ds.AddField("A", 5);
      ds.SetData(Variant::MakeDataPacket(R"({"fields":[{"name":"A","size":5}],"rows":[["keep"]]})"));
      EXPECT_THROW(ds.SetData(raw.data), EPacketError) << packet << " cut at " << cut;
      EXPECT_EQ(Rows(ds), "keep|\n") << packet;
    }
  }
  // What is not a raw result is refused where the raw result is read.
  for (const std::string result : {R"({"data":1})", R"({"ok":1})", R"({"ok":true,"data":{"fields":[]}})",
                                   R"({"ok":true,"data":1.5})", R"("text")"}) {
    const Decoded decoded = Decode(R"({"id":1,"result":)" + result + "}", {});
    ASSERT_TRUE(decoded.ok) << result;
    EXPECT_THROW(ParseRawResult(decoded.result), EPacketError) << result;
    EXPECT_THROW(ParseRawResult(Variant::FromText(result)), EPacketError) << result;
  }
}

TEST(AnswerDecoder, ALoadedPacketSharesItsRowsUntilTheRecordSetChangesThem) {
  const Decoded decoded = Decode(kAnswer, {100});
  ASSERT_TRUE(decoded.ok);
  const Variant packet = ParseRawResult(decoded.result).data[0];
  const std::string before(packet.PacketJson());
  TClientDataSet ds;
  ds.SetData(packet);
  ds.First();
  ds.Edit();
  ds.Fields()[0]->SetAsString("CHANGED");
  ds.Post();
  ds.Append();
  ds.Fields()[0]->SetAsString("NEW");
  ds.Post();
  // The packet still reads as decoded; the set holds its own changes.
  EXPECT_EQ(packet.Decoded()->store.Cell(0, 0), "P1");
  EXPECT_EQ(packet.Decoded()->store.RowCount(), 5u);
  EXPECT_EQ(std::string(packet.PacketJson()), before);
  ds.First();
  EXPECT_EQ(ds.Fields()[0]->AsString(), "CHANGED");
  EXPECT_EQ(ds.RecordCount(), 6);
  // A second set loads the same packet as it was.
  TClientDataSet again;
  again.SetData(packet);
  again.First();
  EXPECT_EQ(again.Fields()[0]->AsString(), "P1");
}

TEST(AnswerDecoder, ALargeResultIsNotKeptAsTextButReadsBackTheSame) {
  std::string rows;
  const std::string value(200, 'v');
  for (int i = 0; i < 12000; ++i) rows += std::string(i ? "," : "") + "[\"" + std::to_string(i) + "\",\"" + value + "\"]";
  const std::string packet = R"({"fields":[{"name":"K","size":10},{"name":"V","size":300}],"rows":[)" + rows + "]}";
  const std::string body = R"({"jsonrpc":"2.0","id":1,"result":{"ok":true,"data":[)" + packet + "]}}";
  ASSERT_GT(body.size(), AnswerDecoder::kKeptResultBytes);
  const Decoded decoded = Decode(body, {body.size() / 3, body.size() / 2});
  ASSERT_TRUE(decoded.ok) << decoded.failure;
  EXPECT_EQ(decoded.result.DecodedRaw()->received, nullptr);
  // The value repeated on every row is held once, not 12,000 times.
  EXPECT_LT(ParseRawResult(decoded.result).data[0].Decoded()->store.TextBytes(), 100000u);
  EXPECT_TRUE(decoded.result.AsText() == R"({"ok":true,"data":[)" + packet + "]}");
}

}  // namespace
}  // namespace host
