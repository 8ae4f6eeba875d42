#include "split_server_path.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

struct SplitCase {
  const char* path;
  const char* install_dir;
  const char* file_name;
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
    char install_dir[kTextSize];
    char file_name[kTextSize];
    std::memset(install_dir, 'Z', sizeof install_dir);
    std::memset(file_name, 'Z', sizeof file_name);
    SplitServerPath(c.path, install_dir, file_name);
    EXPECT_STREQ(install_dir, c.install_dir) << c.path;
    EXPECT_STREQ(file_name, c.file_name) << c.path;
    // The two parts always join back into the path the icon references are built from.
    EXPECT_EQ(std::string(install_dir) + file_name, c.path);
  }
}

TEST(SplitServerPathTest, HandlesTheLongestPathAndTheEmptyOne) {
  std::string longest = "C:\\" + std::string(kTextSize - 6, 'a') + "\\b";
  ASSERT_EQ(longest.size(), kTextSize - 1);
  char install_dir[kTextSize];
  char file_name[kTextSize];
  SplitServerPath(longest.c_str(), install_dir, file_name);
  EXPECT_EQ(std::string(install_dir), longest.substr(0, longest.size() - 1));
  EXPECT_STREQ(file_name, "b");
  SplitServerPath("", install_dir, file_name);
  EXPECT_STREQ(install_dir, "");
  EXPECT_STREQ(file_name, "");
}
