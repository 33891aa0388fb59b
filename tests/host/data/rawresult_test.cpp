// Reading raw results of remote calls into variants, in place or through one padded copy.
#include "host/data/RawResult.h"

#include <gtest/gtest.h>

#include "host/data/ClientDataSet.h"

namespace host {
namespace {

std::shared_ptr<const std::string> Padded(const std::string& text) {
  auto s = std::make_shared<std::string>();
  s->reserve(text.size() + kPacketPadding);
  s->assign(text);
  return s;
}

TEST(RawResultTest, ArrayOfPacketsSharesTheBodyWithoutCopying) {
  const auto body =
      Padded(R"({"ok":true,"data":[{"fields":[{"name":"A","size":3}],"rows":[["x"]]},)"
             R"( {"rows":[],"fields":[{"name":"B"}]}, "t", 42, false, null]})");
  const RawResult r = ParseRawResult(body);
  ASSERT_TRUE(r.ok);
  ASSERT_EQ(r.data.Count(), 6u);
  const Variant& p = r.data[0];
  EXPECT_EQ(p.Kind(), VariantKind::DataPacket);
  EXPECT_EQ(p.PacketBuffer(), body);  // same buffer, no copy
  EXPECT_EQ(p.PacketJson(), R"({"fields":[{"name":"A","size":3}],"rows":[["x"]]})");
  EXPECT_EQ(r.data[1].Kind(), VariantKind::DataPacket);
  EXPECT_EQ(r.data[2].AsText(), "t");
  EXPECT_EQ(r.data[3].AsInt(), 42);
  EXPECT_FALSE(r.data[4].AsBool());
  EXPECT_TRUE(r.data[5].IsNull());
  EXPECT_THROW(r.data[6], EVariantError);

  TClientDataSet ds;
  ds.SetData(p);
  EXPECT_EQ(ds.FieldByName("A")->AsString(), "x");
}

TEST(RawResultTest, UnpaddedBodyIsCopiedOnce) {
  auto body = std::make_shared<std::string>(R"({"ok":true,"data":{"fields":[],"rows":[]}})");
  body->shrink_to_fit();
  const RawResult r = ParseRawResult(Variant::FromText(body));
  ASSERT_EQ(r.data.Kind(), VariantKind::DataPacket);
  EXPECT_NE(r.data.PacketBuffer(), body);
  EXPECT_EQ(r.data.PacketJson(), R"({"fields":[],"rows":[]})");
}

TEST(RawResultTest, RefusalCarriesItsMessage) {
  const RawResult r = ParseRawResult(Padded(R"({"ok":false,"error":"Fornecedor já cadastrado"})"));
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, "Fornecedor já cadastrado");
  EXPECT_TRUE(r.data.IsNull());
  EXPECT_FALSE(ParseRawResult(Padded(R"({"ok":false})")).error.empty());
}

TEST(RawResultTest, ScalarsAndMissingData) {
  EXPECT_EQ(ParseRawResult(Padded(R"({"ok":true,"data":"texto"})")).data.AsText(), "texto");
  EXPECT_EQ(ParseRawResult(Padded(R"({"data":-7,"ok":true})")).data.AsInt(), -7);
  EXPECT_TRUE(ParseRawResult(Padded(R"({"ok":true})")).data.IsNull());
}

TEST(RawResultTest, AnythingElseRaisesAClearError) {
  for (const char* bad : {"", "[]", "{}", R"({"ok":1})", R"({"ok":true,"data":{"a":1}})",
                          R"({"ok":true,"data":[{"fields":[]}]})", R"({"ok":true,"data":1.5})",
                          R"({"ok":true,"data":99999999999999999999})", R"({"ok":false,"error":3})",
                          R"({"ok":true} x)", R"({"ok":true,"data":[1,]})", R"({"ok":tru})"}) {
    try {
      ParseRawResult(Padded(bad));
      ADD_FAILURE() << "accepted: " << bad;
    } catch (const EPacketError& e) {
      EXPECT_NE(std::string(e.what()).find("raw result"), std::string::npos) << e.what();
    }
  }
  EXPECT_THROW(ParseRawResult(std::shared_ptr<const std::string>()), EPacketError);
  EXPECT_THROW(ParseRawResult(Variant::FromInt(1)), EVariantError);
}

}  // namespace
}  // namespace host
