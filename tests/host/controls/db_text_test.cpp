// The data-bound label follows its record set's current row through the field's text event.
#include <gtest/gtest.h>

#include <string>

#include "host/controls/DBText.h"
#include "host/data/ClientDataSet.h"
#include "host/data/DataSource.h"

namespace host {
namespace {

TEST(DBTextTest, ShowsTheFieldOfTheCurrentRowAndAnnouncesChanges) {
  TClientDataSet cds("cds");
  TField* name = cds.AddField("NMPRODUTO", 50);
  cds.SetData(Variant::MakeDataPacket(R"({"fields":[{"name":"NMPRODUTO","size":50}],"rows":[["Arroz"],["Feij\u00e3o"]]})"));
  TDataSource dts("dts");
  dts.SetDataSet(&cds);
  TDBText label("dbtNome");
  int announced = 0;
  label.Subscribe([&](const std::string& p) { announced += p == "Text"; });
  EXPECT_EQ(label.Text(), "");
  label.SetDataSource(&dts);
  label.SetDataField("NMPRODUTO");
  EXPECT_EQ(label.Text(), "Arroz");
  cds.Next();
  EXPECT_EQ(label.Text(), "Feijão");
  name->OnGetText = [](TField* f, std::string& t, bool) { t = "[" + f->AsString() + "]"; };
  EXPECT_EQ(label.Text(), "[Feijão]");
  EXPECT_GE(announced, 3);
  cds.Close();
  EXPECT_EQ(label.Text(), "");
  EXPECT_FALSE(label.CanFocus());
}

}  // namespace
}  // namespace host
