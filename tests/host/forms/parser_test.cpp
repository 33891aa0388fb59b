// Reading description text: strings with quotes, character codes and joins, the value kinds,
// and syntax faults reported with their line.
#include <gtest/gtest.h>

#include <string>

#include "host/forms/DescriptionParser.h"

namespace host {
namespace {

std::string ErrorOf(std::string_view text) {
  try {
    DescriptionParser::Parse(text);
  } catch (const EDescriptionError& e) {
    return e.what();
  }
  return "(no error)";
}

TEST(DescriptionParserTest, ReadsTheValueKinds) {
  const auto root = DescriptionParser::Parse(R"(inherited frmProdDesoneraImpos: TfrmProdDesoneraImpos
  Left = 224
  Tag = -11
  Mask = $1F
  Ratio = 1.5
  Caption = 'Produtos para Desonera'#231#227'o de Impostos'
  Quote = 'it''s' + ' joined'
    + ' across lines'
  FormStyle = fsMDIChild
  Options = [dgEditing, dgTitles]
  Empty = []
  SQL.Strings = (
    'SELECT'
    '  FROM X')
  Glyph.Data = {
    0A1B
    2C}
  Columns = <
    item
      FieldName = 'NMRAZSOCFORN'
      Title.Caption = 'Nome'
    end
    item
      FieldName = 'X'
    end>
  object cdsProduto: TClientDataSet
    object cdsProdutoCDARVPROD: TStringField
      DisplayLabel = 'C'#243'digo'
    end
  end
end
)");
  EXPECT_TRUE(root.inherited);
  EXPECT_EQ(root.name, "frmProdDesoneraImpos");
  EXPECT_EQ(root.className, "TfrmProdDesoneraImpos");
  ASSERT_EQ(root.properties.size(), 12u);
  EXPECT_EQ(root.properties[0].value.integer, 224);
  EXPECT_EQ(root.properties[1].value.integer, -11);
  EXPECT_EQ(root.properties[2].value.integer, 31);
  EXPECT_EQ(root.properties[3].value.kind, DescriptionValue::Kind::kDecimal);
  EXPECT_EQ(root.properties[4].value.text, "Produtos para Desoneração de Impostos");
  EXPECT_EQ(root.properties[5].value.text, "it's joined across lines");
  EXPECT_EQ(root.properties[6].value.kind, DescriptionValue::Kind::kIdentifier);
  EXPECT_EQ(root.properties[7].value.names, (std::vector<std::string>{"dgEditing", "dgTitles"}));
  EXPECT_TRUE(root.properties[8].value.names.empty());
  EXPECT_EQ(root.properties[9].name, "SQL.Strings");
  ASSERT_EQ(root.properties[9].value.items.size(), 2u) << "strings on separate lines are separate items";
  EXPECT_EQ(root.properties[9].value.items[1].text, "  FROM X");
  EXPECT_EQ(root.properties[10].value.text, "0A1B2C");
  ASSERT_EQ(root.properties[11].value.collection.size(), 2u);
  EXPECT_EQ(root.properties[11].value.collection[0].properties[1].name, "Title.Caption");
  EXPECT_EQ(root.properties[11].value.collection[0].line, 19);
  ASSERT_EQ(root.children.size(), 1u);
  EXPECT_EQ(root.children[0].line, 26);
  EXPECT_EQ(root.children[0].children[0].properties[0].value.text, "Código");
  EXPECT_EQ(root.children[0].children[0].properties[0].line, 28);
}

TEST(DescriptionParserTest, AdjacentPartsOnOneLineJoinAndPlainUtf8Passes) {
  const auto root = DescriptionParser::Parse("object f: TForm\n  A = 'x'#13#10'y'\n  B = 'Não há'\nend\n");
  EXPECT_EQ(root.properties[0].value.text, "x\r\ny");
  EXPECT_EQ(root.properties[1].value.text, "Não há");
}

TEST(DescriptionParserTest, FaultsNameTheirLine) {
  EXPECT_EQ(ErrorOf("object f: TForm\n  Caption = 'open\nend\n"), "line 2: unterminated string");
  EXPECT_EQ(ErrorOf("object f: TForm\n  Left = 1\n"), "line 3: missing 'end' of 'f' (begun at line 1)");
  EXPECT_EQ(ErrorOf("object f: TForm\n  Left 1\nend\n"), "line 2: expected '=' after property 'Left', found '1'");
  EXPECT_EQ(ErrorOf("object f: TForm\n\n  A = #55296\nend\n"), "line 3: character code #55296 is not a valid character");
  EXPECT_EQ(ErrorOf("object f: TForm\nend\nobject g: TForm\nend\n"),
            "line 3: expected the end of the description, found 'object'");
  EXPECT_EQ(ErrorOf("object f TForm\nend\n"), "line 1: expected ':', found 'TForm'");
  EXPECT_EQ(ErrorOf("object f: TForm\n  A = 'a' +\nend\n"), "line 3: expected a string after '+', found 'end'");
  EXPECT_EQ(ErrorOf("object f: TForm\n  A = 'caf\xC3'\nend\n"), "line 2: invalid UTF-8 inside a string");
  EXPECT_EQ(ErrorOf("object f: TForm\n  A = (\n 'x'\nend\n"), "line 2: list without closing ')'");
  EXPECT_EQ(ErrorOf("object f: TForm\n  A = 12abc\nend\n"), "line 2: malformed number '12a'");
  EXPECT_EQ(ErrorOf(""), "line 1: expected 'object' or 'inherited', found the end of the text");
}

TEST(DescriptionParserTest, DeepNestingIsRefusedNotOverflowed) {
  std::string text;
  for (int i = 0; i < 200; ++i) text += "object a" + std::to_string(i) + ": TPanel\n";
  EXPECT_THROW(DescriptionParser::Parse(text), EDescriptionError);
  std::string lists = "object f: TForm\n A = ";
  for (int i = 0; i < 100000; ++i) lists += "(";
  EXPECT_THROW(DescriptionParser::Parse(lists), EDescriptionError);
}

}  // namespace
}  // namespace host
