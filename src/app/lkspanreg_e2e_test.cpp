// The built program on a private file store: exit status, silence, and the file it leaves.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "program_run.h"

namespace {

const char kRegistered[] =
    "REGEDIT4\r\n"
    "\r\n"
    "[HKEY_CLASSES_ROOT\\CLSID]\r\n"
    "\r\n"
    "[HKEY_CLASSES_ROOT\\CLSID\\{6F2A9C41-3B7E-4d58-A1C6-20E4B93F7D05}]\r\n"
    "@=\"&Larkspan\"\r\n"
    "\r\n"
    "[HKEY_CLASSES_ROOT\\CLSID\\{6F2A9C41-3B7E-4d58-A1C6-20E4B93F7D05}\\Implemented "
    "Categories]\r\n"
    "\r\n"
    "[HKEY_CLASSES_ROOT\\CLSID\\{6F2A9C41-3B7E-4d58-A1C6-20E4B93F7D05}\\Implemented "
    "Categories\\{00021494-0000-0000-C000-000000000046}]\r\n"
    "\r\n"
    "[HKEY_CLASSES_ROOT\\CLSID\\{6F2A9C41-3B7E-4d58-A1C6-20E4B93F7D05}\\InprocServer32]\r\n"
    "@=\"C:\\\\Program Files\\\\Larkspan\\\\band.dll\"\r\n"
    "\"ThreadingModel\"=\"Apartment\"\r\n"
    "\r\n"
    "[HKEY_CURRENT_USER\\Software]\r\n"
    "\r\n"
    "[HKEY_CURRENT_USER\\Software\\Larkspan]\r\n"
    "\"Path\"=\"C:\\\\Program Files\\\\Larkspan\\\\\"\r\n"
    "\"Name\"=\"lkspan.chm\"\r\n"
    "\r\n"
    "[HKEY_CURRENT_USER\\Software\\Microsoft]\r\n"
    "\r\n"
    "[HKEY_CURRENT_USER\\Software\\Microsoft\\Internet Explorer]\r\n"
    "\r\n"
    "[HKEY_CURRENT_USER\\Software\\Microsoft\\Internet Explorer\\Extensions]\r\n"
    "\r\n"
    "[HKEY_CURRENT_USER\\Software\\Microsoft\\Internet "
    "Explorer\\Extensions\\{6F2A9C41-3B7E-4d58-A1C6-20E4B93F7D05}]\r\n"
    "@=\"Default\"\r\n"
    "\"Default Visible\"=\"Yes\"\r\n"
    "\"ButtonText\"=\"Larkspan\"\r\n"
    "\"HotIcon\"=\"C:\\\\Program Files\\\\Larkspan\\\\band.dll,3006\"\r\n"
    "\"Icon\"=\"C:\\\\Program Files\\\\Larkspan\\\\band.dll,3007\"\r\n"
    "\"CLSID\"=\"{E0DD6CAB-2D10-11D2-8F1A-0000F87ABD16}\"\r\n"
    "\"BandCLSID\"=\"{6F2A9C41-3B7E-4d58-A1C6-20E4B93F7D05}\"\r\n"
    "\r\n";

const char kRemoved[] =
    "REGEDIT4\r\n"
    "\r\n"
    "[HKEY_CLASSES_ROOT\\CLSID]\r\n"
    "\r\n"
    "[HKEY_CURRENT_USER\\Software]\r\n"
    "\r\n"
    "[HKEY_CURRENT_USER\\Software\\Microsoft]\r\n"
    "\r\n"
    "[HKEY_CURRENT_USER\\Software\\Microsoft\\Internet Explorer]\r\n"
    "\r\n"
    "[HKEY_CURRENT_USER\\Software\\Microsoft\\Internet Explorer\\Extensions]\r\n"
    "\r\n";

class ProgramTest : public ::testing::Test {
 protected:
  std::string Store() const { return folder_.path() + "/registry.reg"; }

  // Runs the program on the private store; it must exit 0 and say nothing.
  void Run(const std::vector<std::string>& args) {
    ProgramResult result = RunProgram(LKSPANREG_PATH, args, {"LARKSPAN_REGISTRY=" + Store()});
    EXPECT_EQ(result.exitStatus, 0);
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
  const std::string kCorrupt = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\r\n\"x\"=\"y\r\n";
  WriteFileBytes(Store(), kCorrupt);
  Run({"C:\\b\\band.dll"});
  Run({"/U"});
  EXPECT_EQ(ReadFileBytes(Store()), kCorrupt);
  EXPECT_EQ(FolderEntries(folder_.path()), std::vector<std::string>{"registry.reg"});
}

TEST_F(ProgramTest, FindsItsDefaultStore) {
  ProgramResult result =
      RunProgram(LKSPANREG_PATH, {"C:\\b\\band.dll"},
                 {"XDG_DATA_HOME=" + folder_.path() + "/data", "HOME=" + folder_.path() + "/home"});
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_NE(ReadFileBytes(folder_.path() + "/data/larkspan/registry.reg").find("band.dll"),
            std::string::npos);
  result = RunProgram(LKSPANREG_PATH, {"C:\\b\\band.dll"}, {"HOME=" + folder_.path() + "/home"});
  EXPECT_EQ(result.exitStatus, 0);
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
