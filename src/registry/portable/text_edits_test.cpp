#include "text_edits.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(TextEditsTest, PiecesKeepTheTextBetweenEditsAndRefuseOverlaps) {
  const std::string text = "REGEDIT4\n[a]\n\"v\"=1\n[b]";
  const std::string new_text = "[c]\n\"v\"=2\n[A]\n";
  const TextEdit::Kind kLines = TextEdit::kLines, kSection = TextEdit::kSection;
  std::vector<TextEdit> edits = {
      {22, 22, kSection, 0, 0, 4}, {13, 19, kLines, 0, 4, 10}, {9, 13, kLines, 1, 10, 14}};
  std::vector<std::string_view> pieces;
  ASSERT_TRUE(EditPieces(text, new_text, &edits, &pieces));
  std::string joined;
  for (std::string_view piece : pieces) joined += piece;
  // The last line gets the line end of the lines before it before anything follows it.
  EXPECT_EQ(joined, "REGEDIT4\n[A]\n\"v\"=2\n[b]\n[c]\n");
  for (std::vector<TextEdit> bad :
       {std::vector<TextEdit>{{9, 19, kLines, 0, 0, 0}, {13, 14, kLines, 0, 0, 1}},
        std::vector<TextEdit>{{14, 13, kLines, 0, 0, 1}}}) {
    EXPECT_FALSE(EditPieces(text, new_text, &bad, &pieces));
  }
}

}  // namespace
