// Fields and data sources: truncation, the shown text, focus requests reaching grids, and what
// data links and data sources are told.
#include <gtest/gtest.h>

#include "host/data/ClientDataSet.h"
#include "host/data/DataSource.h"
#include "tests/host/data/DataTestUtil.h"

namespace host {
namespace {

using test_util::EventRecorder;
using test_util::Packet;

struct RecordingLink : TDataLink {
  std::string log;
  void DataChanged() override { log += "D"; }
  void ActiveRowChanged() override { log += "R"; }
  void StateChanged() override { log += "S"; }
  void FocusField(TField& field) override { log += "F:" + field.FieldName(); }
};

TEST(FieldTest, PropertiesAndLookup) {
  TClientDataSet ds("cds");
  TField* f = ds.AddField("NMPRODUTO", 50);
  EXPECT_EQ(f->DataSet(), &ds);
  EXPECT_EQ(f->Owner(), &ds);
  EXPECT_EQ(f->Index(), 0);
  EXPECT_EQ(f->DisplayWidth, 50);
  EXPECT_EQ(f->DisplayName(), "NMPRODUTO");
  f->DisplayLabel = "Nome";
  EXPECT_EQ(f->DisplayName(), "Nome");
  EXPECT_EQ(ds.FieldByName("nmProduto"), f);
  EXPECT_THROW(ds.FieldByName("X"), EDataSetError);
  EXPECT_THROW(ds.AddField("nmproduto", 3), EDataSetError);
  EXPECT_THROW(ds.AddField("Z", 0), EDataSetError);
}

TEST(FieldTest, WritingKeepsTheFirstSizeCharacters) {
  TClientDataSet ds;
  ds.AddField("CDFILIALDES", 4);
  ds.Open();
  ds.Append();
  auto* f = ds.FieldByName("CDFILIALDES");
  f->SetAsString("ABCDEFG");
  EXPECT_EQ(f->AsString(), "ABCD");
  f->SetAsString("çãõéx");
  EXPECT_EQ(f->AsString(), "çãõé");
  f->SetAsString(
      "ab\xff\xfe"
      "cd");  // stray bytes count as one character each
  EXPECT_EQ(f->AsString(), "ab\xff\xfe");
}

TEST(FieldTest, TextGoesThroughOnGetText) {
  TClientDataSet ds;
  TField* f = ds.AddField("NR", 20);
  ds.SetData(Packet({"NR:20"}, {{"12345678000190"}}));
  EXPECT_EQ(f->Text(true), "12345678000190");
  f->OnGetText = [](TField* sender, std::string& text, bool display) {
    text = (display ? "shown:" : "edit:") + sender->AsString();
  };
  EXPECT_EQ(f->Text(true), "shown:12345678000190");
  EXPECT_EQ(f->Text(false), "edit:12345678000190");
  EXPECT_EQ(f->AsString(), "12345678000190");
}

TEST(FieldTest, FocusControlReachesEveryLinkOfEverySource) {
  TClientDataSet ds;
  TField* f = ds.AddField("A", 5);
  TDataSource s1, s2;
  s1.SetDataSet(&ds);
  s2.SetDataSet(&ds);
  RecordingLink grid1, grid2;
  grid1.SetDataSource(&s1);
  grid2.SetDataSource(&s2);
  f->FocusControl();
  EXPECT_EQ(grid1.log, "F:A");
  EXPECT_EQ(grid2.log, "F:A");
}

TEST(DataSourceTest, StateChangesReachTheSourceAndItsLinks) {
  TClientDataSet ds;
  ds.AddField("A", 5);
  EventRecorder rec(ds);
  RecordingLink link;
  link.SetDataSource(&rec.Source());
  EXPECT_EQ(link.DataSet(), &ds);

  ds.SetData(Packet({"A"}, {{"1"}, {"2"}}));
  ds.Insert();
  ds.FieldByName("A")->SetAsString("3");
  ds.Post();
  ds.Edit();
  ds.Cancel();
  EXPECT_EQ(rec.Take(),
            "state:dsBrowse AfterOpen AfterScroll BeforeInsert state:dsInsert AfterInsert "
            "AfterScroll BeforePost state:dsBrowse AfterPost BeforeEdit state:dsEdit "
            "state:dsBrowse AfterCancel");
  link.log.clear();
  ds.Next();
  EXPECT_EQ(link.log, "R");
  ds.Close();
  EXPECT_EQ(rec.Source().State(), TDataSetState::dsInactive);
  EXPECT_EQ(link.log, "RSD");
}

TEST(DataSourceTest, EitherSideMayBeDestroyedFirst) {
  RecordingLink link;
  {
    TDataSource source;
    link.SetDataSource(&source);
    {
      TClientDataSet ds;
      ds.Open();
      source.SetDataSet(&ds);
      EXPECT_EQ(source.State(), TDataSetState::dsBrowse);
    }
    EXPECT_EQ(source.DataSet(), nullptr);
    EXPECT_EQ(source.State(), TDataSetState::dsInactive);
    TClientDataSet other;
    source.SetDataSet(&other);
    other.Open();  // source destroyed next, before `other`
  }
  EXPECT_EQ(link.DataSource(), nullptr);
  {
    TClientDataSet ds;
    TDataSource source;
    source.SetDataSet(&ds);
    {
      RecordingLink shortLived;
      shortLived.SetDataSource(&source);
    }
    EXPECT_TRUE(source.Links().empty());
    ds.Open();  // must not reach the destroyed link
  }
}

}  // namespace
}  // namespace host
