// Narrowing takes many code units at a time: a unit outside U+0001..U+00FF is found wherever it
// stands in a block of them or after the last whole block.
#include "utf16_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Utf16TextTest, NarrowsEveryUnitWhereverItStands) {
  // 2 blocks and 8 more
  const std::string plain =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789!#$%&()*+,";
  const struct {
    char low, high;  // the unit put in
    char narrowed;
    bool beyond;  // above 0xFF
  } units[] = {{'\0', '\1', kHighUnit, true},
               {'\xFF', '\xFF', kHighUnit, true},
               {'\xFF', '\0', '\xFF', false},
               {'\x3D', '\xD8', kHighUnit, true},
               {'\0', '\0', '\0', false}};
  for (size_t at : {0, 7, 16, 31, 32, 47, 48, 63, 64, 71}) {
    for (const auto& unit : units) {
      std::string bytes = "\xFF\xFE";
      for (char c : plain) bytes += {c, '\0'};
      bytes[2 + 2 * at] = unit.low;
      bytes[3 + 2 * at] = unit.high;
      std::string expected = plain;
      expected[at] = unit.narrowed;
      std::string text;
      bool high = false;
      ASSERT_TRUE(NarrowUtf16(bytes.substr(2), &text, &high));
      EXPECT_EQ(text, expected) << at;
      EXPECT_EQ(high, unit.beyond) << at;
      StoreText store;  // which refuses the character NUL alone
      const bool nul = unit.low == '\0' && unit.high == '\0';
      ASSERT_EQ(store.Read(bytes), !nul) << at;
      if (!nul) {
        EXPECT_EQ(store.text(), expected) << at;
      }
    }
  }
}

TEST(Utf16TextTest, NarrowsStoresOfSeveralMegabytesWhole) {
  // Over 2 MiB of text, whose memory is set apart in large pages: every byte written and kept.
  for (size_t units : {size_t{2} << 20, (size_t{5} << 20) + 3}) {
    std::string bytes = "\xFF\xFE";
    std::string expected;
    for (size_t i = 0; i < units; ++i) expected += static_cast<char>('a' + i % 23);
    for (char c : expected) bytes += {c, '\0'};
    StoreText store;
    ASSERT_TRUE(store.Read(bytes)) << units;
    EXPECT_TRUE(store.text() == expected) << units;
  }
}

}  // namespace
