#include "host/wire/PacketWriter.h"

#include <gtest/gtest.h>
#include <simdjson.h>

#include <array>
#include <string>
#include <vector>

namespace host::wire {
namespace {

const std::array<FieldDef, 2> kFields{{{"CDPRODUTO", 10}, {"NMPRODUTO", 40}}};

// A data packet of one row: value, then "k".
std::string OneRowPacket(std::string_view value) {
  std::string out;
  PacketWriter w(out);
  w.BeginData(kFields);
  const std::array<std::string_view, 2> row{value, "k"};
  w.Row(row);
  w.End();
  return out;
}

TEST(PacketWriter, WritesDataPacket) {
  std::string out;
  PacketWriter w(out);
  w.BeginData(kFields);
  std::array<std::string_view, 2> row1{"1", "Café \"forte\""};
  std::array<std::string_view, 2> row2{"O'B", "linha\nnova"};
  w.Row(row1);
  w.Row(row2);
  w.End();
  EXPECT_EQ(out,
            R"({"fields":[{"name":"CDPRODUTO","size":10},{"name":"NMPRODUTO","size":40}],)"
            R"("rows":[["1","Café \"forte\""],["O'B","linha\nnova"]]})");
}

TEST(PacketWriter, WritesChangePacketInOrder) {
  std::string out;
  PacketWriter w(out);
  w.BeginChanges(kFields);
  std::array<std::string_view, 2> a{"1", "x"};
  w.Change(ChangeOp::Delete, a);
  w.Change(ChangeOp::Insert, a);
  w.End();
  EXPECT_EQ(out,
            R"({"fields":[{"name":"CDPRODUTO","size":10},{"name":"NMPRODUTO","size":40}],)"
            R"("changes":[{"op":"delete","row":["1","x"]},{"op":"insert","row":["1","x"]}]})");
}

TEST(PacketWriter, EmptyPacketAndSecondPacketAppended) {
  std::string out = "[";
  PacketWriter w(out);
  w.BeginData({});
  w.End();
  out += ",";
  w.BeginData(kFields);
  w.End();
  out += "]";
  EXPECT_EQ(out, R"([{"fields":[],"rows":[]},{"fields":[{"name":"CDPRODUTO","size":10},)"
                 R"({"name":"NMPRODUTO","size":40}],"rows":[]}])");
}

TEST(PacketWriter, CallerMayDrainOutputBetweenRows) {
  std::string out;
  std::string sent;
  PacketWriter w(out);
  w.BeginData(kFields);
  for (int i = 0; i < 3; ++i) {
    std::string key = std::to_string(i);
    std::array<std::string_view, 2> row{key, "n"};
    w.Row(row);
    sent += out;
    out.clear();
  }
  w.End();
  sent += out;
  simdjson::ondemand::parser parser;
  simdjson::padded_string doc(sent);
  auto parsed = parser.iterate(doc);
  size_t count = 0;
  simdjson::ondemand::array rows;
  ASSERT_EQ(parsed["rows"].get_array().get(rows), simdjson::SUCCESS);
  ASSERT_EQ(rows.count_elements().get(count), simdjson::SUCCESS);
  EXPECT_EQ(count, 3u);
}

TEST(PacketWriter, ControlCharactersAndNulAreEscaped) {
  std::string out;
  PacketWriter::AppendJsonString(out, std::string_view("a\0b\x01\t", 5));
  EXPECT_EQ(out, R"("a\u0000b\u0001\t")");
}

