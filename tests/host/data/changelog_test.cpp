// The change log: what ChangeCount, Delta and DescribeChanges report across insertions,
// deletions, edits, merges and loads.
#include <gtest/gtest.h>

#include "host/data/ClientDataSet.h"
#include "host/wire/ChangePacketReader.h"
#include "tests/host/data/DataTestUtil.h"

namespace host {
namespace {

using test_util::Packet;

class ChangeLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ds.AddField("K", 10);
    ds.AddField("V", 10);
    ds.SetData(Packet({"K", "V"}, {{"a", "1"}, {"b", "2"}}));
  }
  void Add(const std::string& k, const std::string& v) {
    ds.Append();
    ds.FieldByName("K")->SetAsString(k);
    ds.FieldByName("V")->SetAsString(v);
    ds.Post();
  }
  // Deletes the visible row whose K is k.
  void Remove(const std::string& k) {
    for (ds.First(); !ds.Eof(); ds.Next()) {
      if (ds.FieldByName("K")->AsString() == k) {
        ds.Delete();
        return;
      }
    }
    FAIL() << "no row " << k;
  }
  TClientDataSet ds{"cds"};
};

TEST_F(ChangeLogTest, InsertsAndDeletesAreLoggedInOrderWithTheirValues) {
  Add("c", "3");
  Remove("a");
  EXPECT_EQ(ds.ChangeCount(), 2);
  EXPECT_EQ(DescribeChanges(ds), "insert(c,3) delete(a,1)");
  EXPECT_EQ(ds.Delta().Kind(), VariantKind::ChangePacket);
  EXPECT_EQ(ds.Delta().PacketJson(),
            R"({"fields":[{"name":"K","size":10},{"name":"V","size":10}],"changes":[)"
            R"({"op":"insert","row":["c","3"]},{"op":"delete","row":["a","1"]}]})");
}

TEST_F(ChangeLogTest, DeltaReadsBackThroughTheServersChangePacketReader) {
  Add("c\"q", "ç");
  Remove("b");
  const auto packet = wire::ChangePacketReader::Read(ds.Delta().PacketJson());
  ASSERT_EQ(packet.fields.size(), 2u);
  EXPECT_EQ(packet.fields[0].name, "K");
  EXPECT_EQ(packet.fields[0].size, 10);
  ASSERT_EQ(packet.changes.size(), 2u);
  EXPECT_EQ(packet.changes[0].op, wire::ChangeOp::Insert);
  EXPECT_EQ(packet.changes[0].values, (std::vector<std::string>{"c\"q", "ç"}));
  EXPECT_EQ(packet.changes[1].op, wire::ChangeOp::Delete);
  EXPECT_EQ(packet.changes[1].values, (std::vector<std::string>{"b", "2"}));
}

TEST_F(ChangeLogTest, ARowInsertedThenDeletedBeforeAMergeLeavesNoTrace) {
  Add("c", "3");
  Add("d", "4");
  Remove("c");
  EXPECT_EQ(DescribeChanges(ds), "insert(d,4)");
  Remove("d");
  EXPECT_EQ(ds.ChangeCount(), 0);
  EXPECT_EQ(ds.Delta().PacketJson(),
            R"({"fields":[{"name":"K","size":10},{"name":"V","size":10}],"changes":[]})");
}

TEST_F(ChangeLogTest, MergeMakesChangesStoredSoALaterDeleteIsLogged) {
  Add("c", "3");
  ds.MergeChangeLog();
  EXPECT_EQ(ds.ChangeCount(), 0);
  Remove("c");
  EXPECT_EQ(DescribeChanges(ds), "delete(c,3)");
  ds.MergeChangeLog();
  EXPECT_EQ(test_util::Column(ds, "K"), "a|b");
  EXPECT_EQ(ds.ChangeCount(), 0);
}

TEST_F(ChangeLogTest, AnUnpostedInsertionIsNotAChange) {
  ds.Insert();
  ds.FieldByName("K")->SetAsString("x");
  EXPECT_EQ(ds.ChangeCount(), 0);
  ds.Cancel();
  EXPECT_EQ(ds.ChangeCount(), 0);
}

TEST_F(ChangeLogTest, EditingAStoredRowTravelsAsDeleteOfOldAndInsertOfNew) {
  ds.Edit();
  ds.FieldByName("V")->SetAsString("9");
  EXPECT_EQ(DescribeChanges(ds), "");
  ds.Post();
  EXPECT_EQ(DescribeChanges(ds), "delete(a,1) insert(a,9)");
  // Editing it again changes only the pending insert; deleting it keeps the stored row's delete.
  ds.FieldByName("V")->SetAsString("8");
  ds.Post();
  EXPECT_EQ(DescribeChanges(ds), "delete(a,1) insert(a,8)");
  ds.Delete();
  EXPECT_EQ(DescribeChanges(ds), "delete(a,1)");
}

TEST_F(ChangeLogTest, DeletingARowUnderEditLogsItsStoredValues) {
  ds.FieldByName("V")->SetAsString("half-typed");
  ds.Delete();
  EXPECT_EQ(DescribeChanges(ds), "delete(a,1)");
  EXPECT_EQ(ds.State(), TDataSetState::dsBrowse);
}

TEST_F(ChangeLogTest, WithLoggingOffChangesApplyAsIfMerged) {
  ds.SetLogChanges(false);
  Add("c", "3");
  Remove("a");
  EXPECT_EQ(ds.ChangeCount(), 0);
  EXPECT_EQ(test_util::Column(ds, "K"), "b|c");
  ds.SetLogChanges(true);
  Remove("c");
  EXPECT_EQ(DescribeChanges(ds), "delete(c,3)");
}

TEST_F(ChangeLogTest, LoadingEmptiesTheLog) {
  Add("c", "3");
  ds.SetData(Packet({"K", "V"}, {{"z", "0"}}));
  EXPECT_EQ(ds.ChangeCount(), 0);
  EXPECT_EQ(DescribeChanges(ds), "");
}

TEST_F(ChangeLogTest, DataHoldsPostedRowsButNotOneBeingInserted) {
  Add("c", "3");
  Remove("a");
  ds.Insert();
  ds.FieldByName("K")->SetAsString("pending");
  TClientDataSet copy;
  copy.SetData(ds.Data());
  EXPECT_EQ(test_util::Column(copy, "K"), "b|c");
  EXPECT_EQ(copy.ChangeCount(), 0);
}

TEST_F(ChangeLogTest, DataOfARowUnderEditIsItsStoredValue) {
  ds.FieldByName("V")->SetAsString("9");
  TClientDataSet copy;
  copy.SetData(ds.Data());
  EXPECT_EQ(test_util::Column(copy, "V"), "1|2");
}

}  // namespace
}  // namespace host
