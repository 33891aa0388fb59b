// Filters: the expression language and its errors, the rows shown, counted and navigated, the
// index kept across insertions, posts and deletions, and the after-scroll rule.
#include <gtest/gtest.h>

#include "host/data/ClientDataSet.h"
#include "host/data/FilterExpression.h"
#include "tests/host/data/DataTestUtil.h"

namespace host {
namespace {

using test_util::Column;
using test_util::EventRecorder;
using test_util::Packet;

TEST(FilterExpressionTest, ParsesQuotedTextWithDoubledQuotesAndBlanks) {
  const auto e = FilterExpression::Parse("  CDPRODUTODES   =  'O''Brien ''' ");
  EXPECT_EQ(e.FieldName(), "CDPRODUTODES");
  EXPECT_EQ(e.Value(), "O'Brien '");
  EXPECT_EQ(FilterExpression::Parse("K=''").Value(), "");
  EXPECT_EQ(FilterExpression::Parse("K = '='").Value(), "=");
}

TEST(FilterExpressionTest, AnythingElseRaisesAnErrorNamingTheExpression) {
  for (const char* bad : {"", "   ", "K", "K =", "K = a", "K = 'a", "K = 'a' and V = 'b'",
                          "K == 'a'", "K <> 'a'", "1K = 'a'", "K = \"a\"", "= 'a'", "K = 'a''"}) {
    try {
      FilterExpression::Parse(bad);
      ADD_FAILURE() << "accepted: " << bad;
    } catch (const EFilterError& e) {
      EXPECT_NE(std::string(e.what()).find(std::string("\"") + bad + "\""), std::string::npos)
          << e.what();
    }
  }
}

class FilterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ds.AddField("P", 10);
    ds.AddField("V", 10);
    ds.SetData(Packet({"P", "V"},
                      {{"1", "a"}, {"2", "b"}, {"1", "c"}, {"O'B", "d"}, {"2", "e"}, {"1", "f"}}));
  }
  void FilterOn(const std::string& key) {
    ds.SetFiltered(false);
    std::string quoted;
    for (char c : key) quoted += c == '\'' ? std::string("''") : std::string(1, c);
    ds.SetFilter("P = '" + quoted + "'");
    ds.SetFiltered(true);
  }
  TClientDataSet ds{"cds"};
};

TEST_F(FilterTest, ShowsCountsAndNavigatesOnlyMatchingRows) {
  FilterOn("1");
  EXPECT_EQ(ds.RecordCount(), 3);
  EXPECT_EQ(ds.RecNo(), 1);
  EXPECT_EQ(Column(ds, "V"), "a|c|f");
  FilterOn("O'B");
  EXPECT_EQ(Column(ds, "V"), "d");
  FilterOn("none");
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_EQ(ds.RecNo(), 0);
  ds.SetFiltered(false);
  EXPECT_EQ(ds.RecordCount(), 6);
}

TEST_F(FilterTest, ReFilteringPositionsOnTheFirstRowWithoutAfterScroll) {
  FilterOn("1");
  ds.Last();
  EventRecorder rec(ds);
  FilterOn("2");
  EXPECT_EQ(rec.Take(), "");
  EXPECT_EQ(ds.RecNo(), 1);
  EXPECT_EQ(ds.FieldByName("V")->AsString(), "b");
  // Switching on again re-evaluates even with the same expression.
  ds.Last();
  ds.SetFiltered(true);
  EXPECT_EQ(ds.RecNo(), 1);
}

TEST_F(FilterTest, FieldNamesMatchInAnyCaseAndUnknownFieldsRaise) {
  ds.SetFilter("p = '2'");
  ds.SetFiltered(true);
  EXPECT_EQ(ds.RecordCount(), 2);
  EXPECT_THROW(ds.SetFilter("MISSING = '1'"), EFilterError);
  EXPECT_EQ(ds.Filter(), "p = '2'");  // the previous filter stays
  EXPECT_EQ(ds.RecordCount(), 2);
  EXPECT_THROW(ds.SetFilter("P = "), EFilterError);
  EXPECT_EQ(ds.Filter(), "p = '2'");

  ds.SetFiltered(false);
  ds.SetFilter("MISSING = '1'");  // not evaluated while filtering is off
  EXPECT_THROW(ds.SetFiltered(true), EFilterError);
  EXPECT_FALSE(ds.Filtered());
  EXPECT_EQ(ds.RecordCount(), 6);
}

