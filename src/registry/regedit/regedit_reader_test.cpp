// The reader where the variants, which compare it with Wine, do not reach: the spans it hands
// over, UTF-16 forms, where hex data may continue and the import stops, stores of every size.
#include "regedit_reader.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "utf16_text.h"

namespace {

using namespace std::string_literals;

TEST(RegeditReaderTest, HandsOverTheLinesOfAValueAndWhereItsTextEnds) {
  // Blank lines and comments between continued lines are the value's lines; its text ends before
  // the line end of its last line, or at the end of a text without one.
  const std::string key = "[HKEY_CURRENT_USER\\k]\r\n";
  const std::string value = "\"v\"=hex:01,\\ ; c\r\n\r\n; between\n  02,\\\r  03 ; c";
  for (const std::string& after : {"\r\n@=\"x\"\r\n"s, ""s, "\n" + key}) {
    const std::string text = "REGEDIT4\r\n" + key + value + after;
    const size_t end = after[0] == '\n' ? text.size() - key.size() : text.size();
    RegeditValue read;
    size_t pos = 10 + key.size();
    ASSERT_EQ(ReadRegeditItem(text, end, false, &pos, &read), RegeditItem::kValue);
    EXPECT_EQ(read.data, "\1\2\3");
    EXPECT_EQ(read.begin, 10 + key.size());
    EXPECT_EQ(read.text_end, 10 + key.size() + value.size());
    EXPECT_EQ(read.end, std::min(read.text_end + (after[0] == '\n' ? 1 : 2), text.size()));
    EXPECT_EQ(pos, read.end);
  }
  // Data continued into the section's end: regedit takes the key line as more of it.
  const std::string text = "REGEDIT4\r\n" + key + "\"v\"=hex:01,\\\r\n\r\n" + key;
  RegeditValue read;
  size_t pos = 10 + key.size();
  EXPECT_EQ(ReadRegeditItem(text, text.size() - key.size(), false, &pos, &read),
            RegeditItem::kUnreadable);
}

TEST(RegeditReaderTest, ReadsTextsAndNumbersInTheFormsItWritesAsRegeditDoes) {
  const struct {
    std::string line;
    RegeditItem item;
    std::string name;
    DWORD type;
    std::string data;
  } cases[] = {
      {"\"v\"=\"a\\\\b\\\"c\\nd\\re\\x\"", RegeditItem::kValue, "v", REG_SZ, "a\\b\"c\nd\rex\0"s},
      {"\"a\\\\b\"=\"\"", RegeditItem::kValue, "a\\b", REG_SZ, "\0"s},
      {"\"v\"=\"x\" ; c", RegeditItem::kValue, "v", REG_SZ, "x\0"s},
      {"\"v\"=\"x\\0y\"", RegeditItem::kSkipped, "", 0, ""},
      {"\"v\"=\"x\\", RegeditItem::kSkipped, "", 0, ""},
      {"\"v\"=\"x\"y", RegeditItem::kSkipped, "", 0, ""},
      {"\"v\"=dword:0000014D", RegeditItem::kValue, "v", REG_DWORD, "\x4d\x01\0\0"s},
      {"\"v\"=dword:0000014d ; c", RegeditItem::kValue, "v", REG_DWORD, "\x4d\x01\0\0"s},
      {"\"v\"=dword:0000014d7", RegeditItem::kSkipped, "", 0, ""},
      {"\"v\"=dword:0000014g", RegeditItem::kSkipped, "", 0, ""},
  };
  for (const auto& c : cases) {
    for (const std::string& after : {""s, "\r\n"s}) {
      const std::string text = "REGEDIT4\r\n" + c.line + after;
      RegeditValue value;
      size_t pos = 10;
      EXPECT_EQ(ReadRegeditItem(text, text.size(), false, &pos, &value), c.item) << c.line;
      EXPECT_EQ(pos, text.size()) << c.line;
      if (c.item != RegeditItem::kValue) continue;
      EXPECT_EQ(value.name, c.name) << c.line;
      EXPECT_EQ(value.type, c.type) << c.line;
      EXPECT_EQ(value.data, c.data) << c.line;
      EXPECT_EQ(value.text_end, 10 + c.line.size()) << c.line;
    }
  }
}

TEST(RegeditReaderTest, ReadsTextsOfAUtf16StoreAsItsCodeUnits) {
  const std::string high(1, kHighUnit);  // a code unit above 0xFF, as StoreText narrows it
  const struct {
    std::string line;
    RegeditItem item;
    DWORD type;
    std::string data;
  } cases[] = {
      {"\"v\"=hex(1):61,00,e9,00", RegeditItem::kValue, REG_SZ, "a\xe9"},
      {"\"v\"=hex(2):25,00,00,00", RegeditItem::kValue, REG_EXPAND_SZ, "%\0"s},
      {"\"v\"=hex(7):61,00,00", RegeditItem::kUnreadable, 0, ""},
      {"\"v\"=hex(7):61,00,00,01", RegeditItem::kBeyond8Bits, 0, ""},
      {"\"v\"=hex(3):61,00,00", RegeditItem::kValue, REG_BINARY, "a\0\0"s},
      {"\"v\"=\"\xe9\\n\" ; " + high, RegeditItem::kValue, REG_SZ, "\xe9\n\0"s},
      {"\"v\"=\"a" + high + "\"", RegeditItem::kBeyond8Bits, 0, ""},
      {"\"" + high + "\"=dword:1", RegeditItem::kBeyond8Bits, 0, ""},
      {"\"v\"=dword:" + high, RegeditItem::kUnreadable, 0, ""},
      {"\"v\"=hex:01,\\\r\n" + high, RegeditItem::kUnreadable, 0, ""},  // a digit, perhaps
  };
  for (const auto& c : cases) {
    const std::string text = "REGEDIT4\r\n" + c.line + "\r\n";
    RegeditValue value;
    size_t pos = 10;
    EXPECT_EQ(ReadRegeditItem(text, text.size(), true, &pos, &value), c.item) << c.line;
    if (c.item != RegeditItem::kValue) continue;
    EXPECT_EQ(value.type, c.type) << c.line;
    EXPECT_EQ(value.data, c.data) << c.line;
  }
}

TEST(RegeditReaderTest, TellsWhereHexDataMayContinueAndWhereTheImportStops) {
  const std::string start = "REGEDIT4\r\n[HKEY_CURRENT_USER\\k]\r\n";
  const std::pair<std::string, bool> continued[] = {
      {"\"v\"=hex(2):01, \\ ; c\n\r\n; between\r", true},
      {"  02,03,\\\r\n", true},
      {"\"v\"=hex:+1,\\\r\n", true},  // read regedit's own way: any backslash so followed counts
      {"\"w\"=hex:01,\\\r\n; c\r\n\"x\"=\"y\"\r\n", false},
      {"\"v\"=dword:1 \\\r\n", false},
  };
  for (const auto& [lines, expected] : continued) {
    EXPECT_EQ(MayContinueInto(start + lines, start.size() + lines.size()), expected) << lines;
  }
  EXPECT_FALSE(MayContinueInto("REGEDIT4\r\n", 10));

  // Wine's regedit stops at quoted data that holds `\0` or ends in a backslash, not at a name.
  const std::string before =
      start + "\"n\\0\"=\"x\"\r\n\"a\"=\"C:\\\\\"\r\n\"w\"=hex:01,\\\r\n02\r\n";
  for (const char* stop : {"\"q\"=\"x\\0\"", "@=\"C:\\ ", "  \"q\" = \"\\"}) {
    const std::string text = before + stop + "\r\n[HKEY_CURRENT_USER\\later]\r\n";
    EXPECT_EQ(ImportStop(text, text.size(), false), before.size()) << stop;
    EXPECT_EQ(ImportStop(text, before.size(), false), text.size()) << stop;
  }
}

TEST(RegeditReaderTest, FindsTheImportStopAtEveryOffset) {
  // Lines that do not stop (pairs of backslashes, a name with `\0`, a hex list wrapped, a path,
  // a text in hex long enough), then one that does, moved across the reader's steps and windows.
  std::string passed;
  for (const char* line : {R"("p"="C:\\0\\")", R"("n\0"="x")", R"("w"=hex:01,\)", "  02,\\\n  03",
                           R"([HKEY_CURRENT_USER\k\l])", R"("h"=hex(2):41,00)", R"(@="\\\\")"}) {
    passed += line + std::string("\r\n");
  }
  const std::pair<std::string, bool> stops[] = {{R"("q"="x\0")", false},
                                                {R"(@="C:\ )", false},
                                                {R"("q"="a\\\)", false},
                                                {R"("t"=hex(2):41)", true}};
  for (size_t pad = 0; pad < 1100; ++pad) {
    for (const auto& [stop, utf16] : stops) {
      const std::string before = "REGEDIT4\r\n;" + std::string(pad, 'x') + "\r\n" + passed;
      const std::string text = before + stop + "\r\n\"z\"=\"\\0\"\r\n";
      EXPECT_EQ(ImportStop(text, text.size(), utf16), before.size()) << pad << stop;
      EXPECT_EQ(ImportStop(text, before.size(), utf16), text.size()) << pad << stop;
    }
  }
}

TEST(RegeditReaderTest, ReadsLargeStoresInLinearTime) {
  // 100,000 values in one key, 100,000 keys, and lines of megabytes, one full of brackets.
  std::string text = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Many]\r\n";
  for (int i = 0; i < 100000; ++i) text += "\"value" + std::to_string(i) + "\"=dword:1\r\n";
  for (int i = 0; i < 100000; ++i) text += "[HKEY_CLASSES_ROOT\\k" + std::to_string(i) + "]\r\n";
  text += "[HKEY_CURRENT_USER\\Long]\r\n\"text\"=\"" + std::string(4 << 20, '[') + "\"\r\n";
  text += "\"hex\"=hex:00";
  for (int i = 0; i < (1 << 20); ++i) text += ",ff";
  text += "\r\n\"wrapped\"=hex:00";
  for (int i = 0; i < (1 << 18); ++i) text += ",ff,\\\r\n  ee";
  text += "\r\n";

  auto start = std::chrono::steady_clock::now();
  std::vector<StoreSection> sections;
  std::deque<std::string> paths;
  ASSERT_TRUE(ScanRegeditFile(text, &sections, &paths));
  std::vector<size_t> sizes;
  RegeditValue value;
  for (const StoreSection& section : sections) {
    for (size_t pos = section.begin;
         NextRegeditValue(text, section, false, &pos, &value) == RegeditItem::kValue;) {
      sizes.push_back(value.data.size());
    }
  }
  const size_t stop = ImportStop(text, text.size(), false);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  EXPECT_EQ(sections.size(), 100002u);
  ASSERT_EQ(sizes.size(), 100003u);
  EXPECT_EQ(sizes[100000], (4u << 20) + 1);
  EXPECT_EQ(sizes[100001], (1u << 20) + 1);
  EXPECT_EQ(sizes[100002], (2u << 18) + 1);
  EXPECT_EQ(stop, text.size());
  // A quadratic step would take minutes here; the linear ones take well under a second even
  // in a sanitizer build.
  EXPECT_LT(seconds, 10.0);
}

}  // namespace
