#include "unregister_extension.h"

#include "register_extension.h"
#include "registry_fixture.h"

namespace {

const char kClassKey[] = "CLSID\\{6F2A9C41-3B7E-4d58-A1C6-20E4B93F7D05}";
const char kExtensionKey[] =
    "Software\\Microsoft\\Internet Explorer\\Extensions\\{6F2A9C41-3B7E-4d58-A1C6-20E4B93F7D05}";
const char kSettingsKey[] = "Software\\Larkspan";

class UnregisterExtensionTest : public RegistryTest {};

}  // namespace

TEST_F(UnregisterExtensionTest, RemovesTheThreeTreesAndNothingElse) {
  SeedValue(HKEY_CURRENT_USER, "Software\\Larkspan\\Deeper", "x", Sz("y"));
  SeedValue(HKEY_CURRENT_USER, "Software\\Larkspan", "NumberOfBaskets", Dword(1));
  SeedValue(HKEY_CURRENT_USER, "Software\\Microsoft\\Internet Explorer\\Extensions\\{other}", "",
            Sz("neighbour"));
  ASSERT_EQ(RegisterExtension("C:\\b\\band.dll"), 1);
  EXPECT_EQ(UnregisterExtension(), 0);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kSettingsKey));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kExtensionKey));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "CLSID"));
  EXPECT_EQ(ReadValue(HKEY_CURRENT_USER,
                      "Software\\Microsoft\\Internet Explorer\\Extensions\\{other}", ""),
            Sz("neighbour"));
  SHDeleteKeyA(HKEY_CURRENT_USER, "Software\\Microsoft\\Internet Explorer\\Extensions\\{other}");
}

TEST_F(UnregisterExtensionTest, SecondRunDeletesNothingAndFails) {
  ASSERT_EQ(RegisterExtension("C:\\b\\band.dll"), 1);
  ASSERT_EQ(UnregisterExtension(), 0);
  EXPECT_EQ(UnregisterExtension(), SELFREG_E_CLASS);
  EXPECT_EQ(static_cast<uint32_t>(SELFREG_E_CLASS), 0x80040201u);
}

TEST_F(UnregisterExtensionTest, StopsWhenTheSettingsKeyIsGone) {
  ASSERT_EQ(RegisterExtension("C:\\b\\band.dll"), 1);
  ASSERT_EQ(SHDeleteKeyA(HKEY_CURRENT_USER, kSettingsKey), ERROR_SUCCESS);
  EXPECT_EQ(UnregisterExtension(), SELFREG_E_CLASS);
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, kExtensionKey));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kClassKey));
}

TEST_F(UnregisterExtensionTest, StopsWhenTheButtonKeyIsGone) {
  ASSERT_EQ(RegisterExtension("C:\\b\\band.dll"), 1);
  ASSERT_EQ(SHDeleteKeyA(HKEY_CURRENT_USER, kExtensionKey), ERROR_SUCCESS);
  EXPECT_EQ(UnregisterExtension(), SELFREG_E_CLASS);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kSettingsKey));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kClassKey));
}

TEST_F(UnregisterExtensionTest, DeletesKeysStoredInAnotherCase) {
  SeedValue(HKEY_CURRENT_USER, "SOFTWARE\\LARKSPAN", "Path", Sz("C:\\"));
  SeedValue(HKEY_CURRENT_USER,
            "software\\microsoft\\internet explorer\\extensions\\"
            "{6f2a9c41-3b7e-4d58-a1c6-20e4b93f7d05}",
            "Icon", Sz("x"));
  SeedValue(HKEY_CLASSES_ROOT, "clsid\\{6F2A9C41-3B7E-4D58-A1C6-20E4B93F7D05}", "", Sz("x"));
  EXPECT_EQ(UnregisterExtension(), 0);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kSettingsKey));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kExtensionKey));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey));
}
