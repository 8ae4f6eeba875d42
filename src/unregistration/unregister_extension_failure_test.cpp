// Removal's failure paths, with failures injected by the in-memory store.
#include <string>
#include <vector>

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
  EXPECT_EQ(store.calls(), (std::vector<std::string>{
                               "delete HKCU\\Software\\Larkspan",
                               "delete HKCU\\Software\\Microsoft\\Internet Explorer\\Extensions\\"
                               "{6F2A9C41-3B7E-4d58-A1C6-20E4B93F7D05}",
                               "delete HKCR\\CLSID\\{6F2A9C41-3B7E-4d58-A1C6-20E4B93F7D05} -> 5"}));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\Larkspan"));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT,
                        "CLSID\\{6F2A9C41-3B7E-4d58-A1C6-20E4B93F7D05}\\InprocServer32"));
}

TEST(UnregisterExtensionFailureTest, AMissingFirstKeyStopsEverything) {
  MemoryStore store;
  ScopedRegistryBinding binding(&store);
  EXPECT_EQ(UnregisterExtension(), SELFREG_E_CLASS);
  EXPECT_EQ(store.calls(), (std::vector<std::string>{"delete HKCU\\Software\\Larkspan -> 2"}));
}
