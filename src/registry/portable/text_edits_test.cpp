#include "text_edits.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string Joined(const std::vector<std::string_view>& pieces) {
  std::string text;
  for (std::string_view piece : pieces) text += piece;
  return text;
}

TEST(TextEditsTest, PiecesKeepTheTextBetweenEditsAndRefuseOverlaps) {
  const std::string text = "REGEDIT4\n[a]\n\"v\"=1\n[b]";
  std::vector<TextEdit> edits = {
      {22, 22, 1, 0, "[c]\n\n"}, {13, 19, 0, 0, "\"v\"=2\n"}, {9, 13, 0, 1, "[A]\n"}};
  std::vector<std::string_view> pieces;
  ASSERT_TRUE(EditPieces(text, &edits, &pieces));
  // The last line gets the line end of the lines before it before anything follows it.
  EXPECT_EQ(Joined(pieces), "REGEDIT4\n[A]\n\"v\"=2\n[b]\n[c]\n\n");

  for (std::vector<TextEdit> bad :
       {std::vector<TextEdit>{{9, 19, 0, 0, ""}, {13, 14, 0, 0, "x"}},
        std::vector<TextEdit>{{14, 13, 0, 0, "x"}}, std::vector<TextEdit>{{20, 30, 0, 0, ""}}}) {
    EXPECT_FALSE(EditPieces(text, &bad, &pieces));
  }
  EXPECT_EQ(LineEndBefore("REGEDIT4", 8), "\r\n");
  EXPECT_EQ(LineEndBefore("REGEDIT4\r[a]", 12), "\r");
}

}  // namespace
