// Editing a record set: the order of events and state changes, refusals by before-events,
// after-scroll occasions, emptiness while inserting, navigation.
#include <gtest/gtest.h>

#include "host/data/ClientDataSet.h"
#include "host/data/DataSource.h"
#include "tests/host/data/DataTestUtil.h"

namespace host {
namespace {

using test_util::Column;
using test_util::EventRecorder;
using test_util::Packet;

class EditingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ds.AddField("K", 10);
    ds.AddField("V", 10);
  }
  void Load(std::initializer_list<std::vector<std::string>> rows) {
    ds.SetData(Packet({"K", "V"}, rows));
  }
  TClientDataSet ds{"cds"};
};

TEST_F(EditingTest, LoadingReopensAndScrollsOnlyWhenThereAreRows) {
  EventRecorder rec(ds);
  Load({{"a", "1"}, {"b", "2"}});
  EXPECT_EQ(rec.Take(), "state:dsBrowse AfterOpen AfterScroll");
  EXPECT_EQ(ds.RecNo(), 1);
  EXPECT_TRUE(ds.Bof());
  EXPECT_FALSE(ds.Eof());

  // Reloading an open set closes and reopens it; an empty packet raises no after-scroll.
  Load({});
  EXPECT_EQ(rec.Take(), "state:dsInactive state:dsBrowse AfterOpen");
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_EQ(ds.RecNo(), 0);
  EXPECT_EQ(ds.FieldByName("K")->AsString(), "");
}

TEST_F(EditingTest, InsertPostAndCancelFollowThePlatformOrder) {
  Load({{"a", "1"}, {"b", "2"}});
  ds.Next();
  EventRecorder rec(ds);

  ds.Insert();
  EXPECT_EQ(rec.Take(), "BeforeInsert state:dsInsert AfterInsert AfterScroll");
  EXPECT_EQ(ds.RecNo(), 2);  // the new row stands before the row that was current
  EXPECT_EQ(ds.RowValues(), (std::vector<std::string>{"", ""}));
  ds.FieldByName("K")->SetAsString("n");
  ds.Post();
  EXPECT_EQ(rec.Take(), "BeforePost state:dsBrowse AfterPost");
  EXPECT_EQ(ds.FieldByName("K")->AsString(), "n");  // the posted row stays current
  EXPECT_EQ(Column(ds, "K"), "a|n|b");

  ds.Last();
  rec.Take();
  ds.Insert();
  ds.FieldByName("K")->SetAsString("x");
  ds.Cancel();
  EXPECT_EQ(rec.Take(),
            "BeforeInsert state:dsInsert AfterInsert AfterScroll state:dsBrowse AfterCancel "
            "AfterScroll");
  EXPECT_EQ(ds.FieldByName("K")->AsString(), "b");  // back on the row that was current
  EXPECT_EQ(ds.RecordCount(), 3);
}

TEST_F(EditingTest, AppendAddsAtTheEndAndCancelReturnsToTheLastRow) {
  Load({{"a", "1"}, {"b", "2"}});
  ds.Append();
  EXPECT_EQ(ds.RecNo(), 3);
  ds.Cancel();
  EXPECT_EQ(ds.RecNo(), 2);
  EXPECT_EQ(ds.FieldByName("K")->AsString(), "b");
}

