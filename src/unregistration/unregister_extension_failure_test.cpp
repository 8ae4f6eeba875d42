// Removal's failure paths, with failures injected by the in-memory store.
#include <string>
#include <vector>

#include "band_keys.h"
#include "memory_store.h"
#include "register_extension.h"
#include "registry_fixture.h"
#include "registry_store.h"
#include "unregister_extension.h"

TEST(UnregisterExtensionFailureTest, NoRightToWriteClassesKeepsTheClassOnly) {
  MemoryStore store;
  ScopedRegistryBinding binding(&store);
  ASSERT_EQ(RegisterExtension("C:\\b\\band.dll"), 1);
  store.FailDeletesUnder(HKEY_CLASSES_ROOT);
  store.ClearCalls();
  EXPECT_EQ(UnregisterExtension(), SELFREG_E_CLASS);
  EXPECT_EQ(store.calls(),
            (std::vector<std::string>{"delete HKCU\\" + std::string(kSettingsKey),
                                      "delete HKCU\\" + BandKeyPath(kButtonKeyFormat),
                                      "delete HKCR\\" + BandKeyPath(kClassKeyFormat) + " -> 5"}));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kSettingsKey));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, BandKeyPath(kClassKeyFormat) + "\\InprocServer32"));
}

TEST(UnregisterExtensionFailureTest, AMissingFirstKeyStopsEverything) {
  MemoryStore store;
  ScopedRegistryBinding binding(&store);
  EXPECT_EQ(UnregisterExtension(), SELFREG_E_CLASS);
  EXPECT_EQ(store.calls(),
            (std::vector<std::string>{"delete HKCU\\" + std::string(kSettingsKey) + " -> 2"}));
}
