#include "entry.h"

#include <string>
#include <vector>

#include "band_keys.h"
#include "memory_store.h"
#include "registry_fixture.h"
#include "registry_store.h"

namespace {

struct EntryCase {
  std::vector<const char*> args;  // after the program name
  const std::string* first_call;  // null: the registry is not touched
};

const std::string kRegister = "create HKCR\\" + BandKeyPath(kClassKeyFormat);
const std::string kUnregister = "delete HKCU\\" + std::string(kSettingsKey) + " -> 2";

}  // namespace

TEST(EntryTest, PicksTheJobFromTheFirstArgumentOnly) {
  const EntryCase kCases[] = {
      {{}, nullptr},
      {{"/U"}, &kUnregister},
      {{"/U", "C:\\b.dll"}, &kUnregister},
      {{"/u"}, &kRegister},
      {{"-U"}, &kRegister},
      {{"/U2"}, &kRegister},
      {{"/U "}, &kRegister},
      {{"C:\\b.dll", "/U"}, &kRegister},
      {{""}, nullptr},  // an empty path writes nothing
  };
  for (const EntryCase& c : kCases) {
    MemoryStore store;
    ScopedRegistryBinding binding(&store);
    std::vector<const char*> argv = {"lkspanreg"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    std::string shown = c.args.empty() ? "(none)" : c.args[0];
    EXPECT_EQ(RunEntry(static_cast<int>(argv.size()), argv.data()), 0) << shown;
    if (c.first_call == nullptr) {
      EXPECT_TRUE(store.calls().empty()) << shown;
    } else {
      ASSERT_FALSE(store.calls().empty()) << shown;
      EXPECT_EQ(store.calls().front(), *c.first_call) << shown;
    }
  }
}

TEST(EntryTest, TakesAnArgumentThatLooksLikeTheSwitchAsThePath) {
  MemoryStore store;
  ScopedRegistryBinding binding(&store);
  const char* argv[] = {"lkspanreg", "/u"};
  EXPECT_EQ(RunEntry(2, argv), 0);
  EXPECT_EQ(ReadValue(HKEY_CLASSES_ROOT, BandKeyPath(kClassKeyFormat) + "\\InprocServer32", ""),
            Sz("/u"));
}

TEST(EntryTest, ReturnsZeroWhenTheJobFails) {
  MemoryStore store;
  ScopedRegistryBinding binding(&store);
  store.FailCreatesUnder(HKEY_CLASSES_ROOT);
  const char* reg[] = {"lkspanreg", "C:\\b.dll"};
  EXPECT_EQ(RunEntry(2, reg), 0);
  const char* unreg[] = {"lkspanreg", "/U"};
  EXPECT_EQ(RunEntry(2, unreg), 0);
  EXPECT_EQ(store.calls().back(), kUnregister);
}
