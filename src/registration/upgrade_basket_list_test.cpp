#include "upgrade_basket_list.h"

#include <string>

#include "band_keys.h"
#include "register_extension.h"
#include "registry_fixture.h"
#include "scoped_key.h"

namespace {

std::string ShortText(int i) {
  return "basket " + std::to_string(i);
}
std::string LongText(int i) {
  return "C:\\baskets\\" + std::to_string(i) + "\\list.txt";
}

void SeedValue(const std::string& name, const StoredValue& value) {
  SeedValue(HKEY_CURRENT_USER, kSettingsKey, name, value);
}

void SeedOldList(int count) {
  SeedValue("NumberOfBaskets", Dword(static_cast<uint32_t>(count)));
  for (int i = 0; i < count; ++i) {
    SeedValue(std::to_string(2 * i), Sz(ShortText(i)));
    SeedValue(std::to_string(2 * i + 1), Sz(LongText(i)));
  }
}

std::optional<StoredValue> Basket(int index) {
  return ReadValue(HKEY_CURRENT_USER, kSettingsKey, std::to_string(index));
}

void Upgrade() {
  ScopedKey key;
  ASSERT_EQ(key.Create(HKEY_CURRENT_USER, kSettingsKey, KEY_ALL_ACCESS), ERROR_SUCCESS);
  UpgradeBasketList(key.get());
}

std::string Settings() {
  return DumpKey(HKEY_CURRENT_USER, kSettingsKey);
}

class UpgradeBasketListTest : public RegistryTest {};

}  // namespace

TEST_F(UpgradeBasketListTest, ConvertsTwoBasketsInPlace) {
  SeedOldList(2);
  Upgrade();
  EXPECT_EQ(Basket(0), Sz(ShortText(0)));
  EXPECT_EQ(Basket(1), Sz(LongText(0)));
  EXPECT_EQ(Basket(2), Dword(2));
  EXPECT_EQ(Basket(3), Sz(ShortText(1)));
  EXPECT_EQ(Basket(4), Sz(LongText(1)));
  EXPECT_EQ(Basket(5), Dword(2));
  EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kSettingsKey, "NumberOfBaskets"), Dword(2));
  EXPECT_EQ(ValueNames(HKEY_CURRENT_USER, kSettingsKey),
            (std::vector<std::string>{"0", "1", "2", "3", "4", "5", "NumberOfBaskets"}));
}

TEST_F(UpgradeBasketListTest, ConvertsOneBasket) {
  SeedOldList(1);
  Upgrade();
  EXPECT_EQ(Basket(0), Sz(ShortText(0)));
  EXPECT_EQ(Basket(1), Sz(LongText(0)));
  EXPECT_EQ(Basket(2), Dword(2));
  EXPECT_FALSE(Basket(3).has_value());
}

TEST_F(UpgradeBasketListTest, LeavesListsWithoutBasketsAlone) {
  const StoredValue kCounts[] = {Dword(0), Dword(0xFFFFFFFF), Dword(0x80000000),
                                 Dword(kMaxBaskets + 1),
                                 StoredValue{REG_BINARY, std::string(8, '\1')}};
  Upgrade();  // no count at all
  EXPECT_EQ(Settings(), "[HKEY_CURRENT_USER\\" + std::string(kSettingsKey) + "]\r\n\r\n");
  for (const StoredValue& count : kCounts) {
    SeedValue("NumberOfBaskets", count);
    SeedValue("0", Sz(ShortText(0)));
    SeedValue("1", Sz(LongText(0)));
    std::string before = Settings();
    Upgrade();
    EXPECT_EQ(Settings(), before) << count;
  }
}

TEST_F(UpgradeBasketListTest, LeavesACurrentListAlone) {
  SeedValue("NumberOfBaskets", Dword(2));
  SeedValue("0", Sz("a"));
  SeedValue("1", Sz("b"));
  SeedValue("2", Dword(2));
  SeedValue("3", Sz("c"));
  SeedValue("4", Sz("d"));
  SeedValue("5", Dword(2));
  std::string before = Settings();
  Upgrade();
  EXPECT_EQ(Settings(), before);
}

