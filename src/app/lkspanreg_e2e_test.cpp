// The built program on a private file store: exit status, silence, and the file it leaves.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "band_keys.h"
#include "program_run.h"
#include "scenario_table.h"

namespace {

using namespace std::string_literals;

// A store made by the program holds a section for each key with values and for each key with
// nothing below it; their parents are there through them.
const std::string kClassKey = "[HKEY_CLASSES_ROOT\\" + BandKeyPath(kClassKeyFormat);
const std::string kRegistered =
    "REGEDIT4\r\n"
    "\r\n" +
    kClassKey + "]\r\n" +
    "@=\"&Larkspan\"\r\n"
    "\r\n" +
    kClassKey + "\\Implemented Categories\\{00021494-0000-0000-C000-000000000046}]\r\n\r\n" +
    kClassKey + "\\InprocServer32]\r\n" +
    "@=\"C:\\\\Program Files\\\\Larkspan\\\\band.dll\"\r\n"
    "\"ThreadingModel\"=\"Apartment\"\r\n"
    "\r\n"
    "[HKEY_CURRENT_USER\\" +
    kSettingsKey + "]\r\n" +
    "\"Path\"=\"C:\\\\Program Files\\\\Larkspan\\\\\"\r\n"
    "\"Name\"=\"lkspan.chm\"\r\n"
    "\r\n"
    "[HKEY_CURRENT_USER\\" +
    BandKeyPath(kButtonKeyFormat) + "]\r\n" +
    "@=\"Default\"\r\n"
    "\"Default Visible\"=\"Yes\"\r\n"
    "\"ButtonText\"=\"Larkspan\"\r\n"
    "\"HotIcon\"=\"C:\\\\Program Files\\\\Larkspan\\\\band.dll,3006\"\r\n"
    "\"Icon\"=\"C:\\\\Program Files\\\\Larkspan\\\\band.dll,3007\"\r\n"
    "\"CLSID\"=\"{E0DD6CAB-2D10-11D2-8F1A-0000F87ABD16}\"\r\n"
    "\"BandCLSID\"=\"" +
    kBandClassId + "\"\r\n\r\n";

// The removal leaves the keys that held the deleted ones, each through a section of its own or
// of a key below it.
const char kRemoved[] =
    "REGEDIT4\r\n"
    "\r\n"
    "[HKEY_CLASSES_ROOT\\CLSID]\r\n"
    "\r\n"
    "[HKEY_CURRENT_USER\\Software\\Microsoft\\Internet Explorer\\Extensions]\r\n"
    "\r\n";

// The UTF-16LE bytes of `text`.
std::string Utf16(std::u16string_view text) {
  std::string bytes;
  for (char16_t unit : text)
    bytes += {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
  return bytes;
}

class ProgramTest : public ::testing::Test {
 protected:
  std::string Store() const { return folder_.path() + "/registry.reg"; }

  // Runs the program on the private store; it must exit 0 and say nothing.
  void Run(const std::vector<std::string>& args) {
    ProgramResult result = RunProgram(LKSPANREG_PATH, args, {"LARKSPAN_REGISTRY=" + Store()});
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
  }

  TempFolder folder_;
};

}  // namespace

TEST_F(ProgramTest, RegistersAndRemovesTheBand) {
  Run({"C:\\Program Files\\Larkspan\\band.dll"});
  EXPECT_EQ(ReadFileBytes(Store()), kRegistered);
  Run({"C:\\Program Files\\Larkspan\\band.dll"});
  EXPECT_EQ(ReadFileBytes(Store()), kRegistered);
  Run({"/U"});
  EXPECT_EQ(ReadFileBytes(Store()), kRemoved);
  Run({"/U"});
  EXPECT_EQ(ReadFileBytes(Store()), kRemoved);
  EXPECT_EQ(FolderEntries(folder_.path()), std::vector<std::string>{"registry.reg"});
}

TEST_F(ProgramTest, DoesNotCreateTheStoreWithoutAJob) {
  Run({});
  Run({"/U"});
  Run({""});
  EXPECT_FALSE(FileExists(Store()));
}

TEST_F(ProgramTest, LeavesAnUnreadableStoreAsItIs) {
  const std::string unreadable =
      "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software]\r\n\"x\"=\"\0\"\r\n"s;
  WriteFileBytes(Store(), unreadable);
  Run({"C:\\b\\band.dll"});
  Run({"/U"});
  EXPECT_EQ(ReadFileBytes(Store()), unreadable);
  EXPECT_EQ(FolderEntries(folder_.path()), std::vector<std::string>{"registry.reg"});
}

TEST_F(ProgramTest, EditsAStoreThatRegExportWroteInUtf16) {
  // Wine's reg export of an old basket list, in UTF-16 with Latin-1 texts, escaped line breaks
  // and UTF-16 hex(2) and hex(7) data. It stays UTF-16, untouched up to the first text the upgrade
  // moves; a moved text is Latin-1 text, or hex(1) data of UTF-16 text.
  const std::string exported = ReadFileBytes(LKSPAN_INTERCHANGE "/wine-export.reg");
  WriteFileBytes(Store(), exported);
  Run({"C:\\Larkspan\\band.dll"});
  std::string store = ReadFileBytes(Store());
  size_t moved = exported.find(Utf16(u"\"2\"="));
  EXPECT_EQ(store.substr(0, moved), exported.substr(0, moved));
  EXPECT_EQ(store.find(Utf16(u"\"2\"=dword:00000002\r\n\"3\"=\"Th\u00e9\"\r\n\"Folder\"=")), moved);
  EXPECT_NE(
      store.find(Utf16(
          u"\"4\"=hex(1):4c,00,69,00,6e,00,65,00,20,00,31,00,0d,00,0a,00,4c,00,69,00,6e,00,\\\r\n"
          u"  65,00,20,00,32,00,00,00\r\n")),
      std::string::npos);
}

TEST_F(ProgramTest, WritesTheStoreThatWineImports) {
  // tests/interchange/native-store.reg, which lkspanreg_wine_tests imports into Wine's registry
  // with regedit and reads back with reg export, is what this run writes: a registration with a
  // Latin-1 path over a basket list and values of every kind that Wine's tools carry unchanged.
  WriteFileBytes(
      Store(),
      "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Larkspan]\r\n"
      "\"NumberOfBaskets\"=dword:00000002\r\n"
      "\"0\"=hex(1):43,61,66,e9,00\r\n"
      "\"1\"=hex(1):43,3a,5c,42,61,73,6b,65,74,73,5c,63,61,66,e9,2e,6c,6b,62,00\r\n"
      "\"2\"=\"Tea\"\r\n\"3\"=\"C:\\\\Baskets\\\\tea.lkb\"\r\n"
      "\"Folder\"=hex(2):25,41,50,50,44,41,54,41,25,5c,4c,61,72,6b,73,70,61,6e,00\r\n"
      "\"Recent\"=hex(7):43,61,66,e9,00,54,65,61,00,00\r\n"
      "\"Window\"=hex:00,01,fe,ff\r\n\"Opened\"=hex(b):00,40,5e,d6,84,cf,da,01\r\n"
      "\"Flags\"=hex:\r\n\"Marker\"=hex(0):\r\n\"Note\"=hex(1):61,09,62,0d,0a,63,00\r\n\r\n"
      "[HKEY_CURRENT_USER\\Software\\Larkspan\\Window]\r\n"
      "@=\"main\"\r\n\"Left\"=dword:00000010\r\n\r\n");
  Run({"C:\\Program Files\\Caf\xe9\\band%1.dll"});
  EXPECT_EQ(ReadFileBytes(Store()), ReadFileBytes(LKSPAN_INTERCHANGE "/native-store.reg"));
}

TEST_F(ProgramTest, FindsItsDefaultStore) {
  ProgramResult result =
      RunProgram(LKSPANREG_PATH, {"C:\\b\\band.dll"},
                 {"XDG_DATA_HOME=" + folder_.path() + "/data", "HOME=" + folder_.path() + "/home"});
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_NE(ReadFileBytes(folder_.path() + "/data/larkspan/registry.reg").find("band.dll"),
            std::string::npos);
  result = RunProgram(LKSPANREG_PATH, {"C:\\b\\band.dll"}, {"HOME=" + folder_.path() + "/home"});
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_NE(
      ReadFileBytes(folder_.path() + "/home/.local/share/larkspan/registry.reg").find("band.dll"),
      std::string::npos);
}

TEST_F(ProgramTest, UpgradesAnOldBasketList) {
  WriteFileBytes(Store(),
                 "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Larkspan]\r\n"
                 "\"NumberOfBaskets\"=dword:00000001\r\n\"0\"=\"Fruit\"\r\n"
                 "\"1\"=\"C:\\\\fruit.txt\"\r\n\r\n");
  Run({"C:\\b\\band.dll"});
  std::string store = ReadFileBytes(Store());
  EXPECT_NE(store.find("[HKEY_CURRENT_USER\\Software\\Larkspan]\r\n"
                       "\"NumberOfBaskets\"=dword:00000001\r\n\"0\"=\"Fruit\"\r\n"
                       "\"1\"=\"C:\\\\fruit.txt\"\r\n\"Path\"=\"C:\\\\b\\\\\"\r\n"
                       "\"Name\"=\"lkspan.chm\"\r\n\"2\"=dword:00000002\r\n\r\n"),
            std::string::npos)
      << store;
}

// Every row of the scenario table, on a private file store that starts as the row's registry.
class ScenarioTest : public ::testing::TestWithParam<Scenario> {};

TEST_P(ScenarioTest, OnTheFileStore) {
  const Scenario& row = GetParam();
  ASSERT_EQ(row.error, "");
  if (row.skip.count("native")) GTEST_SKIP() << row.skip.at("native");
  TempFolder folder;
  std::string store = folder.path() + "/registry.reg";
  if (!row.before.empty()) WriteFileBytes(store, row.before);
  for (const std::vector<std::string>& args : row.runs) {
    ProgramResult result = RunProgram(LKSPANREG_PATH, args, {"LARKSPAN_REGISTRY=" + store});
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
  }
  std::string after;
  ASSERT_TRUE(BandTrees({FileExists(store) ? ReadFileBytes(store) : "REGEDIT4\r\n"}, &after));
  EXPECT_EQ(after, row.ExpectedAfter("native"));
}

INSTANTIATE_TEST_SUITE_P(Table, ScenarioTest, ::testing::ValuesIn(LoadScenarios(LKSPAN_SCENARIOS)),
                         [](const ::testing::TestParamInfo<Scenario>& row) {
                           return row.param.name;
                         });
