#include "regedit_test_tree.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

namespace {

using namespace std::string_literals;

std::string Lines(std::initializer_list<std::string> lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

// A tree with every form a value line can take.
RegistryTree SampleTree() {
  RegistryTree tree;
  KeyAt(tree.classes_root, ".lks")->SetValue("", REG_SZ, "Larkspan.Band\0"s);
  auto server =
      KeyAt(tree.classes_root, "CLSID\\{1B5A0E7C-0000-4000-8000-00000000AB01}\\InprocServer32");
  server->SetValue("", REG_SZ, "C:\\Larkspan\\lark.dll\0"s);
  server->SetValue("ThreadingModel", REG_SZ, "Apartment\0"s);
  KeyAt(tree.classes_root, "Empty");
  tree.current_user->SetValue("Version", REG_DWORD, "\x02\0\0\0"s);
  auto larkspan = KeyAt(tree.current_user, "Software\\Larkspan");
  for (const char* child : {"beta", "Alpha", "_under", "Zed"}) KeyAt(larkspan, child);
  larkspan->SetValue("say \"hi\"", REG_SZ, "a\\b\"c\0"s);
  larkspan->SetValue("count", REG_DWORD, "\x78\x56\x34\x12"s);
  larkspan->SetValue("bin", REG_BINARY, "\x00\x7f\xff"s);
  larkspan->SetValue("expand", REG_EXPAND_SZ, "%P%\0"s);
  larkspan->SetValue("multi", REG_MULTI_SZ, "a\0b\0\0"s);
  larkspan->SetValue("qword", REG_QWORD, "\x01\0\0\0\0\0\0\0"s);
  larkspan->SetValue("none", REG_NONE, "");
  larkspan->SetValue("nonul", REG_SZ, "ab");
  larkspan->SetValue("tab", REG_SZ, "a\t\0"s);
  larkspan->SetValue("high", REG_SZ, "\xe9\0"s);
  larkspan->SetValue("short", REG_DWORD, "\x01\x02\x03"s);
  larkspan->SetValue("odd", 0x12345, "\x10"s);
  std::string blob;
  for (char byte = 0; byte < 40; ++byte) blob.push_back(byte);
  KeyAt(larkspan, "Alpha")->SetValue("blob", REG_BINARY, blob);
  KeyAt(larkspan, "beta")->SetValue("", REG_SZ, "\0"s);
  return tree;
}

const std::string kSampleText = Lines({
    "REGEDIT4",
    "",
    "[HKEY_CLASSES_ROOT\\.lks]",
    "@=\"Larkspan.Band\"",
    "",
    "[HKEY_CLASSES_ROOT\\CLSID]",
    "",
    "[HKEY_CLASSES_ROOT\\CLSID\\{1B5A0E7C-0000-4000-8000-00000000AB01}]",
    "",
    "[HKEY_CLASSES_ROOT\\CLSID\\{1B5A0E7C-0000-4000-8000-00000000AB01}\\InprocServer32]",
    "@=\"C:\\\\Larkspan\\\\lark.dll\"",
    "\"ThreadingModel\"=\"Apartment\"",
    "",
    "[HKEY_CLASSES_ROOT\\Empty]",
    "",
    "[HKEY_CURRENT_USER]",
    "\"Version\"=dword:00000002",
    "",
    "[HKEY_CURRENT_USER\\Software]",
    "",
    "[HKEY_CURRENT_USER\\Software\\Larkspan]",
    "\"say \\\"hi\\\"\"=\"a\\\\b\\\"c\"",
    "\"count\"=dword:12345678",
    "\"bin\"=hex:00,7f,ff",
    "\"expand\"=hex(2):25,50,25,00",
    "\"multi\"=hex(7):61,00,62,00,00",
    "\"qword\"=hex(b):01,00,00,00,00,00,00,00",
    "\"none\"=hex(0):",
    "\"nonul\"=hex(1):61,62",
    "\"tab\"=hex(1):61,09,00",
    "\"high\"=hex(1):e9,00",
    "\"short\"=hex(4):01,02,03",
    "\"odd\"=hex(12345):10",
    "",
    "[HKEY_CURRENT_USER\\Software\\Larkspan\\Alpha]",
    "\"blob\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\",
    "  16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27",
    "",
    "[HKEY_CURRENT_USER\\Software\\Larkspan\\beta]",
    "@=\"\"",
    "",
    "[HKEY_CURRENT_USER\\Software\\Larkspan\\Zed]",
    "",
    "[HKEY_CURRENT_USER\\Software\\Larkspan\\_under]",
    "",
});

TEST(RegeditTestTreeTest, FormatsEveryValueFormInKeyOrder) {
  EXPECT_EQ(FormatRegeditFile(SampleTree()), kSampleText);
  EXPECT_EQ(FormatRegeditFile(RegistryTree()), "REGEDIT4\r\n\r\n");
  RegistryTree parsed;
  ASSERT_TRUE(ParseRegeditFile(kSampleText, &parsed));
  EXPECT_EQ(FormatRegeditFile(parsed), kSampleText);
}

TEST(RegeditTestTreeTest, MergesSectionsKeepsFirstPlaceAndCaseAndLeavesOutOtherRoots) {
  RegistryTree tree;
  ASSERT_TRUE(ParseRegeditFile(
      Lines({"REGEDIT4", "; comment", "[HKEY_CURRENT_USER\\A\\b]", "\"x\"=\"1\"", "\"y\"=\"2\"", "",
             "[HKEY_CLASSES_ROOT\\c\\]", "", "; another", "[HKEY_CURRENT_USER\\a\\B]",
             "\"X\"=\"3\"", "[HKEY_CURRENT_USER]", "@=dword:7", "[hkey_local_machine\\A\\b]",
             "\"x\"=\"4\"", "[HKEY_CURRENT_USER\\]", "\"r\"=\"\""}),
      &tree));
  auto b = tree.current_user->FindChild("a")->FindChild("b");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(tree.current_user->FindChild("a")->name(), "A");
  EXPECT_EQ(b->name(), "b");
  ASSERT_EQ(b->values().size(), 2u);
  EXPECT_EQ(b->values()[0].name, "x");
  EXPECT_EQ(b->values()[0].data, "3\0"s);
  EXPECT_EQ(b->values()[1].name, "y");
  EXPECT_EQ(tree.current_user->children().size(), 1u);
  EXPECT_NE(tree.classes_root->FindChild("c"), nullptr);
  ASSERT_EQ(tree.current_user->values().size(), 2u);
  EXPECT_EQ(tree.current_user->values()[0].name, "");
  EXPECT_EQ(tree.current_user->values()[1].name, "r");
}

}  // namespace