TEST_F(EditingTest, PostAndCancelDoNothingOutsideEditOrInsert) {
  Load({{"a", "1"}});
  EventRecorder rec(ds);
  ds.Post();
  ds.Cancel();
  EXPECT_EQ(rec.Take(), "");
  EXPECT_EQ(ds.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(ds.ChangeCount(), 0);
}

TEST_F(EditingTest, BeforePostRefusalKeepsTheRowAndTheState) {
  Load({{"a", "1"}});
  ds.Insert();
  ds.FieldByName("K")->SetAsString("new");
  ds.BeforePost = [](TDataSet*) { Abort(); };
  EventRecorder probe(ds);  // replaces the handlers; re-install the refusal after it
  ds.BeforePost = [&](TDataSet*) {
    probe.Add("BeforePost");
    Abort();
  };
  EXPECT_THROW(ds.Post(), EAbort);
  EXPECT_EQ(probe.Take(), "BeforePost");
  EXPECT_EQ(ds.State(), TDataSetState::dsInsert);
  EXPECT_EQ(ds.FieldByName("K")->AsString(), "new");
  EXPECT_EQ(ds.ChangeCount(), 0);

  ds.BeforePost = nullptr;
  ds.Post();
  EXPECT_EQ(ds.ChangeCount(), 1);
}

TEST_F(EditingTest, WritingAStoredRowGoesThroughEditAndItsRefusal) {
  Load({{"a", "1"}});
  int beforeEdit = 0;
  ds.BeforeEdit = [&](TDataSet*) {
    ++beforeEdit;
    throw EPlatformError("stored rows are not edited");
  };
  EXPECT_THROW(ds.FieldByName("V")->SetAsString("9"), EPlatformError);
  EXPECT_EQ(beforeEdit, 1);
  EXPECT_EQ(ds.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(ds.FieldByName("V")->AsString(), "1");

  ds.BeforeEdit = nullptr;
  ds.FieldByName("V")->SetAsString("9");
  EXPECT_EQ(ds.State(), TDataSetState::dsEdit);
  ds.Cancel();
  EXPECT_EQ(ds.FieldByName("V")->AsString(), "1");  // cancel restores the stored value
}

TEST_F(EditingTest, WritingWithoutARowOrOnAClosedSetRaises) {
  EXPECT_THROW(ds.FieldByName("K")->SetAsString("x"), EDataSetError);  // closed
  EXPECT_EQ(ds.FieldByName("K")->AsString(), "");
  Load({});
  EXPECT_THROW(ds.FieldByName("K")->SetAsString("x"), EDataSetError);  // no current row
}

TEST_F(EditingTest, DeleteMovesToTheNextRowOrThePreviousWhenLast) {
  Load({{"a", "1"}, {"b", "2"}, {"c", "3"}});
  ds.Next();
  EventRecorder rec(ds);
  ds.Delete();
  EXPECT_EQ(rec.Take(), "BeforeDelete AfterDelete AfterScroll");
  EXPECT_EQ(ds.FieldByName("K")->AsString(), "c");
  ds.Delete();
  EXPECT_EQ(ds.FieldByName("K")->AsString(), "a");
  ds.Delete();
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_THROW(ds.Delete(), EDataSetError);
}

TEST_F(EditingTest, BeforeDeleteRefusalKeepsTheRow) {
  Load({{"a", "1"}});
  ds.BeforeDelete = [](TDataSet*) { Abort(); };
  EXPECT_THROW(ds.Delete(), EAbort);
  EXPECT_EQ(ds.RecordCount(), 1);
  EXPECT_EQ(ds.ChangeCount(), 0);
}

TEST_F(EditingTest, DeleteWhileInsertingCancelsTheInsertion) {
  Load({{"a", "1"}});
  ds.Insert();
  EventRecorder rec(ds);
  ds.Delete();
  EXPECT_EQ(rec.Take(), "state:dsBrowse AfterCancel AfterScroll");
  EXPECT_EQ(ds.RecordCount(), 1);
  EXPECT_EQ(ds.ChangeCount(), 0);
}

TEST_F(EditingTest, ARowBeingInsertedCountsAsARow) {
  Load({});
  EXPECT_TRUE(ds.IsEmpty());
  ds.Insert();
  EXPECT_FALSE(ds.IsEmpty());
  EXPECT_EQ(ds.RecordCount(), 1);
  EXPECT_EQ(ds.RecNo(), 1);
  ds.Cancel();
  EXPECT_TRUE(ds.IsEmpty());
}

TEST_F(EditingTest, AfterScrollOnlyWhenNavigationMovesAndNeverOnPost) {
  Load({{"a", "1"}, {"b", "2"}, {"c", "3"}});
  EventRecorder rec(ds);
  ds.First();  // already there
  ds.Prior();
  EXPECT_EQ(rec.Take(), "");
  EXPECT_TRUE(ds.Bof());
  ds.Next();
  ds.MoveBy(5);
  EXPECT_EQ(rec.Take(), "AfterScroll AfterScroll");
  EXPECT_TRUE(ds.Eof());
  EXPECT_EQ(ds.RecNo(), 3);
  ds.Next();
  EXPECT_EQ(rec.Take(), "");
  ds.SetRecNo(1);
  ds.SetRecNo(99);
  EXPECT_EQ(ds.RecNo(), 3);
  EXPECT_EQ(rec.Take(), "AfterScroll AfterScroll");
  EXPECT_EQ(ds.MoveBy(-1), -1);

  ds.Edit();
  ds.FieldByName("V")->SetAsString("x");
  ds.Post();
  EXPECT_EQ(rec.Take(), "AfterScroll BeforeEdit state:dsEdit BeforePost state:dsBrowse AfterPost");
}

TEST_F(EditingTest, NavigatingPostsAModifiedRowAndCancelsAnUntouchedInsertion) {
  Load({{"a", "1"}, {"b", "2"}});
  ds.Insert();
  ds.First();  // untouched insertion: cancelled
  EXPECT_EQ(ds.RecordCount(), 2);
  ds.Insert();
  ds.FieldByName("K")->SetAsString("n");
  ds.Last();  // modified: posted
  EXPECT_EQ(ds.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(Column(ds, "K"), "n|a|b");
}

TEST_F(EditingTest, ClosedSetRefusesNavigationAndEditing) {
  EXPECT_THROW(ds.First(), EDataSetError);
  EXPECT_THROW(ds.Insert(), EDataSetError);
  EXPECT_THROW(ds.Delete(), EDataSetError);
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_EQ(ds.RecordCount(), 0);
  EXPECT_TRUE(ds.Eof());
}

TEST_F(EditingTest, OpenGivesAnEmptySetAndCloseDiscardsTheRows) {
  EventRecorder rec(ds);
  ds.Open();
  EXPECT_EQ(rec.Take(), "state:dsBrowse AfterOpen");
  ds.Append();
  ds.FieldByName("K")->SetAsString("a");
  ds.Post();
  ds.Close();
  EXPECT_FALSE(ds.Active());
  EXPECT_EQ(ds.ChangeCount(), 0);
  ds.Open();
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_THROW(ds.AddField("LATE"), EDataSetError);
}

TEST_F(EditingTest, ReadOnlySetRefusesChanges) {
  Load({{"a", "1"}});
  ds.SetReadOnly(true);
  EXPECT_THROW(ds.Insert(), EDataSetError);
  EXPECT_THROW(ds.Append(), EDataSetError);
  EXPECT_THROW(ds.Edit(), EDataSetError);
  EXPECT_THROW(ds.Delete(), EDataSetError);
  EXPECT_THROW(ds.FieldByName("K")->SetAsString("b"), EDataSetError);
  EXPECT_EQ(ds.FieldByName("K")->AsString(), "a");
}

TEST_F(EditingTest, EditOnAnEmptySetBeginsAnInsertion) {
  Load({});
  ds.Edit();
  EXPECT_EQ(ds.State(), TDataSetState::dsInsert);
}

}  // namespace
}  // namespace host
