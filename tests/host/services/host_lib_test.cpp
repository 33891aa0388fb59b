#include "host/services/HostLib.h"

#include <gtest/gtest.h>

#include "host/services/ScriptedHost.h"

namespace host {
namespace {

using Lines = std::vector<std::string>;

class CheckResultServTest : public ::testing::Test {
 protected:
  void SetUp() override { SetHostServices(&host); }
  void TearDown() override { SetHostServices(nullptr); }
  static Variant Raw(std::string json) { return Variant::FromText(std::move(json)); }
  ScriptedHost host;
};

TEST_F(CheckResultServTest, ReturnsTheDataOfASuccessfulResult) {
  Variant data = CheckResultServ(Raw(R"({"ok":true,"data":[{"fields":[],"rows":[]},"x"]})"));
  ASSERT_TRUE(data.IsArray());
  EXPECT_EQ(data.Count(), 2u);
  EXPECT_EQ(data[0].Kind(), VariantKind::DataPacket);
  EXPECT_EQ(data[1].AsText(), "x");
  EXPECT_TRUE(host.Log().empty());
}

TEST_F(CheckResultServTest, RefusedResultIsReportedThenRaised) {
  try {
    CheckResultServ(Raw(R"({"ok":false,"error":"Fornecedor já cadastrado para o produto."})"),
                    true, 0);
    FAIL() << "no error";
  } catch (const ERemoteError& e) {
    EXPECT_STREQ(e.what(), "Fornecedor já cadastrado para o produto.");
  }
  EXPECT_EQ(host.Log(), (Lines{"message: Fornecedor já cadastrado para o produto."}));
}

TEST_F(CheckResultServTest, BrokenResultsNeverPassAsSuccess) {
  for (const Variant& raw : {Raw("not json"), Raw(R"({"data":1})"), Variant(),
                             Variant::FromInt(1), Raw(R"({"ok":false})")}) {
    EXPECT_THROW(CheckResultServ(raw), ERemoteError) << raw.DebugString();
  }
  EXPECT_EQ(host.Log().size(), 5u);
  // Without reporting, it only raises.
  host.ClearLog();
  EXPECT_THROW(CheckResultServ(Raw("[]"), false, 0), ERemoteError);
  EXPECT_TRUE(host.Log().empty());
}

TEST(HostTextTest, EmptyString) {
  EXPECT_TRUE(EmptyString(""));
  EXPECT_TRUE(EmptyString("  \t\r\n"));
  EXPECT_FALSE(EmptyString(" 0 "));
  EXPECT_FALSE(EmptyString("ç"));
}

TEST(HostTextTest, AjustaCutsLongTextAndLeavesShortText) {
  EXPECT_EQ(Ajusta("ABCDEFG", 4), "ABCD");
  EXPECT_EQ(Ajusta("AB", 4), "AB");
  EXPECT_EQ(Ajusta("ação", 2), "aç");
  EXPECT_EQ(Ajusta("abc", 0), "");
  EXPECT_EQ(Ajusta("abc", -1), "");
}

TEST(HostTextTest, PictPessByPersonType) {
  EXPECT_EQ(PictPess("J"), "99.999.999/9999-99;0;_");
  EXPECT_EQ(PictPess("F"), "999.999.999-99;0;_");
  EXPECT_EQ(PictPess(""), "");
  EXPECT_EQ(PictPess("X"), "");
}

}  // namespace
}  // namespace host
