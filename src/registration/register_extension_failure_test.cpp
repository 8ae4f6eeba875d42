// Registration's failure paths, with failures injected by the in-memory store.
#include <algorithm>
#include <string>
#include <vector>

#include "band_keys.h"
#include "memory_store.h"
#include "register_extension.h"
#include "registry_fixture.h"
#include "registry_store.h"

namespace {

const std::string kClassKey = BandKeyPath(kClassKeyFormat);
const std::string kExtensionKey = BandKeyPath(kButtonKeyFormat);

class RegisterExtensionFailureTest : public ::testing::Test {
 protected:
  MemoryStore store_;
  ScopedRegistryBinding binding_{&store_};

  int CreatesUnder(const std::string& prefix) const {
    return static_cast<int>(std::count_if(
        store_.calls().begin(), store_.calls().end(),
        [&](const std::string& call) { return call.rfind("create " + prefix, 0) == 0; }));
  }
};

}  // namespace

TEST_F(RegisterExtensionFailureTest, NoRightToWriteClassesLeavesTheUserUntouched) {
  store_.FailCreatesUnder(HKEY_CLASSES_ROOT);
  EXPECT_EQ(RegisterExtension("C:\\b\\band.dll"), 0);
  EXPECT_EQ(store_.calls(), (std::vector<std::string>{"create HKCR\\" + kClassKey + " -> 5"}));
  EXPECT_TRUE(store_.tree().current_user->children().empty());
}

TEST_F(RegisterExtensionFailureTest, AFailingButtonRowStopsTheRest) {
  // Creates: 3 class rows, 2 category keys, the settings key, then the seven button rows.
  for (int failing = 1; failing <= 7; ++failing) {
    MemoryStore store;
    ScopedRegistryBinding binding(&store);
    store.FailCreateNumber(6 + failing);
    EXPECT_EQ(RegisterExtension("C:\\b\\band.dll"), 0) << failing;
    std::vector<std::string> written = ValueNames(HKEY_CURRENT_USER, kExtensionKey);
    EXPECT_EQ(written.size(), static_cast<size_t>(failing - 1)) << failing;
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kSettingsKey, "Name"), Sz("lkspan.chm"));
    EXPECT_TRUE(
        KeyExists(HKEY_CLASSES_ROOT,
                  kClassKey + "\\Implemented Categories\\{00021494-0000-0000-C000-000000000046}"));
    EXPECT_EQ(store.open_handles(), 0u);
  }
}

TEST_F(RegisterExtensionFailureTest, CategoryAndSettingsFailuresAreIgnored) {
  store_.FailCreateNumber(4);  // the first category key
  EXPECT_EQ(RegisterExtension("C:\\b\\band.dll"), 1);
  EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kExtensionKey, "Icon"), Sz("C:\\b\\band.dll,3007"));

  MemoryStore store;
  ScopedRegistryBinding binding(&store);
  store.FailCreateNumber(6);  // the settings key
  EXPECT_EQ(RegisterExtension("C:\\b\\band.dll"), 1);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kSettingsKey));
  EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kExtensionKey, "BandCLSID"), Sz(kBandClassId));
  // Nothing was written through a handle that was never opened.
  EXPECT_EQ(std::count(store.calls().begin(), store.calls().end(), "set Path"), 0);
  EXPECT_EQ(store.open_handles(), 0u);
}

TEST_F(RegisterExtensionFailureTest, KeysAreOpenedInOrderAndClosedByTheirStep) {
  ASSERT_EQ(RegisterExtension("C:\\b\\band.dll"), 1);
  std::vector<std::string> key_calls;
  for (const std::string& call : store_.calls()) {
    if (call.rfind("create", 0) == 0 || call == "close") key_calls.push_back(call.substr(0, 11));
  }
  std::vector<std::string> expected = {"create HKCR", "close", "create HKCR", "close",
                                       "create HKCR", "close", "create HKCR", "close",
                                       "create HKCR", "close", "create HKCU", "close"};
  for (int row = 0; row < 7; ++row) {
    expected.push_back("create HKCU");
    expected.push_back("close");
  }
  EXPECT_EQ(key_calls, expected);
  EXPECT_EQ(CreatesUnder("HKCU\\" + std::string(kSettingsKey)), 1);
  EXPECT_EQ(store_.open_handles(), 0u);
}
