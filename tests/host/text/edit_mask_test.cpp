#include "host/text/EditMask.h"

#include <gtest/gtest.h>

#include <string>

namespace host {
namespace {

constexpr const char* PJ = "99.999.999/9999-99;0;_";
constexpr const char* PF = "999.999.999-99;0;_";

// Types `keys` one by one into an empty cell and prints the stored value after each accepted
// key, or "!" for a refused one: "A|AB|!|AB1".
std::string TypeAll(const EditMask& mask, std::string_view keys) {
  std::string stored;
  std::string trace;
  for (char k : keys) {
    if (!trace.empty()) trace += '|';
    auto next = mask.Type(stored, k);
    if (!next) {
      trace += '!';
      continue;
    }
    stored = *next;
    trace += stored;
  }
  return trace;
}

TEST(EditMaskTest, SectionsAndDefaults) {
  EditMask plain("#999999999");
  EXPECT_TRUE(plain.SaveLiterals());
  EXPECT_EQ(plain.BlankChar(), '_');
  EXPECT_EQ(plain.InputCount(), 10);

  EditMask branch(">aaaa;0; ");
  EXPECT_FALSE(branch.SaveLiterals());
  EXPECT_EQ(branch.BlankChar(), ' ');
  EXPECT_EQ(branch.InputCount(), 4);

  EditMask stored("99/99;1;*");
  EXPECT_TRUE(stored.SaveLiterals());
  EXPECT_EQ(stored.BlankChar(), '*');

  EditMask emptyBlank("99;0;");
  EXPECT_EQ(emptyBlank.BlankChar(), '_');
  EXPECT_TRUE(EditMask("!999").LeadingBlanks());
}

TEST(EditMaskTest, FormatsTaxpayerNumbersWithLiteralsNotStored) {
  EXPECT_EQ(FormatMaskText("99.999.999/9999-99;0;_", "12345678000195"), "12.345.678/0001-95");
  EXPECT_EQ(FormatMaskText("999.999.999-99;0;_", "12345678909"), "123.456.789-09");
  EXPECT_EQ(FormatMaskText("9999999999;0;_", "0000012345"), "0000012345");
}

TEST(EditMaskTest, FormatMaskTextFollowsEachCallsMask) {
  // Masks alternate as in a grid showing companies and individuals.
  EXPECT_EQ(FormatMaskText(PJ, "12345678000195"), "12.345.678/0001-95");
  EXPECT_EQ(FormatMaskText(PF, "12345678909"), "123.456.789-09");
  EXPECT_EQ(FormatMaskText(PJ, "11222333000181"), "11.222.333/0001-81");
  EXPECT_EQ(FormatMaskText("", "11222333000181"), "11222333000181");
  EXPECT_THROW(FormatMaskText("99;7", "1"), EMaskError);
  EXPECT_EQ(FormatMaskText(PF, "12345678909"), "123.456.789-09");
}

TEST(EditMaskTest, FormatOfShortAndLongValuesKeepsEveryCharacter) {
  const std::string cnpj = "99.999.999/9999-99;0;_";
  // Unfilled positions and the literals after the last filled one are left out.
  EXPECT_EQ(FormatMaskText(cnpj, "12345"), "12.345");
  EXPECT_EQ(FormatMaskText(cnpj, "123"), "12.3");
  EXPECT_EQ(FormatMaskText(cnpj, ""), "");
  // Characters beyond the mask are appended unchanged.
  EXPECT_EQ(FormatMaskText(cnpj, "1234567800019599"), "12.345.678/0001-9599");
  EXPECT_EQ(FormatMaskText("(99);0;_", "12"), "(12)");
  EXPECT_EQ(FormatMaskText("(99);0;_", "123"), "(12)3");
  EXPECT_EQ(FormatMaskText("(99);0;_", "1"), "(1");
}

TEST(EditMaskTest, FormatNeitherChecksClassesNorConvertsCase) {
  // Shown as stored: a letter in a digit position and lower case under '>' stay as they are.
  EXPECT_EQ(FormatMaskText("999-99;0;_", "12a45"), "12a-45");
  EXPECT_EQ(FormatMaskText(">aaaa;0; ", "ab1"), "ab1");
}

TEST(EditMaskTest, FormatWithLiteralsStoredKeepsOrInsertsThem) {
  EXPECT_EQ(FormatMaskText("99/99;1;_", "12/34"), "12/34");
  EXPECT_EQ(FormatMaskText("99/99;1;_", "1234"), "12/34");
  EXPECT_EQ(FormatMaskText("99/99;1;_", "12"), "12");
  EXPECT_EQ(FormatMaskText("99/99;1;_", "12/3456"), "12/3456");
  EXPECT_EQ(FormatMaskText("99.999.999/9999-99", "12345678000195"), "12.345.678/0001-95");
}

TEST(EditMaskTest, EmptyMaskLeavesValuesAlone) {
  EXPECT_EQ(FormatMaskText("", "a.b/c"), "a.b/c");
  EditMask none("");
  EXPECT_TRUE(none.Empty());
  EXPECT_EQ(none.Format("x-1"), "x-1");
  EXPECT_EQ(TypeAll(none, "a.1"), "a|a.|a.1");
  EXPECT_EQ(none.Type("a", '\t'), std::nullopt);
  EXPECT_EQ(none.Backspace("ab"), "a");
  EXPECT_TRUE(EditMask(";0;_").Empty());
}

TEST(EditMaskTest, MultiByteCharactersAreNeverSplit) {
  EXPECT_EQ(FormatMaskText("CC-CC;0;_", "açãõ"), "aç-ãõ");
  EXPECT_EQ(EditMask("CCC;0;_").Backspace("aç"), "a");
  EXPECT_EQ(FormatMaskText("99\\°;0;_", "12"), "12°");
  // A stray byte is a character of its own.
  EXPECT_EQ(FormatMaskText("C-C;0;_", "\xff" "a"), "\xff-a");
}

TEST(EditMaskTest, InputClasses) {
  EXPECT_EQ(TypeAll(EditMask("L;0;_"), "1-a"), "!|!|a");
  EXPECT_EQ(TypeAll(EditMask("l;0;_"), " Z"), "!|Z");
  EXPECT_EQ(TypeAll(EditMask("AA;0;_"), "-a7x"), "!|a|a7|!");
  EXPECT_EQ(TypeAll(EditMask("a;0;_"), "_Q"), "!|Q");
  EXPECT_EQ(TypeAll(EditMask("CCC;0;_"), " -x!"), " | -| -x|!");
  EXPECT_EQ(TypeAll(EditMask("c;0;_"), "%"), "%");
  EXPECT_EQ(TypeAll(EditMask("00;0;_"), "a12"), "!|1|12");
  EXPECT_EQ(TypeAll(EditMask("9;0;_"), "+4"), "!|4");
  EXPECT_EQ(TypeAll(EditMask("###;0;_"), "+-5x"), "+|+-|+-5|!");
}

TEST(EditMaskTest, ControlAndHighBytesAreRefusedWhenTyped) {
  EditMask any("CCC;0;_");
  EXPECT_EQ(any.Type("", '\n'), std::nullopt);
  EXPECT_EQ(any.Type("", '\x7f'), std::nullopt);
  EXPECT_EQ(any.Type("", static_cast<char>(0xc3)), std::nullopt);
}

TEST(EditMaskTest, CaseConversion) {
  EXPECT_EQ(TypeAll(EditMask(">LL<LL<>LL;0;_"), "abCDeFG"), "A|AB|ABc|ABcd|ABcde|ABcdeF|!");
  EXPECT_EQ(TypeAll(EditMask("<CC;0;_"), "Q1"), "q|q1");
  // A '>' after '<' switches back to upper case.
  EXPECT_EQ(TypeAll(EditMask("<L>L;0;_"), "Ab"), "a|aB");
}

TEST(EditMaskTest, BranchMaskStoresUpperCaseAndAtMostFour) {
  EditMask branch(">aaaa;0; ");
  EXPECT_EQ(TypeAll(branch, "ab1"), "A|AB|AB1");
  EXPECT_EQ(TypeAll(branch, "ab1cd"), "A|AB|AB1|AB1C|!");
  EXPECT_EQ(branch.Type("AB1C", 'z'), std::nullopt);
  EXPECT_EQ(branch.Type("AB", '-'), std::nullopt);
  EXPECT_EQ(branch.EditText("AB1"), "AB1 ");
  EXPECT_EQ(branch.Format("AB1"), "AB1");
}

TEST(EditMaskTest, TypingWithLiteralsNotStored) {
  EditMask cpf("999.999.999-99;0;_");
  EXPECT_EQ(TypeAll(cpf, "1234"), "1|12|123|1234");
  // A typed literal that lies ahead is accepted and not stored; other punctuation is refused.
  EXPECT_EQ(cpf.Type("123", '.'), "123");
  EXPECT_EQ(cpf.Type("123", '-'), std::nullopt);
  EXPECT_EQ(cpf.Type("12345678909", '1'), std::nullopt);
  EXPECT_EQ(cpf.EditText("1234"), "123.4__.___-__");
  EXPECT_EQ(cpf.Backspace("1234"), "123");
}

TEST(EditMaskTest, TypingWithLiteralsStored) {
  EditMask date("99/99;1;_");
  EXPECT_EQ(TypeAll(date, "1234"), "1|12|12/3|12/34");
  EXPECT_EQ(date.Type("12", '/'), "12/");
  EXPECT_EQ(date.Type("12/34", '5'), std::nullopt);
  EXPECT_EQ(date.EditText("12/3"), "12/3_");
  EXPECT_EQ(date.Backspace("12/3"), "12");
  EXPECT_EQ(date.Backspace("12/"), "12");
  EXPECT_EQ(date.Backspace(""), "");
  // A literal before the first input position comes with the first character.
  EXPECT_EQ(TypeAll(EditMask("(99)"), "12"), "(1|(12");
}

TEST(EditMaskTest, EscapesAndLiteralBlank) {
  EditMask m("\\L0\\9_0;0;*");
  EXPECT_EQ(m.InputCount(), 2);
  EXPECT_EQ(m.Format("12"), "L19 2");
  EXPECT_EQ(m.EditText(""), "L*9 *");
  // An escaped ';' is a literal, not a section separator.
  EditMask semi("9\\;9;0;_");
  EXPECT_FALSE(semi.SaveLiterals());
  EXPECT_EQ(semi.Format("12"), "1;2");
}

TEST(EditMaskTest, ProductMasks) {
  EditMask product("#999999999");
  EXPECT_EQ(TypeAll(product, "-12"), "-|-1|-12");
  EXPECT_EQ(product.Format("1234567890"), "1234567890");
  EditMask setting("9999999999;0;_");
  EXPECT_EQ(TypeAll(setting, "12a"), "1|12|!");
}

TEST(EditMaskTest, Completeness) {
  EditMask m("00-99;0;_");
  EXPECT_FALSE(m.IsComplete("1"));
  EXPECT_TRUE(m.IsComplete("12"));
  EXPECT_TRUE(m.IsComplete("1234"));
  EditMask stored("00-00;1;_");
  EXPECT_FALSE(stored.IsComplete("12-3"));
  EXPECT_TRUE(stored.IsComplete("12-34"));
}

TEST(EditMaskTest, MalformedMasksRaiseNamingMaskAndPosition) {
  auto message = [](std::string_view mask) {
    try {
      EditMask m(mask);
    } catch (const EMaskError& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  EXPECT_EQ(message("99\\"), "Máscara inválida \"99\\\" na posição 3: '\\' sem caractere a seguir");
  EXPECT_NE(message("99;2;_").find("posição 4"), std::string::npos);
  EXPECT_NE(message("99;x;_").find("\"99;x;_\""), std::string::npos);
  EXPECT_NE(message("99;0;__").find("posição 7"), std::string::npos);
  EXPECT_NE(message("99;0;_;x").find("três seções"), std::string::npos);
  EXPECT_NE(message("9\t9").find("posição 2"), std::string::npos);
  EXPECT_NE(message("99ç").find("posição 3"), std::string::npos);
  EXPECT_THROW(EditMask("99;;_"), EMaskError);
  EXPECT_THROW(EditMask("99;0;\x01"), EMaskError);
  EXPECT_THROW(EditMask("99;0;\xc3\xa7"), EMaskError);
  EXPECT_THROW(EditMask("9\\\xc3"), EMaskError);
  EXPECT_THROW(FormatMaskText("99;9", "12"), EMaskError);
  EXPECT_NO_THROW(EditMask("9\\\xc3\xa7"));
}

}  // namespace
}  // namespace host