TEST_F(FilterTest, IndexFollowsInsertionsPostsAndDeletions) {
  FilterOn("1");
  ds.Next();  // on "c"
  ds.Insert();
  EXPECT_EQ(ds.RecordCount(), 4);  // the row being inserted is visible
  ds.FieldByName("P")->SetAsString("1");
  ds.FieldByName("V")->SetAsString("n");
  ds.Post();
  EXPECT_EQ(ds.FieldByName("V")->AsString(), "n");
  EXPECT_EQ(Column(ds, "V"), "a|n|c|f");

  FilterOn("2");
  FilterOn("1");  // taken from the index again: the posted row is there, in its place
  EXPECT_EQ(Column(ds, "V"), "a|n|c|f");

  ds.Next();
  ds.Delete();  // "n"
  FilterOn("2");
  FilterOn("1");
  EXPECT_EQ(Column(ds, "V"), "a|c|f");

  // A stored row edited to another key moves to that key's rows.
  ds.FieldByName("P")->SetAsString("2");
  ds.Post();
  FilterOn("2");
  EXPECT_EQ(Column(ds, "V"), "a|b|e");
}

TEST_F(FilterTest, APostedRowOutsideTheFilterLeavesTheViewWithoutAfterScroll) {
  FilterOn("1");
  ds.Next();  // on "c"
  ds.Insert();
  ds.FieldByName("P")->SetAsString("9");
  ds.FieldByName("V")->SetAsString("x");
  EventRecorder rec(ds);
  ds.Post();
  EXPECT_EQ(rec.Take(), "BeforePost state:dsBrowse AfterPost");
  EXPECT_EQ(ds.RecordCount(), 3);
  EXPECT_EQ(ds.FieldByName("V")->AsString(), "c");  // the row after it
  EXPECT_EQ(DescribeChanges(ds), "insert(9,x)");
  FilterOn("9");
  EXPECT_EQ(Column(ds, "V"), "x");
}

TEST_F(FilterTest, InsertingIntoAnEmptyViewAndCancelling) {
  FilterOn("");
  EXPECT_TRUE(ds.IsEmpty());
  ds.Insert();
  EXPECT_FALSE(ds.IsEmpty());
  EXPECT_EQ(ds.RecordCount(), 1);
  ds.Cancel();
  EXPECT_TRUE(ds.IsEmpty());
  ds.SetFiltered(false);
  EXPECT_EQ(ds.RecordCount(), 6);
}

TEST_F(FilterTest, LoadingKeepsFilterAndFilteredAndUsesTheNewRows) {
  FilterOn("2");
  EventRecorder rec(ds);
  ds.SetData(Packet({"P", "V"}, {{"2", "x"}, {"1", "y"}, {"2", "z"}}));
  EXPECT_EQ(rec.Take(), "state:dsInactive state:dsBrowse AfterOpen AfterScroll");
  EXPECT_TRUE(ds.Filtered());
  EXPECT_EQ(ds.Filter(), "P = '2'");
  EXPECT_EQ(Column(ds, "V"), "x|z");
  rec.Take();
  // A packet without a visible row raises no after-scroll.
  ds.SetData(Packet({"P", "V"}, {{"1", "y"}}));
  EXPECT_EQ(rec.Take(), "state:dsInactive state:dsBrowse AfterOpen");
  EXPECT_TRUE(ds.IsEmpty());
}

TEST_F(FilterTest, RowsGroupedByKeyAreIndexedWhileLoading) {
  FilterOn("1");
  ds.SetData(Packet({"P", "V"}, {{"1", "a"}, {"1", "b"}, {"2", "c"}, {"2", "d"}, {"1", "e"}}));
  EXPECT_EQ(Column(ds, "V"), "a|b|e");
  FilterOn("2");
  EXPECT_EQ(Column(ds, "V"), "c|d");
}

TEST_F(FilterTest, DeletingTheLastVisibleRowMovesBack) {
  FilterOn("1");
  ds.Last();
  ds.Delete();
  EXPECT_EQ(ds.FieldByName("V")->AsString(), "c");
  EXPECT_EQ(ds.RecordCount(), 2);
  ds.SetFiltered(false);
  EXPECT_EQ(ds.RecordCount(), 5);
}

TEST_F(FilterTest, SettingTheFilterEndsAPendingInsertion) {
  FilterOn("1");
  ds.Insert();
  ds.FieldByName("P")->SetAsString("1");
  FilterOn("1");  // the modified row is posted first
  EXPECT_EQ(ds.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(ds.RecordCount(), 4);
  EXPECT_EQ(ds.ChangeCount(), 1);
}

TEST_F(FilterTest, ManyInsertionsAtTheSamePlaceKeepTheirOrder) {
  // Forces the sequence numbers between two rows to run out and be renumbered.
  FilterOn("1");
  ds.Next();  // on "c"
  for (int i = 0; i < 40; ++i) {
    ds.Insert();
    ds.FieldByName("P")->SetAsString("1");
    ds.FieldByName("V")->SetAsString(std::to_string(i));
    ds.Post();
  }
  std::string expected = "a";
  for (int i = 39; i >= 0; --i) expected += "|" + std::to_string(i);
  expected += "|c|f";
  FilterOn("2");
  FilterOn("1");
  EXPECT_EQ(Column(ds, "V"), expected);
}

}  // namespace
}  // namespace host
