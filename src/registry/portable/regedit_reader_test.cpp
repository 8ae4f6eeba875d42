#include "regedit_reader.h"

#include <gtest/gtest.h>

#include <chrono>
#include <initializer_list>
#include <string>
#include <vector>

#include "regedit_test_tree.h"
#include "regedit_value_text.h"

namespace {

using namespace std::string_literals;

std::string Bytes(int first, int count) {
  std::string bytes;
  for (int i = 0; i < count; ++i) bytes.push_back(static_cast<char>(first + i));
  return bytes;
}

// Parses `text`, expecting success, and checks that its formatted form reads back the same.
RegistryTree ParseRoundTrip(const std::string& text) {
  RegistryTree tree;
  EXPECT_TRUE(ParseRegeditFile(text, &tree));
  std::string formatted = FormatRegeditFile(tree);
  RegistryTree again;
  EXPECT_TRUE(ParseRegeditFile(formatted, &again));
  EXPECT_EQ(FormatRegeditFile(again), FormatRegeditFile(tree));
  EXPECT_EQ(FormatRegeditFile(again), formatted);
  return tree;
}

TEST(RegeditReaderTest, WrapsLongHexLikeRegedit) {
  std::string line;
  AppendRegeditValue(&line, "v", REG_BINARY, Bytes(0, 100));
  // `"v"=hex:` then 23 bytes reach the wrap column; 25 bytes on each full continuation line.
  EXPECT_EQ(line,
            "\"v\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,\\\r\n"
            "  17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,2d,2e,2f,\\\r\n"
            "  30,31,32,33,34,35,36,37,38,39,3a,3b,3c,3d,3e,3f,40,41,42,43,44,45,46,47,48,\\\r\n"
            "  49,4a,4b,4c,4d,4e,4f,50,51,52,53,54,55,56,57,58,59,5a,5b,5c,5d,5e,5f,60,61,\\\r\n"
            "  62,63\r\n");
  // A name past the wrap column gets the first byte alone on its line.
  line.clear();
  AppendRegeditValue(&line, std::string(80, 'n'), 0xFFFFFFFFu, "\x01\x02\x03"s);
  EXPECT_EQ(line, "\"" + std::string(80, 'n') + "\"=hex(ffffffff):01,\\\r\n  02,03\r\n");
}

TEST(RegeditReaderTest, EveryValueTypeRoundTrips) {
  struct Case {
    DWORD type;
    std::string data;
  };
  std::string all_bytes;
  for (int i = 0; i < 5000; ++i) all_bytes.push_back(static_cast<char>(i * 7));
  const Case cases[] = {
      {REG_SZ, "Apartment\0"s},
      {REG_SZ, "ab"},
      {REG_SZ, ""},
      {REG_SZ, "\0"s},
      {REG_SZ, "a\0b\0"s},
      {REG_SZ, "quote\" back\\ \x7f\0"s},
      {REG_SZ, "\r\n\0"s},
      {REG_EXPAND_SZ, "%ProgramFiles%\0"s},
      {REG_BINARY, ""},
      {REG_BINARY, all_bytes},
      {REG_DWORD, "\xff\xff\xff\xff"s},
      {REG_DWORD, "\x01\x02"s},
      {REG_DWORD, "\x01\x02\x03\x04\x05"s},
      {REG_DWORD, ""},
      {REG_QWORD, "\x01\x02\x03\x04\x05\x06\x07\x08"s},
      {REG_MULTI_SZ, "one\0two\0\0"s},
      {REG_NONE, ""},
      {REG_NONE, "\0"s},
      {0x7FFFFFFFu, "\x80"s},
      {0xFFFFFFFFu, all_bytes},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("type " + std::to_string(c.type) + ", " + std::to_string(c.data.size()) +
                 " bytes");
    RegistryTree tree;
    KeyAt(tree.current_user, "k")->SetValue("v", c.type, c.data);
    tree.classes_root->SetValue("", c.type, c.data);
    RegistryTree read = ParseRoundTrip(FormatRegeditFile(tree));
    for (const RegistryValue* value :
         {KeyAt(read.current_user, "k")->FindValue("v"), read.classes_root->FindValue("")}) {
      ASSERT_NE(value, nullptr);
      EXPECT_EQ(value->type, c.type);
      EXPECT_EQ(value->data.size(), c.data.size());
      EXPECT_EQ(value->data, c.data);
    }
  }
}

// A UTF-16LE file with its byte order mark, as `reg export` writes it.
std::string Utf16File(std::u16string_view text) {
  std::string bytes = "\xff\xfe";
  for (char16_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

struct Refused {
  const char* label;
  std::string bytes;
};

const std::u16string kUnicodeStart =
    u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\k]\r\n";

TEST(RegeditReaderTest, ReadsAUnicodeFileAndTellsWhatIsBeyond8Bits) {
  // Under either header, hex text is UTF-16, kept with or without its NUL; Latin-1 is 8-bit.
  // Characters above U+00FF make a value beyond 8 bits only in its name or its data, and a key
  // only in its name.
  const std::u16string text =
      u"REGEDIT4\r\n; \u65e5\u672c \U0001F600\r\n[HKEY_CURRENT_USER\\\u00e0]\r\n"
      u"\"\u00e9\"=\"x\\r\\n\" ; \u20ac\r\n\"w\"=hex(2):41,00,\\ ; \u20ac\r\n  e9,00\r\n"
      u"[HKEY_CURRENT_USER\\b]\r\n\"\u0100\"=dword:1\r\n"
      u"[HKEY_CURRENT_USER\\c]\r\n\"v\"=\"\U0001F600\"\r\n"
      u"[HKEY_CURRENT_USER\\d]\r\n\"v\"=hex(7):00,01,00,00\r\n"
      u"[HKEY_CURRENT_USER\\e]\r\n\"v\"=hex:00,01\r\n\"\u0100\"=\"x\"\u0100\r\n"
      u"[HKEY_CURRENT_USER\\\u0416]\r\n\"v\"=\"x\"\r\n";
  RegistryTree tree;
  std::vector<std::string> wide;
  ASSERT_TRUE(ParseRegeditFile(Utf16File(text), &tree, &wide));
  EXPECT_EQ(wide, (std::vector<std::string>{"HKEY_CURRENT_USER\\b", "HKEY_CURRENT_USER\\c",
                                            "HKEY_CURRENT_USER\\d"}));
  EXPECT_EQ(tree.current_user->children().size(), 5u);
  auto a = KeyAt(tree.current_user, "\xe0");
  ASSERT_EQ(a->values().size(), 2u);
  EXPECT_EQ(a->values()[0].name, "\xe9");
  EXPECT_EQ(a->values()[0].data, "x\r\n\0"s);
  EXPECT_EQ(a->values()[1].data, "A\xe9");
  auto e = KeyAt(tree.current_user, "e");
  ASSERT_EQ(e->values().size(), 1u);
  EXPECT_EQ(e->values()[0].data, "\0\x01"s);

  const Refused refused[] = {
      {"beyond 8 bits, unless asked", Utf16File(text)},
      {"odd hex text", Utf16File(kUnicodeStart + u"\"v\"=hex(7):61,00,62\r\n")},
      {"odd file", Utf16File(kUnicodeStart) + "\n"},
      {"NUL character", Utf16File(kUnicodeStart + u"\"v\"=\"a\0b\"\r\n"s)},
      {"other version", Utf16File(u"Windows Registry Editor Version 4.00\r\n")},
      {"no byte order mark", Utf16File(kUnicodeStart).substr(2)},
      {"big-endian mark", "\xfe\xff" + Utf16File(kUnicodeStart).substr(2)},
      {"byte order mark alone", "\xff\xfe"},
  };
  for (const Refused& c : refused) {
    RegistryTree none;
    EXPECT_FALSE(ParseRegeditFile(c.bytes, &none, c.label[0] == 'b' ? nullptr : &wide)) << c.label;
  }
}

TEST(RegeditReaderTest, LargeFilesParseAndFormatInLinearTime) {
  // 100,000 values in one key, 100,000 keys, and lines of megabytes.
  std::string text = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Many]\r\n";
  for (int i = 0; i < 100000; ++i) text += "\"value" + std::to_string(i) + "\"=dword:1\r\n";
  for (int i = 0; i < 100000; ++i) text += "[HKEY_CLASSES_ROOT\\k" + std::to_string(i) + "]\r\n";
  text += "[HKEY_CURRENT_USER\\Long]\r\n\"text\"=\"" + std::string(4 << 20, 'x') + "\"\r\n";
  text += "\"hex\"=hex:00";
  for (int i = 0; i < (1 << 20); ++i) text += ",ff";
  text += "\r\n\"wrapped\"=hex:00";
  for (int i = 0; i < (1 << 18); ++i) text += ",ff,\\\r\n  ee";
  text += "\r\n";

  auto start = std::chrono::steady_clock::now();
  RegistryTree tree;
  ASSERT_TRUE(ParseRegeditFile(text, &tree));
  std::string formatted = FormatRegeditFile(tree);
  RegistryTree again;
  ASSERT_TRUE(ParseRegeditFile(formatted, &again));
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  EXPECT_EQ(FormatRegeditFile(again), FormatRegeditFile(tree));
  EXPECT_EQ(tree.current_user->FindChild("many")->values().size(), 100000u);
  EXPECT_EQ(tree.classes_root->children().size(), 100000u);
  auto long_key = tree.current_user->FindChild("Long");
  EXPECT_EQ(long_key->FindValue("text")->data.size(), (4u << 20) + 1);
  EXPECT_EQ(long_key->FindValue("hex")->data.size(), (1u << 20) + 1);
  EXPECT_EQ(long_key->FindValue("wrapped")->data.size(), (2u << 18) + 1);
  // A quadratic step would take minutes here; the linear ones take well under a second even
  // in a sanitizer build.
  EXPECT_LT(seconds, 10.0);
}

}  // namespace
