// The answer decoder reads plain rows of a packet sixteen bytes at a time and hands anything else
// to its general tokenizer. These cases put every kind of fault and every kind of unusual value at
// each position of a sixteen-byte block, and across a block's edge, and check the outcome against
// reading the packet's text whole: the same rows and the same refusals.
#include <gtest/gtest.h>
#include <simdjson.h>

#include <string>
#include <vector>

#include "host/data/ClientDataSet.h"
#include "host/data/DataErrors.h"
#include "host/data/RawResult.h"
#include "host/net/AnswerDecoder.h"

namespace host {
namespace {

std::string Body(const std::string& packet) {
  return R"({"jsonrpc":"2.0","id":1,"result":{"ok":true,"data":)" + packet + "}}";
}

// Every row of a record set, values separated by '|', then its rows again cut to fields of three
// characters (a check of the longest value found per column, which decides what is cut).
std::string Rows(const Variant& packet) {
  std::string out;
  try {
    TClientDataSet plain;
    plain.SetData(packet);
    for (plain.First(); !plain.Eof(); plain.Next()) {
      for (int f = 0; f < plain.FieldCount(); ++f) out += std::string(plain.Fields()[static_cast<std::size_t>(f)]->AsString()) + "|";
      out += "\n";
    }
    TClientDataSet cut;
    for (int f = 0; f < plain.FieldCount(); ++f) cut.AddField(plain.Fields()[static_cast<std::size_t>(f)]->FieldName(), 3);
    cut.SetData(packet);
    for (cut.First(); !cut.Eof(); cut.Next()) {
      for (int f = 0; f < cut.FieldCount(); ++f) out += std::string(cut.Fields()[static_cast<std::size_t>(f)]->AsString()) + "|";
      out += "\n";
    }
  } catch (const EPacketError& e) {
    out += std::string("refused: ") + e.what();
  }
  return out;
}

// The packet decoded as an answer cut at `cuts`: its rows, or "invalid" when the answer is refused.
std::string Decoded(const std::string& packet, const std::vector<std::size_t>& cuts) {
  const std::string body = Body(packet);
  AnswerDecoder decoder;
  std::size_t from = 0;
  bool fed = true;
  for (std::size_t cut : cuts) {
    if (cut <= from || cut >= body.size()) continue;
    fed = fed && decoder.Feed(std::string_view(body).substr(from, cut - from));
    from = cut;
  }
  fed = fed && decoder.Feed(std::string_view(body).substr(from)) && decoder.Finish();
  if (!fed) return "invalid";
  return Rows(ParseRawResult(decoder.TakeResult()).data);
}

// The packet's text read whole: "invalid" when it is not JSON, else its rows.
std::string FromText(const std::string& packet) {
  simdjson::dom::parser parser;
  if (parser.parse(simdjson::padded_string(packet)).error()) return "invalid";
  return Rows(Variant::MakeDataPacket(packet));
}

// Rows of three columns around a middle value; plain rows before and after, so that the middle
// row is met both at a piece's start and in the middle of a run of plain rows.
std::string Packet(const std::string& middle) {
  return R"({"fields":[{"name":"A","size":10},{"name":"B","size":80},{"name":"C","size":5}],"rows":[)"
         R"(["a1","b1","c1"],["a2","a value of more than sixteen bytes","c2"],)"
         R"(["a3",)" + middle + R"(,"c3"],["a4","b4","c4"]]})";
}

TEST(AnswerRows, AFaultAtAnyPositionOfABlockIsRefused) {
  const std::string plain = "0123456789abcdefghijklmnopqrstuvwxyzABCD";  // 40 bytes: two blocks and a tail
  const std::vector<std::string> faults = {
      "\x01", "\x1F", "\n",             // control characters
      "\xFF", "\x80", "\xC3",           // a byte never in UTF-8, a lone continuation, a cut sequence
      "\xED\xA0\x80", "\xC0\xAF",       // a surrogate, an overlong form
      "\xF4\x90\x80\x80",               // past U+10FFFF
      "\\x", "\\u12G4", "\\ud800",      // bad escapes
  };
  for (std::size_t at = 0; at < plain.size(); ++at) {
    for (const std::string& fault : faults) {
      const std::string value = plain.substr(0, at) + fault + plain.substr(at + 1);
      const std::string packet = Packet("\"" + value + "\"");
      ASSERT_EQ(FromText(packet), "invalid") << "fault at " << at;
      const std::size_t body = Body("").size();
      for (const std::vector<std::size_t>& cuts :
           {std::vector<std::size_t>{}, {body + packet.find("a3") + 4 + at}, {body + packet.size() / 2}}) {
        ASSERT_EQ(Decoded(packet, cuts), "invalid") << "fault " << testing::PrintToString(fault) << " at " << at;
      }
    }
  }
}

TEST(AnswerRows, UnusualValuesAtAnyPositionReadAsTheirText) {
  const std::string plain = "0123456789abcdefghijklmnopqrstuvwxyzABCD";
  const std::vector<std::string> unusual = {
      "\x7F", "é", "€", "😀",                      // allowed bytes past 0x7E
      "\\\"", "\\\\", "\\/", "\\n", "\\u00e9",     // escapes, which may straddle a block's edge
      "\\ud83d\\ude00", " ",
  };
  for (std::size_t at = 0; at < plain.size(); ++at) {
    for (const std::string& value : unusual) {
      const std::string text = plain.substr(0, at) + value + plain.substr(at + 1);
      const std::string packet = Packet("\"" + text + "\"");
      const std::string expected = FromText(packet);
      ASSERT_EQ(expected.find("refused"), std::string::npos) << expected;
      ASSERT_EQ(Decoded(packet, {}), expected) << testing::PrintToString(value) << " at " << at;
      // Cut right at the value's byte, and just after it.
      const std::size_t where = Body("").size() - 2 + packet.find("a3") + 6 + at;
      ASSERT_EQ(Decoded(packet, {where}), expected) << testing::PrintToString(value) << " at " << at;
      ASSERT_EQ(Decoded(packet, {where + 1}), expected) << testing::PrintToString(value) << " at " << at;
    }
  }
}

TEST(AnswerRows, ValuesThatJoinIntoUtf8ButAreNotEachUtf8AreRefused) {
  // The two halves of "é" in two values: together valid UTF-8, each alone not.
  for (const std::string row : {"[\"a3\",\"x\xC3\",\"\xA9y\"]", "[\"\xC3\",\"\xA9\",\"c\"]"}) {
    const std::string packet = R"({"fields":[{"name":"A"},{"name":"B"},{"name":"C"}],"rows":[)" + row + "]}";
    EXPECT_EQ(FromText(packet), "invalid");
    EXPECT_EQ(Decoded(packet, {}), "invalid") << testing::PrintToString(row);
  }
}

TEST(AnswerRows, RowsThatAreNotPlainFailOrReadAsTheTextDoes) {
  const std::vector<std::string> middles = {
      R"("b3" ,"c3"],["a3b","b3b")",   // a blank before a comma
      R"( "b3")",                      // a blank before a value
      R"(null)",                       // null reads as empty
      R"(12)",                         // a number: the packet is refused
      R"(true)",                       // a literal: refused
      R"(["x"])",                      // an array: refused
      R"({"x":1})",                    // an object: refused
      R"("b3","extra")",               // too many values: refused
      R"("")",                         // empty value
  };
  for (const std::string& middle : middles) {
    const std::string packet = Packet(middle);
    const std::string expected = FromText(packet);
    for (std::size_t cut = 0; cut < packet.size(); ++cut) {
      ASSERT_EQ(Decoded(packet, {Body("").size() - 2 + cut}), expected) << middle << " cut at " << cut;
    }
  }
  // Too few values in the last row.
  const std::string narrow = R"({"fields":[{"name":"A"},{"name":"B"}],"rows":[["a","b"],["a"]]})";
  EXPECT_NE(FromText(narrow).find("refused"), std::string::npos);
  EXPECT_EQ(Decoded(narrow, {}), FromText(narrow));
}

TEST(AnswerRows, ManyRowsCutAtEveryByteReadAsTheWholeText) {
  std::string rows;
  for (int i = 0; i < 60; ++i) {
    rows += std::string(i ? "," : "") + "[\"" + std::to_string(i * 7919) + "\",\"" +
            (i % 3 ? "Fornecedor São João Ltda" : "Farinha de trigo 1 kg") + "\",\"" + std::string(static_cast<std::size_t>(i % 20), 'x') +
            "\"]";
  }
  const std::string packet = R"({"fields":[{"name":"K","size":10},{"name":"N","size":40},{"name":"X"}],"rows":[)" + rows + "]}";
  const std::string expected = FromText(packet);
  ASSERT_NE(expected.find("São"), std::string::npos);
  ASSERT_EQ(Decoded(packet, {}), expected);
  std::vector<std::size_t> everyByte;
  for (std::size_t i = 1; i < Body(packet).size(); ++i) everyByte.push_back(i);
  EXPECT_EQ(Decoded(packet, everyByte), expected);
  for (std::size_t cut = 1; cut < Body(packet).size(); cut += 3) ASSERT_EQ(Decoded(packet, {cut}), expected) << cut;
}

}  // namespace
}  // namespace host
