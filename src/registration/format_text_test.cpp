#include "format_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

TEST(FormatTextTest, PutsTheTextInPlaceOfTheFirstMarkerOnly) {
  char out[64];
  ASSERT_TRUE(FormatText(out, sizeof out, "CLSID\\%s\\InprocServer32", "{X}"));
  EXPECT_STREQ(out, "CLSID\\{X}\\InprocServer32");
  ASSERT_TRUE(FormatText(out, sizeof out, "%s,3007", "a.dll"));
  EXPECT_STREQ(out, "a.dll,3007");
  ASSERT_TRUE(FormatText(out, sizeof out, "Apartment", "ignored"));
  EXPECT_STREQ(out, "Apartment");
  ASSERT_TRUE(FormatText(out, sizeof out, "%s and %s", "x"));
  EXPECT_STREQ(out, "x and %s");
}

TEST(FormatTextTest, NeverReadsTheTextAsAFormat) {
  char out[64];
  ASSERT_TRUE(FormatText(out, sizeof out, "%s", "C:\\100%s\\%n%x%%\\b.dll"));
  EXPECT_STREQ(out, "C:\\100%s\\%n%x%%\\b.dll");
  ASSERT_TRUE(FormatText(out, sizeof out, "%d%%%", "x"));
  EXPECT_STREQ(out, "%d%%%");
}

TEST(FormatTextTest, FailsEmptyWhenTheResultDoesNotFit) {
  char out[8];
  std::memset(out, 'Z', sizeof out);
  ASSERT_TRUE(FormatText(out, sizeof out, "%s,1", "abcd"));  // 6 characters and the NUL
  EXPECT_STREQ(out, "abcd,1");
  ASSERT_TRUE(FormatText(out, sizeof out, "%s,1", "abcde"));  // exactly 8 bytes
  EXPECT_STREQ(out, "abcde,1");
  std::memset(out, 'Z', sizeof out);
  EXPECT_FALSE(FormatText(out, sizeof out, "%s,1", "abcdef"));
  EXPECT_EQ(out[0], '\0');
  EXPECT_EQ(out[1], 'Z') << "wrote past the failed result";
  EXPECT_FALSE(FormatText(out, sizeof out, "12345678", ""));
  EXPECT_FALSE(FormatText(out, 0, "", ""));
}
