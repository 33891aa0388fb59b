// RefreshRows: the rows of some key values replaced by a packet's, placed as a whole load ordered
// by the key would place them, with the events, view and cursor of a load; and what it refuses.
#include <gtest/gtest.h>

#include "host/data/ClientDataSet.h"
#include "tests/host/data/DataTestUtil.h"

namespace host {
namespace {

using test_util::Column;
using test_util::EventRecorder;
using test_util::Packet;

class RefreshRowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ds.AddField("P", 10);
    ds.AddField("V", 4);
    ds.SetData(Packet({"P", "V"}, {{"a", "1"}, {"b", "1"}, {"b", "2"}, {"d", "1"}, {"f", "1"}}));
  }
  // Every row in row order, whatever the filter.
  std::string All() {
    const bool filtered = ds.Filtered();
    ds.SetFiltered(false);
    std::string out = Column(ds, "P") + " / " + Column(ds, "V");
    ds.SetFiltered(filtered);
    return out;
  }
  TClientDataSet ds;
};

TEST_F(RefreshRowsTest, ChangedKeysTakeThePacketsRowsWhereAWholeLoadWouldPutThem) {
  const std::vector<std::string> keys{"b", "e", "a", "z"};
  // b loses a row and gains one, e is new between d and f, a loses all, z had none and gets none;
  // a value longer than its field is cut as a load cuts it.
  ds.RefreshRows(Packet({"V", "P"}, {{"9", "b"}, {"12345", "b"}, {"3", "e"}}), "p", keys);
  EXPECT_EQ(All(), "b|b|d|e|f / 9|1234|1|3|1");
  EXPECT_EQ(ds.ChangeCount(), 0);
  // The same again changes nothing; the first and the last places work too.
  ds.RefreshRows(Packet({"P", "V"}, {{"0", "x"}, {"g", "y"}}), "P", std::vector<std::string>{"0", "g"});
  EXPECT_EQ(All(), "0|b|b|d|e|f|g / x|9|1234|1|3|1|y");
}

TEST_F(RefreshRowsTest, AFilteredSetEndsAsALoadLeavesItWithTheSameEvents) {
  ds.SetFilter("P = 'b'");
  ds.SetFiltered(true);
  ds.Last();
  EventRecorder events(ds);
  ds.RefreshRows(Packet({"P", "V"}, {{"b", "7"}, {"b", "8"}, {"b", "9"}}), "P", std::vector<std::string>{"b"});
  const std::string refreshed = events.Take();
  EXPECT_EQ(Column(ds, "V"), "7|8|9");
  EXPECT_EQ(ds.RecNo(), 1);

  TClientDataSet loaded;
  loaded.AddField("P", 10);
  loaded.AddField("V", 4);
  loaded.SetFilter("P = 'b'");
  loaded.SetFiltered(true);
  loaded.SetData(Packet({"P", "V"}, {{"b", "1"}}));
  EventRecorder loadEvents(loaded);
  loaded.SetData(Packet({"P", "V"}, {{"a", "1"}, {"b", "7"}, {"b", "8"}, {"b", "9"}}));
  EXPECT_EQ(refreshed, loadEvents.Take());
  EXPECT_EQ(refreshed, "state:dsInactive state:dsBrowse AfterOpen AfterScroll");
}

TEST_F(RefreshRowsTest, RowsPostedOutOfPlaceLeaveWithTheirKey) {
  // A row posted at the end (a new product's first row) is replaced where its key belongs.
  ds.Append();
  ds.FieldByName("P")->SetAsString("c");
  ds.Post();
  ds.MergeChangeLog();
  ds.RefreshRows(Packet({"P", "V"}, {{"c", "5"}}), "P", std::vector<std::string>{"c"});
  EXPECT_EQ(All(), "a|b|b|c|d|f / 1|1|2|5|1|1");
}

TEST_F(RefreshRowsTest, RowsReplacedAgainAndAgainLeaveTheSetAsALoad) {
  // Enough refreshes of one product that the rows replaced outnumber the live ones many times.
  ds.SetFilter("P = 'b'");
  ds.SetFiltered(true);
  std::string json = R"({"fields":[{"name":"P","size":10},{"name":"V","size":4}],"rows":[)";
  for (int n = 0; n < 200; ++n) {
    json += std::string(n ? "," : "") + R"(["b",")" + std::to_string(1000 + n) + R"("])";
  }
  json += "]}";
  for (int round = 0; round < 60; ++round) {
    ds.RefreshRows(Variant::MakeDataPacket(json), "P", std::vector<std::string>{"b"});
  }
  EXPECT_EQ(ds.RecordCount(), 200);
  EXPECT_EQ(ds.RecNo(), 1);
  ds.SetFilter("P = 'd'");
  EXPECT_EQ(Column(ds, "V"), "1");
  ds.SetFiltered(false);
  EXPECT_EQ(ds.RecordCount(), 203);
}

TEST_F(RefreshRowsTest, RefusalsChangeNothing) {
  const std::string before = All();
  const std::vector<std::string> b{"b"};
  EXPECT_THROW(ds.RefreshRows(Packet({"P", "V"}, {{"a", "5"}}), "P", b), EPacketError);  // not asked for
  EXPECT_THROW(ds.RefreshRows(Variant::MakeDataPacket("{\"fields\":[]"), "P", b), EPacketError);
  EXPECT_THROW(ds.RefreshRows(Variant::FromText("x"), "P", b), EPacketError);
  EXPECT_THROW(ds.RefreshRows(Packet({"P", "V"}, {}), "NOPE", b), EDataSetError);
  ds.Append();
  ds.FieldByName("P")->SetAsString("q");
  EXPECT_THROW(ds.RefreshRows(Packet({"P", "V"}, {}), "P", b), EDataSetError);  // inserting
  ds.Post();
  EXPECT_THROW(ds.RefreshRows(Packet({"P", "V"}, {}), "P", b), EDataSetError);  // a change not merged
  ds.MergeChangeLog();
  EXPECT_EQ(All(), "a|b|b|d|f|q / 1|1|2|1|1|");
  EXPECT_EQ(before, "a|b|b|d|f / 1|1|2|1|1");
}

}  // namespace
}  // namespace host
