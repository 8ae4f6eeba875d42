#include "write_registry_rows.h"

#include <string>
#include <vector>

#include "memory_store.h"
#include "registry_fixture.h"
#include "registry_store.h"

namespace {

static const RegistryRow kRows[] = {
    {HKEY_CURRENT_USER, "A\\%s", nullptr, "first %s"},
    {HKEY_CURRENT_USER, "A\\%s\\B", "two", "second"},
    {HKEY_CLASSES_ROOT, "C", "three", "%s,3"},
    {nullptr, nullptr, nullptr, nullptr},
};

class WriteRegistryRowsTest : public ::testing::Test {
 protected:
  MemoryStore store_;
  ScopedRegistryBinding binding_{&store_};
};

}  // namespace

TEST_F(WriteRegistryRowsTest, WritesEveryRowThroughItsOwnKey) {
  EXPECT_EQ(WriteRegistryRows(kRows, "{id}", "C:\\p%s.dll"), ERROR_SUCCESS);
  EXPECT_EQ(store_.calls(),
            (std::vector<std::string>{"create HKCU\\A\\{id}", "set (default)", "close",
                                      "create HKCU\\A\\{id}\\B", "set two", "close",
                                      "create HKCR\\C", "set three", "close"}));
  EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, "A\\{id}", ""), Sz("first C:\\p%s.dll"));
  EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, "A\\{id}\\B", "two"), Sz("second"));
  EXPECT_EQ(ReadValue(HKEY_CLASSES_ROOT, "C", "three"), Sz("C:\\p%s.dll,3"));
  EXPECT_EQ(store_.open_handles(), 0u);
}

TEST_F(WriteRegistryRowsTest, StopsAtTheFirstKeyThatCannotBeCreated) {
  store_.FailCreateNumber(2, ERROR_ACCESS_DENIED);
  EXPECT_EQ(WriteRegistryRows(kRows, "{id}", "x"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, "A\\{id}", ""), Sz("first x"));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "A\\{id}\\B"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "C"));
  EXPECT_EQ(store_.calls().back(), "create HKCU\\A\\{id}\\B -> 5");
  EXPECT_EQ(store_.open_handles(), 0u);
}

TEST_F(WriteRegistryRowsTest, RejectsAKeyNameThatDoesNotFit) {
  std::string id(300, 'x');
  EXPECT_EQ(WriteRegistryRows(kRows, id.c_str(), "p"), ERROR_INVALID_PARAMETER);
  EXPECT_TRUE(store_.calls().empty());
}
