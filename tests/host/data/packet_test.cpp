// Reading data packets into record sets: field matching, nulls, truncation, record sets that
// take the packet's fields, malformed packets (which must leave the set exactly as it was), and
// round trips through Data().
#include <gtest/gtest.h>

#include "host/data/ClientDataSet.h"
#include "tests/host/data/DataTestUtil.h"

namespace host {
namespace {

using test_util::Column;
using test_util::Packet;

Variant Json(const std::string& text) {
  return Variant::MakeDataPacket(text);
}

TEST(PacketTest, FieldsMatchByNameInAnyOrderAndCase) {
  TClientDataSet ds;
  ds.AddField("A", 5);
  ds.AddField("B", 5);
  ds.AddField("C", 5);
  ds.SetData(
      Json(R"({"fields":[{"name":"c","size":5},{"name":"X","size":3},{"name":"A","size":5}],)"
           R"("rows":[["c1","x1","a1"],["c2",null,"a2"]]})"));
  EXPECT_EQ(ds.RecordCount(), 2);
  EXPECT_EQ(ds.RowValues(), (std::vector<std::string>{"a1", "", "c1"}));  // B absent: empty
  EXPECT_EQ(ds.FindField("X"), nullptr);                                  // unknown: ignored
}

TEST(PacketTest, ARecordSetWithoutFieldsTakesThePacketsFields) {
  TClientDataSet ds;
  ds.SetData(Packet({"CDPRODUTO:10", "NMPRODUTO:50"}, {{"1", "Arroz"}}));
  ASSERT_EQ(ds.FieldCount(), 2);
  EXPECT_EQ(ds.Fields()[1]->FieldName(), "NMPRODUTO");
  EXPECT_EQ(ds.Fields()[1]->Size(), 50);
  EXPECT_EQ(ds.FieldByName("nmproduto")->AsString(), "Arroz");
}

TEST(PacketTest, ValuesLongerThanTheFieldKeepTheirFirstCharacters) {
  TClientDataSet ds;
  ds.AddField("F", 4);
  ds.SetData(Packet({"F:40"}, {{"abcdefgh"}, {"ação!"}, {"ab"}}));
  EXPECT_EQ(Column(ds, "F"), "abcd|ação|ab");  // characters, not bytes: no split character
}

TEST(PacketTest, EscapesAreDecoded) {
  TClientDataSet ds;
  ds.SetData(Json(R"({"fields":[{"name":"F","size":20}],"rows":[["a\"b\\c\u00e7\n"]]})"));
  EXPECT_EQ(ds.FieldByName("F")->AsString(), "a\"b\\cç\n");
}

TEST(PacketTest, BlanksAroundValuesAndMixedEscapes) {
  TClientDataSet ds;
  ds.SetData(
      Json("{ \"fields\" : [ {\"name\":\"A\"} , {\"name\":\"B\"}, {\"name\":\"C\"} ] ,\n"
           "  \"rows\" : [ [ \"a \" ,\t\"b\\\"\"\n, null ] ,[\"\",\" \",\"\\\\\"] ] }\n"));
  EXPECT_EQ(ds.RowValues(), (std::vector<std::string>{"a ", "b\"", ""}));
  ds.Next();
  EXPECT_EQ(ds.RowValues(), (std::vector<std::string>{"", " ", "\\"}));
}

TEST(PacketTest, ManyRowsLoadInOrder) {
  std::string json = R"({"fields":[{"name":"N","size":6}],"rows":[)";
  for (int i = 0; i < 5000; ++i) json += (i ? ",[\"" : "[\"") + std::to_string(i) + "\"]";
  json += "]}";
  TClientDataSet ds;
  ds.SetData(Json(json));
  ASSERT_EQ(ds.RecordCount(), 5000);
  ds.SetRecNo(4321);
  EXPECT_EQ(ds.FieldByName("N")->AsString(), "4320");
  ds.Last();
  EXPECT_EQ(ds.FieldByName("N")->AsString(), "4999");
}

TEST(PacketTest, RoundTripThroughDataKeepsRowsAndFields) {
  TClientDataSet a;
  a.SetData(Packet({"K:3", "V:30"}, {{"1", "Razão \"Social\""}, {"2", ""}, {"3", "x\\y"}}));
  TClientDataSet b;
  b.SetData(a.Data());
  EXPECT_EQ(Column(b, "V"), "Razão \"Social\"||x\\y");
  EXPECT_EQ(b.FieldByName("K")->Size(), 3);
  EXPECT_EQ(a.Data().PacketJson(), b.Data().PacketJson());
}

class MalformedPacketTest : public ::testing::TestWithParam<const char*> {};

