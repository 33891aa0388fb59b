// Variants: kinds, reading as the wrong kind, array bounds, and the padding rule of packets.
#include "host/data/Variant.h"

#include <gtest/gtest.h>

namespace host {
namespace {

TEST(VariantTest, ReadingAsTheWrongKindRaises) {
  EXPECT_TRUE(Variant().IsNull());
  EXPECT_EQ(Variant().AsText(), "");  // null reads as empty text
  EXPECT_THROW(Variant().AsInt(), EVariantError);
  EXPECT_THROW(Variant::FromInt(1).AsText(), EVariantError);
  EXPECT_THROW(Variant::FromText("1").AsInt(), EVariantError);
  EXPECT_THROW(Variant::FromText("1").Count(), EVariantError);
  EXPECT_THROW(Variant::FromBool(true).PacketJson(), EVariantError);
  EXPECT_TRUE(Variant::FromBool(true).AsBool());
}

TEST(VariantTest, ArrayElementsAreBoundsChecked) {
  const Variant a = Variant::FromArray({Variant::FromInt(1), Variant::FromText("x")});
  EXPECT_EQ(a.Count(), 2u);
  EXPECT_EQ(a.LowBound(), 0);
  EXPECT_EQ(a.HighBound(), 1);
  EXPECT_EQ(a[1].AsText(), "x");
  try {
    a.Item(2);
    ADD_FAILURE();
  } catch (const EVariantError& e) {
    EXPECT_STREQ(e.what(), "Variant array index 2 out of bounds [0..1]");
  }
  EXPECT_EQ(Variant::FromArray({}).HighBound(), -1);
}

TEST(VariantTest, CopiesShareText) {
  const Variant t = Variant::FromText(std::string(1000, 'x'));
  const Variant copy = t;  // NOLINT: the copy is the point
  EXPECT_EQ(copy.TextPtr(), t.TextPtr());
  EXPECT_EQ(Variant::FromText(std::shared_ptr<const std::string>()).AsText(), "");
}

TEST(VariantTest, PacketsRequireTheirPadding) {
  const Variant p = Variant::MakeDataPacket("{}");
  EXPECT_GE(p.PacketBuffer()->capacity(), p.PacketJson().size() + kPacketPadding);
  EXPECT_EQ(p.DebugString(), "DataPacket(2 bytes)");

  auto tight = std::make_shared<std::string>("{\"a\":1}");
  tight->shrink_to_fit();
  EXPECT_THROW(Variant::MakeDataPacket(tight, 0, tight->size()), EVariantError);
  auto roomy = std::make_shared<std::string>();
  roomy->reserve(200);
  roomy->assign("xx{}yy");
  const Variant inner = Variant::MakeChangePacket(roomy, 2, 2);
  EXPECT_EQ(inner.PacketJson(), "{}");
  EXPECT_EQ(inner.PacketOffset(), 2u);
  EXPECT_THROW(Variant::MakeDataPacket(roomy, 5, 5), EVariantError);  // outside the text
}

}  // namespace
}  // namespace host