TEST_F(UpgradeBasketListTest, RegistrationConvertsOnceOnly) {
  SeedOldList(2);
  ASSERT_EQ(RegisterExtension("C:\\b\\band.dll"), 1);
  EXPECT_EQ(Basket(5), Dword(2));
  SeedValue("0", Sz("renamed after the upgrade"));
  std::string converted = Settings();
  ASSERT_EQ(RegisterExtension("C:\\b\\band.dll"), 1);
  EXPECT_EQ(Settings(), converted);
}

TEST_F(UpgradeBasketListTest, ConvertsTheLongestListWithFullTexts) {
  SeedValue("NumberOfBaskets", Dword(kMaxBaskets));
  auto short_text = [](int i) { return std::string(31, static_cast<char>('a' + i % 26)); };
  auto long_text = [](int i) { return std::string(259, static_cast<char>('A' + i % 26)); };
  for (int i = 0; i < kMaxBaskets; ++i) {
    SeedValue(std::to_string(2 * i), Sz(short_text(i)));
    SeedValue(std::to_string(2 * i + 1), Sz(long_text(i)));
  }
  Upgrade();
  for (int i = 0; i < kMaxBaskets; ++i) {
    ASSERT_EQ(Basket(3 * i), Sz(short_text(i))) << i;
    ASSERT_EQ(Basket(3 * i + 1), Sz(long_text(i))) << i;
    ASSERT_EQ(Basket(3 * i + 2), Dword(2)) << i;
  }
  EXPECT_EQ(ValueNames(HKEY_CURRENT_USER, kSettingsKey).size(), 3u * kMaxBaskets + 1);
}

TEST_F(UpgradeBasketListTest, TextsThatCannotBeReadBecomeEmpty) {
  SeedValue("NumberOfBaskets", Dword(3));
  SeedValue("0", Sz(ShortText(0)));
  // [1] is missing: basket 0 must not get basket 1's short text, read just before.
  SeedValue("2", Sz(ShortText(1)));
  SeedValue("3", Sz(std::string(260, 'L')));  // one byte over its limit with the NUL
  SeedValue("4", Sz(std::string(32, 's')));   // likewise
  SeedValue("5", Sz(LongText(2)));
  Upgrade();
  EXPECT_EQ(Basket(0), Sz(ShortText(0)));
  EXPECT_EQ(Basket(1), Sz(""));
  EXPECT_EQ(Basket(3), Sz(ShortText(1)));
  EXPECT_EQ(Basket(4), Sz(""));
  EXPECT_EQ(Basket(6), Sz(""));
  EXPECT_EQ(Basket(7), Sz(LongText(2)));
  EXPECT_EQ(Basket(8), Dword(2));
}

TEST_F(UpgradeBasketListTest, TextsWithoutTheirNulGetOne) {
  SeedValue("NumberOfBaskets", Dword(2));
  SeedValue("0", StoredValue{REG_SZ, "short"});
  SeedValue("1", StoredValue{REG_SZ, "no end"});
  SeedValue("2", StoredValue{REG_BINARY, "ab"});
  SeedValue("3", StoredValue{REG_SZ, std::string(200, 'L')});
  Upgrade();
  EXPECT_EQ(Basket(0), Sz("short"));
  EXPECT_EQ(Basket(1), Sz("no end"));
  EXPECT_EQ(Basket(3), Sz("ab"));
  EXPECT_EQ(Basket(4), Sz(std::string(200, 'L')));
}

TEST_F(UpgradeBasketListTest, CountsShorterThanFourBytesHaveZeroHighBytes) {
  // 0x014D is 333; any other high byte would make the count too large or negative.
  SeedValue("NumberOfBaskets", StoredValue{REG_BINARY, std::string("\x4D\x01", 2)});
  SeedValue("664", Sz("last short"));
  SeedValue("665", Sz("last long"));
  Upgrade();
  EXPECT_EQ(Basket(998), Dword(2));
  EXPECT_EQ(Basket(997), Sz("last long"));
  EXPECT_EQ(Basket(996), Sz("last short"));
  // A one-byte count: one basket, whose test value [2] now holds a text of six bytes, too long
  // for a number, so the list is taken as old.
  SeedValue("NumberOfBaskets", StoredValue{REG_BINARY, std::string(1, '\1')});
  SeedValue("2", Sz("stays"));
  Upgrade();
  EXPECT_EQ(Basket(2), Dword(2));
}
