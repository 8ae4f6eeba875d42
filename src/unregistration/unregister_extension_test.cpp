#include "unregister_extension.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "band_keys.h"
#include "register_extension.h"
#include "registry_fixture.h"

namespace {

const std::string kClassKey = BandKeyPath(kClassKeyFormat);
const std::string kExtensionKey = BandKeyPath(kButtonKeyFormat);

// `text` with every letter passed through `change` (toupper, tolower).
std::string InCase(std::string text, int (*change)(int)) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [&](char c) { return static_cast<char>(change(static_cast<unsigned char>(c))); });
  return text;
}

class UnregisterExtensionTest : public RegistryTest {};

}  // namespace

TEST_F(UnregisterExtensionTest, RemovesTheThreeTreesAndNothingElse) {
  SeedValue(HKEY_CURRENT_USER, kSettingsKey + std::string("\\Deeper"), "x", Sz("y"));
  SeedValue(HKEY_CURRENT_USER, kSettingsKey, "NumberOfBaskets", Dword(1));
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
  ASSERT_EQ(SHDeleteKeyA(HKEY_CURRENT_USER, kExtensionKey.c_str()), ERROR_SUCCESS);
  EXPECT_EQ(UnregisterExtension(), SELFREG_E_CLASS);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kSettingsKey));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kClassKey));
}

TEST_F(UnregisterExtensionTest, DeletesKeysStoredInAnotherCase) {
  SeedValue(HKEY_CURRENT_USER, InCase(kSettingsKey, toupper), "Path", Sz("C:\\"));
  SeedValue(HKEY_CURRENT_USER, InCase(kExtensionKey, tolower), "Icon", Sz("x"));
  SeedValue(HKEY_CLASSES_ROOT, "clsid\\" + InCase(kBandClassId, toupper), "", Sz("x"));
  EXPECT_EQ(UnregisterExtension(), 0);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kSettingsKey));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kExtensionKey));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey));
}
