// Escaping client text for log lines and messages: nothing that ends a line, starts a terminal
// escape or cuts a C string survives; everything else is copied, accents included.
#include "host/wire/EscapedText.h"

#include <gtest/gtest.h>

#include <string>

namespace host::wire {
namespace {

TEST(EscapedText, EscapesWhatCouldForgeOrCutALineAndKeepsTheRest) {
  EXPECT_EQ(EscapedText("São Paulo \"Centro\" 12.345/0001-95"), "São Paulo \"Centro\" 12.345/0001-95");
  EXPECT_EQ(EscapedText(std::string("a\0b", 3)), R"(a\x00b)");
  EXPECT_EQ(EscapedText("x\ncall method=SetProduto\r\t"), R"(x\x0Acall method=SetProduto\x0D\x09)");
  EXPECT_EQ(EscapedText("\x1b[31mred\x7f"), R"(\x1B[31mred\x7F)");
  EXPECT_EQ(EscapedText(R"(C:\x0A)"), R"(C:\\x0A)");  // a backslash of the input is never an escape
  EXPECT_EQ(EscapedText("\xc2\x9b" "2J \xc2\x85 \xe2\x80\xa8 \xe2\x80\xa9"), R"(\u009B2J \u0085 \u2028 \u2029)");
  // Bidirectional overrides and isolates would show the line in another order.
  EXPECT_EQ(EscapedText("a\xe2\x80\xae" "cba\xe2\x81\xa9"), R"(a\u202Ecba\u2069)");
  EXPECT_EQ(EscapedText("bad \xff \xc3 \xed\xa0\x80 end"), R"(bad \xFF \xC3 \xED\xA0\x80 end)");
}

TEST(EscapedText, CutsAtACharacterCountNeverInsideOne) {
  EXPECT_EQ(EscapedText("ação", 2), "aç…");
  EXPECT_EQ(EscapedText("ação", 4), "ação");
  EXPECT_EQ(EscapedText(std::string("\0\0\0", 3), 2), R"(\x00\x00…)");
  EXPECT_EQ(EscapedText("", 0), "");
}

TEST(EscapedText, ControlCharactersAreThoseBelowSpaceAndDelete) {
  EXPECT_FALSE(HasControlCharacter("12.345.678/0001-95 ação ~"));
  EXPECT_TRUE(HasControlCharacter(std::string("12\0", 3)));
  EXPECT_TRUE(HasControlCharacter("12\t"));
  EXPECT_TRUE(HasControlCharacter("\x7f"));
  EXPECT_TRUE(HasControlCharacter("\xc2\x9b"));      // a C1 control (CSI)
  EXPECT_TRUE(HasControlCharacter("12\xe2\x80\xae"));  // a right-to-left override
  EXPECT_TRUE(HasControlCharacter("\xe2\x81\xa6" "1"));   // a left-to-right isolate
}

}  // namespace
}  // namespace host::wire
