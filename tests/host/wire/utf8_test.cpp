// Counting UTF-8 characters eight bytes at a time: every character width at every position of a
// block and across a block's edge counts as one character.
#include "host/wire/Utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace host::wire {
namespace {

TEST(Utf8CharCount, EachCharacterCountsOnceWhereverItFalls) {
  EXPECT_EQ(Utf8CharCount(""), 0u);
  EXPECT_EQ(Utf8CharCount("Fornecedor São João Ltda"), 24u);
  for (const std::string character : {"é", "€", "😀", "\x7F"}) {
    for (std::size_t before = 0; before < 17; ++before) {
      const std::string text = std::string(before, 'a') + character + character + "bc";
      EXPECT_EQ(Utf8CharCount(text), before + 4) << before << " " << character;
    }
  }
}

}  // namespace
}  // namespace host::wire
