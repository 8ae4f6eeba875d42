// What the registry tests share: a clean registry per test and ways to seed and read it that
// work the same on the in-memory store and on a real Windows registry.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "key_listing.h"
#include "registry_api.h"

struct StoredValue {
  DWORD type;
  std::string data;  // the bytes exactly as stored
  bool operator==(const StoredValue& other) const {
    return type == other.type && data == other.data;
  }
};
std::ostream& operator<<(std::ostream& out, const StoredValue& value);

// A REG_SZ with its NUL, and a 4-byte little-endian REG_DWORD.
StoredValue Sz(const std::string& text);
StoredValue Dword(uint32_t number);

// Each test starts from a registry without the band's three key trees: a fresh in-memory store
// on the portable build, the real registry (cleaned before and after) on Windows.
class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
};

// Creates the key and sets the value (an empty name: the default value).
void SeedValue(HKEY root, const std::string& path, const std::string& name,
               const StoredValue& value);
// Reads without creating anything.
std::optional<StoredValue> ReadValue(HKEY root, const std::string& path, const std::string& name);
bool KeyExists(HKEY root, const std::string& path);
// Names of the key's values, sorted without regard to case.
std::vector<std::string> ValueNames(HKEY root, const std::string& path);
// The key at `root`\`path` and every key below it as REGEDIT4 sections: "[ROOT\path]", the values
// sorted by name without regard to case, a blank line; subkeys sorted likewise. Empty when the
// key does not exist. Real registries differ in the order they list values in; this one does not.
std::string DumpKey(HKEY root, const std::string& path);

// The key's name as DumpKey gives it: "HKEY_CLASSES_ROOT\path" or "HKEY_CURRENT_USER\path".
std::string RootedPath(HKEY root, const std::string& path);
