#include "store_path.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace {

// Saves the variables the store path depends on and puts them back afterwards.
class StorePathTest : public ::testing::Test {
 protected:
  static constexpr const char* kNames[] = {"LARKSPAN_REGISTRY", "XDG_DATA_HOME", "HOME"};

  void SetUp() override {
    for (int i = 0; i < 3; ++i) {
      const char* value = std::getenv(kNames[i]);
      if (value != nullptr) saved_[i] = value;
    }
  }
  void TearDown() override {
    for (int i = 0; i < 3; ++i) Set(kNames[i], saved_[i] ? saved_[i]->c_str() : nullptr);
  }
  static void Set(const char* name, const char* value) {
    if (value == nullptr) {
      unsetenv(name);
    } else {
      setenv(name, value, 1);
    }
  }

  std::optional<std::string> saved_[3];
};

TEST_F(StorePathTest, TheFirstUsableVariableWinsThenTheAccountsHome) {
  // The account's home as the name service gives it (this test is linked dynamically).
  const std::string own =
      std::string(getpwuid(getuid())->pw_dir) + "/.local/share/larkspan/registry.reg";
  struct Case {
    const char* larkspan;  // null: unset
    const char* xdg;
    const char* home;
    std::string expected;
  };
  const Case cases[] = {
      {"/etc/reg.reg", "/data", "/home/u", "/etc/reg.reg"},
      {"relative.reg", nullptr, nullptr, "relative.reg"},
      {"", "/data", "/home/u", "/data/larkspan/registry.reg"},
      {nullptr, "/data/", "/home/u", "/data/larkspan/registry.reg"},
      {nullptr, "", "/home/u", "/home/u/.local/share/larkspan/registry.reg"},
      {nullptr, "relative/data", "/home/u", "/home/u/.local/share/larkspan/registry.reg"},
      {nullptr, nullptr, "/home/u/", "/home/u/.local/share/larkspan/registry.reg"},
      {nullptr, nullptr, "/", "/.local/share/larkspan/registry.reg"},
      {"", "", "", own},
      {nullptr, "relative", nullptr, own},
      {nullptr, nullptr, nullptr, own},
      {nullptr, nullptr, "relhome", own},
  };
  for (const Case& c : cases) {
    Set("LARKSPAN_REGISTRY", c.larkspan);
    Set("XDG_DATA_HOME", c.xdg);
    Set("HOME", c.home);
    EXPECT_EQ(DefaultStorePath(), c.expected)
        << (c.larkspan ? c.larkspan : "(unset)") << " | " << (c.xdg ? c.xdg : "(unset)") << " | "
        << (c.home ? c.home : "(unset)");
  }
}

}  // namespace
