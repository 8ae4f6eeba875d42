#include "regedit_writer.h"

#include <gtest/gtest.h>

#include <string>

#include "regedit_lines.h"
#include "registry_api.h"

namespace {

using namespace std::string_literals;

// Every form a value takes as the program writes it, in an 8-bit store and, where it differs, in a
// UTF-16 one; the variants' tests compare the reader with Wine on these forms.
TEST(RegeditWriterTest, WritesEachValueInItsForm) {
  const struct {
    std::string name;
    DWORD type;
    std::string data;
    std::string line;
    std::string utf16_line;
  } cases[] = {
      {"", REG_SZ, "Apartment\0"s, "@=\"Apartment\"", ""},
      {"say \"hi\"", REG_SZ, "a\\b\"c\0"s, "\"say \\\"hi\\\"\"=\"a\\\\b\\\"c\"", ""},
      {"v", REG_SZ, "\0"s, "\"v\"=\"\"", ""},
      {"v", REG_SZ, "ab", "\"v\"=hex(1):61,62", "\"v\"=hex(1):61,00,62,00"},
      {"v", REG_SZ, "\t\n\0"s, "\"v\"=hex(1):09,0a,00", "\"v\"=hex(1):09,00,0a,00,00,00"},
      {"v", REG_SZ, " ~\0"s, "\"v\"=\" ~\"", ""},
      {"v", REG_SZ, "\x7f\0"s, "\"v\"=hex(1):7f,00", "\"v\"=hex(1):7f,00,00,00"},
      {"v", REG_SZ, "\xe9\0"s, "\"v\"=hex(1):e9,00", "\"v\"=\"\xe9\""},
      {"v", REG_SZ, "\x85\0"s, "\"v\"=hex(1):85,00", "\"v\"=hex(1):85,00,00,00"},
      {"v", REG_DWORD, "\x78\x56\x34\x12"s, "\"v\"=dword:12345678", ""},
      {"v", REG_DWORD, "\x01\x02\x03"s, "\"v\"=hex(4):01,02,03", ""},
      {"v", REG_BINARY, "\x00\x7f\xff"s, "\"v\"=hex:00,7f,ff", ""},
      {"v", REG_BINARY, "", "\"v\"=hex:", ""},
      {"v", REG_EXPAND_SZ, "%\0"s, "\"v\"=hex(2):25,00", "\"v\"=hex(2):25,00,00,00"},
      {"v", REG_MULTI_SZ, "a\0\0"s, "\"v\"=hex(7):61,00,00", "\"v\"=hex(7):61,00,00,00,00,00"},
      {"v", REG_QWORD, "\x01\0\0\0\0\0\0\0"s, "\"v\"=hex(b):01,00,00,00,00,00,00,00", ""},
      {"v", REG_NONE, "", "\"v\"=hex(0):", ""},
  };
  for (const auto& c : cases) {
    for (bool utf16 : {false, true}) {
      std::string line = "kept";
      EXPECT_TRUE(AppendRegeditValue(&line, c.name, c.type, c.data, kLineEnd, utf16));
      EXPECT_EQ(line, "kept" + (utf16 && !c.utf16_line.empty() ? c.utf16_line : c.line));
    }
  }
  // Texts long enough to be checked a block at a time, the odd byte anywhere in them.
  for (size_t at : {0, 15, 16, 19}) {
    for (char odd : {'\x7f', '\x1f', '\x85', '\\'}) {
      std::string text(20, 'x');
      text[at] = odd;
      std::string line;
      AppendRegeditValue(&line, "v", REG_SZ, text + '\0', kLineEnd);
      if (odd == '\\') {
        EXPECT_EQ(line, "\"v\"=\"" + text.insert(at, 1, '\\') + "\"") << at;
      } else {
        EXPECT_EQ(line.substr(0, 11), "\"v\"=hex(1):") << at << " " << static_cast<int>(odd);
      }
    }
  }
  std::string line;
  EXPECT_TRUE(AppendKeyLine(&line, "HKEY_CURRENT_USER\\k", "\n"));
  EXPECT_EQ(line, "[HKEY_CURRENT_USER\\k]\n");
  // No line of a store can carry a line break in a name.
  EXPECT_FALSE(AppendKeyLine(&line, "HKEY_CURRENT_USER\\a\rb", kLineEnd));
  EXPECT_FALSE(AppendRegeditValue(&line, "two\nlines", REG_DWORD, "\1\0\0\0"s, kLineEnd));
}

TEST(RegeditWriterTest, WrapsLongHexLikeRegedit) {
  std::string bytes;
  for (int i = 0; i < 100; ++i) bytes.push_back(static_cast<char>(i));
  std::string line;
  AppendRegeditValue(&line, "v", REG_BINARY, bytes, "\n");
  // `"v"=hex:` then 23 bytes reach the wrap column; 25 bytes on each full continuation line.
  EXPECT_EQ(line,
            "\"v\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,\\\n"
            "  17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,2d,2e,2f,\\\n"
            "  30,31,32,33,34,35,36,37,38,39,3a,3b,3c,3d,3e,3f,40,41,42,43,44,45,46,47,48,\\\n"
            "  49,4a,4b,4c,4d,4e,4f,50,51,52,53,54,55,56,57,58,59,5a,5b,5c,5d,5e,5f,60,61,\\\n"
            "  62,63");
  // A name past the wrap column gets the first byte alone on its line.
  line.clear();
  AppendRegeditValue(&line, std::string(80, 'n'), 0xFFFFFFFFu, "\x01\x02\x03"s, "\r");
  EXPECT_EQ(line, "\"" + std::string(80, 'n') + "\"=hex(ffffffff):01,\\\r  02,03");
}

}  // namespace
