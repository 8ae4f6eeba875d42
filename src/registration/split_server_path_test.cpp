#include "split_server_path.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

struct SplitCase {
  const char* path;
  const char* installDir;
  const char* fileName;
};

const SplitCase kCases[] = {
    {"C:\\Program Files\\Larkspan\\band.dll", "C:\\Program Files\\Larkspan\\", "band.dll"},
    {"C:\\dir\\", "C:\\", "dir\\"},  // the last character is never the separator
    {".\\band.dll", ".\\", "band.dll"},
    {"\\band.dll", "\\", "band.dll"},
    {"\\\\server\\share\\b.dll", "\\\\server\\share\\", "b.dll"},
    {"band.dll", "", "band.dll"},
    {"band\\", "", "band\\"},
    {"\\", "", "\\"},
    {"\\\\", "\\", "\\"},
    {"x", "", "x"},
    {"C:/dir/band.dll", "", "C:/dir/band.dll"},  // only backslashes separate
};

}  // namespace

TEST(SplitServerPathTest, SplitsAtTheLastBackslashBeforeTheLastCharacter) {
  for (const SplitCase& c : kCases) {
    char installDir[kTextSize];
    char fileName[kTextSize];
    std::memset(installDir, 'Z', sizeof installDir);
    std::memset(fileName, 'Z', sizeof fileName);
    SplitServerPath(c.path, installDir, fileName);
    EXPECT_STREQ(installDir, c.installDir) << c.path;
    EXPECT_STREQ(fileName, c.fileName) << c.path;
    // The two parts always join back into the path the icon references are built from.
    EXPECT_EQ(std::string(installDir) + fileName, c.path);
  }
}

TEST(SplitServerPathTest, HandlesTheLongestPathAndTheEmptyOne) {
  std::string longest = "C:\\" + std::string(kTextSize - 6, 'a') + "\\b";
  ASSERT_EQ(longest.size(), kTextSize - 1);
  char installDir[kTextSize];
  char fileName[kTextSize];
  SplitServerPath(longest.c_str(), installDir, fileName);
  EXPECT_EQ(std::string(installDir), longest.substr(0, longest.size() - 1));
  EXPECT_STREQ(fileName, "b");
  SplitServerPath("", installDir, fileName);
  EXPECT_STREQ(installDir, "");
  EXPECT_STREQ(fileName, "");
}
