#include "registry_tree.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

TEST(RegistryTreeTest, NamesMatchWithoutCaseOfAsciiLettersOnly) {
  EXPECT_TRUE(NamesEqual("InprocServer32", "INPROCSERVER32"));
  EXPECT_TRUE(NamesEqual("", ""));
  EXPECT_FALSE(NamesEqual("a", "a "));
  EXPECT_FALSE(NamesEqual("\xc9", "\xe9"));  // only ASCII letters fold
  EXPECT_FALSE(NamesEqual("[", "{"));        // 0x5B and 0x7B differ by the case bit only

  // Letters sort as capitals, so the punctuation between 'Z' and 'a' comes after every letter.
  RegistryKey key("k");
  bool created = false;
  for (const char* name : {"beta", "_u", "Alpha", "[x", "Zed", "a1"}) key.AddChild(name, &created);
  std::vector<std::string> order;
  for (const auto& [name, child] : key.children()) order.push_back(child->name());
  EXPECT_EQ(order, (std::vector<std::string>{"a1", "Alpha", "beta", "Zed", "[x", "_u"}));
}

TEST(RegistryTreeTest, KeysAndValuesKeepTheCaseTheyWereFirstWrittenIn) {
  RegistryKey root("root");
  bool created = false;
  auto key = root.AddChild("Larkspan", &created);
  EXPECT_TRUE(created);
  EXPECT_EQ(root.AddChild("LARKSPAN", &created), key);
  EXPECT_FALSE(created);
  EXPECT_EQ(root.FindChild("larkspan"), key);
  EXPECT_EQ(root.children().size(), 1u);
  EXPECT_EQ(key->name(), "Larkspan");

  EXPECT_EQ(key->SetValue("ThreadingModel", REG_SZ, "Both\0"s), 0u);
  EXPECT_EQ(key->SetValue("Other", REG_DWORD, "\x01\0\0\0"s), 1u);
  EXPECT_EQ(key->SetValue("THREADINGMODEL", REG_EXPAND_SZ, "Both\0"s), 0u);
  EXPECT_EQ(key->SetValue("threadingModel", REG_EXPAND_SZ, "Apartment\0"s), 0u);
  ASSERT_EQ(key->values().size(), 2u);
  EXPECT_EQ(key->values()[0].name, "ThreadingModel");
  EXPECT_EQ(key->values()[0].type, REG_EXPAND_SZ);
  EXPECT_EQ(key->values()[0].data, "Apartment\0"s);
  EXPECT_EQ(key->FindValue("THREADINGMODEL"), &key->values()[0]);
  EXPECT_EQ(key->FindValue("Threading"), nullptr);
}

TEST(RegistryTreeTest, RemovingAKeyMarksItsWholeTreeDeleted) {
  RegistryKey root("root");
  bool created = false;
  auto parent = root.AddChild("a", &created);
  auto child = parent->AddChild("b", &created);
  auto sibling = root.AddChild("c", &created);
  EXPECT_TRUE(root.RemoveChild("A"));
  EXPECT_TRUE(parent->deleted());
  EXPECT_TRUE(child->deleted());
  EXPECT_FALSE(sibling->deleted());
  EXPECT_EQ(root.FindChild("a"), nullptr);
  EXPECT_FALSE(root.RemoveChild("a"));
}

TEST(RegistryTreeTest, ValuesAreFoundInAnyCaseWhateverTheirNumber) {
  for (int count : {1, 2, 1000}) {
    RegistryKey key("k");
    // Every other value added without a lookup, as a store adds one it knows the key lacks.
    for (int i = 0; i < count; ++i) {
      const std::string name = "Value" + std::to_string(i), data = std::to_string(i);
      i % 2 == 0 ? key.SetValue(name, REG_DWORD, data) : key.AddValue(name, REG_DWORD, data, false);
    }
    ASSERT_EQ(key.values().size(), static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
      const RegistryValue* found = key.FindValue("VALUE" + std::to_string(i));
      ASSERT_NE(found, nullptr) << count << " " << i;
      EXPECT_EQ(found, &key.values()[i]) << count << " " << i;
      EXPECT_EQ(key.SetValue("value" + std::to_string(i), REG_DWORD, "x"), static_cast<size_t>(i));
    }
    EXPECT_EQ(key.FindValue("Value" + std::to_string(count)), nullptr) << count;
    EXPECT_EQ(key.FindValue("Value"), nullptr) << count;
  }
}

TEST(RegistryTreeTest, SplitsKeyPathsAsTheRegistryDoes) {
  struct Case {
    std::string path;
    bool ok;
    std::vector<std::string_view> names;
  };
  const std::string longest(255, 'k');
  const Case cases[] = {
      {"", true, {}},
      {"a", true, {"a"}},
      {"Software\\Larkspan\\Band", true, {"Software", "Larkspan", "Band"}},
      {"a\\", true, {"a"}},
      {"a b\\ c", true, {"a b", " c"}},
      {longest + "\\x", true, {longest, "x"}},
      {"\\", false, {}},
      {"\\a", false, {}},
      {"a\\\\b", false, {}},
      {"a\\\\", false, {}},
      {longest + "k", false, {}},
  };
  for (const Case& c : cases) {
    std::vector<std::string_view> names = {"stale"};
    EXPECT_EQ(SplitKeyPath(c.path, &names), c.ok) << c.path;
    if (c.ok) {
      EXPECT_EQ(names, c.names) << c.path;
    }
  }
}

}  // namespace