TEST_P(MalformedPacketTest, RaisesAndLeavesTheRecordSetAsItWas) {
  TClientDataSet ds("cdsX");
  ds.AddField("A", 5);
  ds.AddField("B", 5);
  ds.SetData(Packet({"A", "B"}, {{"a1", "b1"}, {"a2", "b2"}}));
  ds.SetFilter("A = 'a2'");
  ds.SetFiltered(true);
  ds.Append();
  ds.FieldByName("A")->SetAsString("a2");
  ds.Post();
  const std::string before = DescribeChanges(ds);
  int events = 0;
  ds.AfterOpen = ds.AfterScroll = [&](TDataSet*) { ++events; };

  try {
    ds.SetData(Json(GetParam()));
    ADD_FAILURE() << "accepted: " << GetParam();
  } catch (const EPacketError& e) {
    EXPECT_NE(std::string(e.what()).find("data packet"), std::string::npos) << e.what();
  }
  EXPECT_EQ(events, 0);
  EXPECT_EQ(ds.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(ds.RecordCount(), 2);
  EXPECT_EQ(ds.FieldByName("A")->AsString(), "a2");
  EXPECT_EQ(DescribeChanges(ds), before);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MalformedPacketTest,
    ::testing::Values("", "[]", "{}", "null", "{\"fields\":[]}", "{\"rows\":[]}",
                      R"({"rows":[],"fields":[]})",  // rows before fields
                      R"({"fields":{},"rows":[]})", R"({"fields":[1],"rows":[]})",
                      R"({"fields":[{"size":3}],"rows":[]})",               // no name
                      R"({"fields":[{"name":"A","size":"3"}],"rows":[]})",  // size not a number
                      R"({"fields":[{"name":"A","size":0}],"rows":[]})",
                      R"({"fields":[{"name":"A"},{"name":"a"}],"rows":[]})",       // duplicate
                      R"({"fields":[{"name":"A"}],"rows":[["x","y"]]})",           // too wide
                      R"({"fields":[{"name":"A"},{"name":"B"}],"rows":[["x"]]})",  // too narrow
                      R"({"fields":[{"name":"A"}],"rows":[[1]]})",                 // not a string
                      R"({"fields":[{"name":"A"}],"rows":[["x"],"y"]})",  // row not an array
                      R"({"fields":[{"name":"A"}],"rows":[["x"]]} trailing)",
                      R"({"fields":[{"name":"A"}],"rows":[["x"]]}{})",
                      R"({"fields":[{"name":"A"}],"rows":[["x"])",                // truncated
                      R"({"fields":[{"name":"A"}],"rows":[["x]]})",               // unclosed string
                      "{\"fields\":[{\"name\":\"A\"}],\"rows\":[[\"\xff\"]]}"));  // invalid UTF-8

TEST(PacketTest, OnlyDataPacketsLoad) {
  TClientDataSet ds;
  EXPECT_THROW(ds.SetData(Variant()), EPacketError);
  EXPECT_THROW(ds.SetData(Variant::FromText("{}")), EPacketError);
  EXPECT_THROW(ds.SetData(Variant::MakeChangePacket(R"({"fields":[],"changes":[]})")),
               EPacketError);
  EXPECT_FALSE(ds.Active());
}

TEST(PacketTest, LoadingAFilteredSetLackingTheFilterFieldRaisesAndChangesNothing) {
  TClientDataSet ds;
  ds.SetFilter("P = '1'");
  ds.SetFiltered(true);
  EXPECT_THROW(ds.SetData(Packet({"Q"}, {{"1"}})), EFilterError);
  EXPECT_FALSE(ds.Active());
  EXPECT_EQ(ds.FieldCount(), 0);
}

TEST(PacketTest, BulkLoadReplacesContentLikeAPacket) {
  TClientDataSet ds;
  ds.AddField("K", 2);
  ds.AddField("V", 10);
  ds.SetFilter("K = 'ab'");
  ds.SetFiltered(true);
  int scrolls = 0;
  ds.AfterScroll = [&](TDataSet*) { ++scrolls; };
  ds.BeginLoad();
  const std::string_view r1[] = {"abc", "1"};
  const std::string_view r2[] = {"x", "2"};
  ds.LoadRow(r1);
  ds.LoadRow(r2);
  EXPECT_FALSE(ds.Active());  // nothing visible until EndLoad
  const std::string_view wrong[] = {"only one"};
  EXPECT_THROW(ds.LoadRow(wrong), EDataSetError);
  ds.EndLoad();
  EXPECT_EQ(scrolls, 1);
  EXPECT_EQ(ds.RowValues(), (std::vector<std::string>{"ab", "1"}));  // truncated, filtered
  EXPECT_THROW(ds.EndLoad(), EDataSetError);
  EXPECT_THROW(ds.LoadRow(r1), EDataSetError);

  ds.BeginLoad();
  ds.LoadRow(r2);
  ds.CancelLoad();
  EXPECT_EQ(ds.RecordCount(), 1);
}

}  // namespace
}  // namespace host