TEST(PacketWriter, InvalidUtf8IsReplacedSoTheDocumentStaysReadable) {
  const std::vector<std::string> bad = {
      "\xC3",              // truncated two-byte sequence
      "ok\xFFok",          // byte that never appears in UTF-8
      "\xC0\xAF",          // overlong slash
      "\xED\xA0\x80",      // encoded surrogate
      "\xF4\x90\x80\x80",  // beyond U+10FFFF
      "\x80",              // stray continuation
  };
  for (const std::string& value : bad) {
    std::string out;
    PacketWriter w(out);
    w.BeginData(kFields);
    std::array<std::string_view, 2> row{value, "Ação"};
    w.Row(row);
    w.End();
    simdjson::ondemand::parser parser;
    simdjson::padded_string doc(out);
    auto parsed = parser.iterate(doc);
    std::string_view first;
    ASSERT_EQ(parsed["rows"].at(0).at(0).get_string().get(first), simdjson::SUCCESS) << out;
    EXPECT_NE(first.find("\xEF\xBF\xBD"), std::string_view::npos);
  }
  EXPECT_EQ(PacketWriter::SanitizeUtf8("ok\xFFok"), "ok\xEF\xBF\xBDok");
  EXPECT_EQ(PacketWriter::SanitizeUtf8("Ação €𝄞"), "Ação €𝄞");
}

TEST(PacketWriter, ValidTextBeyondAsciiGoesOutAsItStandsAndFaultsInItAreStillCaught) {
  // Copied straight: valid UTF-8 with nothing to escape (2-, 3- and 4-byte characters, at the
  // start, the middle and the end).
  for (const std::string value : {"São João", "é", "€ 5", "x𝄞", "Ação 7"}) {
    const std::string out = OneRowPacket(value);
    EXPECT_NE(out.find("[\"" + value + "\",\"k\"]"), std::string::npos) << out;
  }
  // Beyond ASCII together with what must be escaped, or with a bad byte: escaped or replaced.
  std::string quoted;
  PacketWriter::AppendJsonString(quoted, "Açaí \"bom\"\n");
  EXPECT_EQ(quoted, R"("Açaí \"bom\"\n")");
  std::string bad;
  PacketWriter q(bad);
  q.BeginData(kFields);
  std::array<std::string_view, 2> row{"São\xC3", "Ação\x01"};
  q.Row(row);
  q.End();
  EXPECT_NE(bad.find("São\xEF\xBF\xBD"), std::string::npos) << bad;
  EXPECT_NE(bad.find(R"(Ação\u0001)"), std::string::npos) << bad;
}

// Values are passed 16 bytes at a time while they are plain ASCII (a short value or the tail
// from a padded copy). A byte to escape, an accent or a bad byte anywhere (in a block, on its
// edge, in the tail, in a value shorter than a block) must come out exactly as the writer's
// careful path writes it.
TEST(PacketWriter, EveryFaultAtEveryPositionOfAValueIsWrittenAsTheCarefulPathWritesIt) {
  const std::vector<std::string> faults = {"\"", "\\", std::string(1, '\0'), "\x1f", "\x7f", "\xC3\xA7",
                                           "\xE2\x82\xAC", "\xF0\x9D\x84\x9E", "\xC3", "\xFF", "\x80",
                                           "\xE2\x82", "\xED\xA0\x80"};
  for (const size_t length : std::initializer_list<size_t>{0, 1, 14, 15, 16, 17, 40}) {
    const std::string background(length, 'x');
    for (const std::string& fault : faults) {
      for (size_t at = 0; at <= background.size(); ++at) {
        const std::string value = background.substr(0, at) + fault + background.substr(at);
        const std::string out = OneRowPacket(value);
        std::string expected = "[";
        PacketWriter::AppendJsonString(expected, value);
        expected += ",\"k\"]";
        EXPECT_NE(out.find(expected), std::string::npos)
            << "fault " << testing::PrintToString(fault) << " at " << at << " of " << length;
      }
    }
  }
}

TEST(PacketWriter, MisuseRaisesWireError) {
  std::string out;
  PacketWriter w(out);
  std::array<std::string_view, 1> narrow{"x"};
  std::array<std::string_view, 2> row{"x", "y"};
  EXPECT_THROW(w.Row(row), EWireError);
  EXPECT_THROW(w.End(), EWireError);
  w.BeginData(kFields);
  EXPECT_THROW(w.BeginData(kFields), EWireError);
  EXPECT_THROW(w.Row(narrow), EWireError);
  EXPECT_THROW(w.Change(ChangeOp::Insert, row), EWireError);
  w.End();
  EXPECT_FALSE(w.IsOpen());
}

}  // namespace
}  // namespace host::wire
