#include "register_extension.h"

#include <string>

#include "band_keys.h"
#include "registry_fixture.h"

namespace {

const std::string kClassKey = BandKeyPath(kClassKeyFormat);
const std::string kServerKey = kClassKey + "\\InprocServer32";
const std::string kExtensionKey = BandKeyPath(kButtonKeyFormat);

std::string Layout() {
  return DumpKey(HKEY_CLASSES_ROOT, kClassKey) + DumpKey(HKEY_CURRENT_USER, kExtensionKey) +
         DumpKey(HKEY_CURRENT_USER, kSettingsKey);
}

bool NothingWritten() {
  return !KeyExists(HKEY_CLASSES_ROOT, kClassKey) && !KeyExists(HKEY_CURRENT_USER, kExtensionKey) &&
         !KeyExists(HKEY_CURRENT_USER, kSettingsKey);
}

class RegisterExtensionTest : public RegistryTest {};

}  // namespace

TEST_F(RegisterExtensionTest, WritesTheWholeLayout) {
  EXPECT_EQ(RegisterExtension("C:\\Program Files\\Larkspan\\band.dll"), 1);
  const std::string classes = "[HKEY_CLASSES_ROOT\\", user = "[HKEY_CURRENT_USER\\";
  EXPECT_EQ(Layout(),
            classes + kClassKey + "]\r\n" +
                "@=\"&Larkspan\"\r\n"
                "\r\n" +
                classes + kClassKey + "\\Implemented Categories]\r\n\r\n" + classes + kClassKey +
                "\\Implemented Categories\\{00021494-0000-0000-C000-000000000046}]\r\n\r\n" +
                classes + kServerKey + "]\r\n" +
                "@=\"C:\\\\Program Files\\\\Larkspan\\\\band.dll\"\r\n"
                "\"ThreadingModel\"=\"Apartment\"\r\n"
                "\r\n" +
                user + kExtensionKey + "]\r\n" +
                "@=\"Default\"\r\n"
                "\"BandCLSID\"=\"" +
                kBandClassId + "\"\r\n" +
                "\"ButtonText\"=\"Larkspan\"\r\n"
                "\"CLSID\"=\"{E0DD6CAB-2D10-11D2-8F1A-0000F87ABD16}\"\r\n"
                "\"Default Visible\"=\"Yes\"\r\n"
                "\"HotIcon\"=\"C:\\\\Program Files\\\\Larkspan\\\\band.dll,3006\"\r\n"
                "\"Icon\"=\"C:\\\\Program Files\\\\Larkspan\\\\band.dll,3007\"\r\n"
                "\r\n" +
                user + kSettingsKey + "]\r\n" +
                "\"Name\"=\"lkspan.chm\"\r\n"
                "\"Path\"=\"C:\\\\Program Files\\\\Larkspan\\\\\"\r\n"
                "\r\n");
  // Exact bytes: every text is REG_SZ with its NUL counted.
  EXPECT_EQ(ReadValue(HKEY_CLASSES_ROOT, kServerKey, ""),
            Sz("C:\\Program Files\\Larkspan\\band.dll"));
  EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kSettingsKey, "Path")->data.size(), 27u);
}

TEST_F(RegisterExtensionTest, SecondRunLeavesTheSameLayout) {
  ASSERT_EQ(RegisterExtension("C:\\Program Files\\Larkspan\\band.dll"), 1);
  std::string once = Layout();
  EXPECT_EQ(RegisterExtension("C:\\Program Files\\Larkspan\\band.dll"), 1);
  EXPECT_EQ(Layout(), once);
  // A different path overwrites every value that depends on it.
  EXPECT_EQ(RegisterExtension("D:\\x\\y.dll"), 1);
  EXPECT_EQ(ReadValue(HKEY_CLASSES_ROOT, kServerKey, ""), Sz("D:\\x\\y.dll"));
  EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kExtensionKey, "Icon"), Sz("D:\\x\\y.dll,3007"));
  EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kSettingsKey, "Path"), Sz("D:\\x\\"));
}

struct PathCase {
  const char* server_path;
  const char* install_dir;
};

TEST_F(RegisterExtensionTest, StoresOddPathsAsTheyStand) {
  static const PathCase kCases[] = {
      {"C:\\dir\\", "C:\\"},   // a trailing backslash is not the separator
      {".\\band.dll", ".\\"},  // never made absolute
      {"band.dll", ""},        // no folder at all
      {"C:\\100%s\\%n%x%%\\b.dll", "C:\\100%s\\%n%x%%\\"},   // "%" is not a directive
      {"C:\\Pro gram\\\xE9\xFF\x80.dll", "C:\\Pro gram\\"},  // 8-bit bytes kept
  };
  for (const PathCase& c : kCases) {
    std::string path = c.server_path;
    EXPECT_EQ(RegisterExtension(c.server_path), 1) << path;
    EXPECT_EQ(ReadValue(HKEY_CLASSES_ROOT, kServerKey, ""), Sz(path));
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kExtensionKey, "Icon"), Sz(path + ",3007"));
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kExtensionKey, "HotIcon"), Sz(path + ",3006"));
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kSettingsKey, "Path"), Sz(c.install_dir));
  }
}

TEST_F(RegisterExtensionTest, TakesPathsUpTo254Characters) {
  std::string longest = "C:\\" + std::string(kMaxServerPath - 9, 'p') + "\\a.dll";
  ASSERT_EQ(longest.size(), 254u);
  EXPECT_EQ(RegisterExtension(longest.c_str()), 1);
  EXPECT_EQ(ReadValue(HKEY_CLASSES_ROOT, kServerKey, ""), Sz(longest));
  auto icon = ReadValue(HKEY_CURRENT_USER, kExtensionKey, "Icon");
  ASSERT_TRUE(icon.has_value());
  EXPECT_EQ(icon->data.size(), 260u);
  EXPECT_EQ(*icon, Sz(longest + ",3007"));
}

TEST_F(RegisterExtensionTest, WritesNothingForAnEmptyOrTooLongPath) {
  std::string too_long = "C:\\" + std::string(kMaxServerPath - 8, 'p') + "\\a.dll";
  ASSERT_EQ(too_long.size(), 255u);
  EXPECT_EQ(RegisterExtension(too_long.c_str()), 0);
  EXPECT_TRUE(NothingWritten());
  EXPECT_EQ(RegisterExtension(std::string(100000, 'x').c_str()), 0);
  EXPECT_TRUE(NothingWritten());
  EXPECT_EQ(RegisterExtension(""), 0);
  EXPECT_TRUE(NothingWritten());
}

TEST_F(RegisterExtensionTest, WritesIntoKeysStoredInAnotherCase) {
  SeedValue(HKEY_CURRENT_USER, "SOFTWARE\\LARKSPAN", "PATH", Sz("old"));
  SeedValue(HKEY_CURRENT_USER, kSettingsKey, "Other", Sz("kept"));
  EXPECT_EQ(RegisterExtension("C:\\new\\band.dll"), 1);
  EXPECT_EQ(ValueNames(HKEY_CURRENT_USER, "software\\larkspan"),
            (std::vector<std::string>{"Name", "Other", "PATH"}));
  EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kSettingsKey, "Path"), Sz("C:\\new\\"));
  EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kSettingsKey, "Other"), Sz("kept"));
}
