// The order of the upgrade's registry calls, as the in-memory store records them.
#include <string>
#include <vector>

#include "memory_store.h"
#include "registry_fixture.h"
#include "registry_store.h"
#include "scoped_key.h"
#include "upgrade_basket_list.h"

namespace {

std::vector<std::string> UpgradeCalls(const StoredValue& count, int old_baskets) {
  MemoryStore store;
  ScopedRegistryBinding binding(&store);
  SeedValue(HKEY_CURRENT_USER, "Software\\Larkspan", "NumberOfBaskets", count);
  for (int i = 0; i < 2 * old_baskets; ++i) {
    SeedValue(HKEY_CURRENT_USER, "Software\\Larkspan", std::to_string(i), Sz("t"));
  }
  ScopedKey key;
  key.Create(HKEY_CURRENT_USER, "Software\\Larkspan", KEY_ALL_ACCESS);
  store.ClearCalls();
  UpgradeBasketList(key.get());
  return store.calls();
}

}  // namespace

TEST(UpgradeBasketListCallsTest, WritesFromTheTopDownReadingEachTextFirst) {
  EXPECT_EQ(UpgradeCalls(Dword(2), 2),
            (std::vector<std::string>{"query NumberOfBaskets", "query 5 -> 2", "set 5", "query 3",
                                      "set 4", "query 2", "set 3", "set 2", "query 1", "set 1",
                                      "query 0", "set 0"}));
}

TEST(UpgradeBasketListCallsTest, ReadsNothingPastAnUnusableCount) {
  const StoredValue kCounts[] = {Dword(0), Dword(0xFFFFFFFF), Dword(kMaxBaskets + 1),
                                 Dword(0x7FFFFFFF)};
  for (const StoredValue& count : kCounts) {
    EXPECT_EQ(UpgradeCalls(count, 1), (std::vector<std::string>{"query NumberOfBaskets"})) << count;
  }
  EXPECT_EQ(UpgradeCalls(StoredValue{REG_DWORD, std::string(8, '\0')}, 1),
            (std::vector<std::string>{"query NumberOfBaskets -> 234"}));
}

// The in-memory store, like Windows, hands back a text stored without its NUL as it stands
// when it fills the read's whole limit; the upgrade ends it within the limit.
TEST(UpgradeBasketListCallsTest, TextsFillingTheLimitWithoutNulLoseTheirLastByte) {
  MemoryStore store;
  ScopedRegistryBinding binding(&store);
  const std::string key = "Software\\Larkspan";
  SeedValue(HKEY_CURRENT_USER, key, "NumberOfBaskets", Dword(1));
  SeedValue(HKEY_CURRENT_USER, key, "0", StoredValue{REG_SZ, std::string(32, 's')});
  SeedValue(HKEY_CURRENT_USER, key, "1", StoredValue{REG_SZ, std::string(260, 'L')});
  ScopedKey settings;
  ASSERT_EQ(settings.Create(HKEY_CURRENT_USER, key.c_str(), KEY_ALL_ACCESS), ERROR_SUCCESS);
  UpgradeBasketList(settings.get());
  EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, key, "0"), Sz(std::string(31, 's')));
  EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, key, "1"), Sz(std::string(259, 'L')));
}
