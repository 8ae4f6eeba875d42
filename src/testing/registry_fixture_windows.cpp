// The registry tests' fixture over the real Windows registry.
#include <algorithm>

#include "band_keys.h"
#include "opened_key.h"
#include "registry_fixture.h"

namespace {

// The band's three key trees; every test starts and ends without them.
void DeleteBandKeys() {
  SHDeleteKeyA(HKEY_CURRENT_USER, kSettingsKey);
  SHDeleteKeyA(HKEY_CURRENT_USER, BandKeyPath(kButtonKeyFormat).c_str());
  SHDeleteKeyA(HKEY_CLASSES_ROOT, BandKeyPath(kClassKeyFormat).c_str());
}

}  // namespace

void RegistryTest::SetUp() {
  DeleteBandKeys();
}

void RegistryTest::TearDown() {
  DeleteBandKeys();
}

std::optional<StoredValue> ReadValue(HKEY root, const std::string& path, const std::string& name) {
  OpenedKey key(root, path);
  if (key.get() == nullptr) return std::nullopt;
  DWORD type = 0;
  DWORD size = 0;
  const char* value_name = name.empty() ? nullptr : name.c_str();
  if (RegQueryValueExA(key.get(), value_name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  std::string data(size, '\0');
  if (RegQueryValueExA(key.get(), value_name, nullptr, &type, reinterpret_cast<BYTE*>(&data[0]),
                       &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  data.resize(size);
  return StoredValue{type, data};
}

bool KeyExists(HKEY root, const std::string& path) {
  return OpenedKey(root, path).get() != nullptr;
}

std::vector<std::string> ValueNames(HKEY root, const std::string& path) {
  std::vector<std::string> names;
  ListedKey key(root, path, path);
  if (key.get() != nullptr) {
    for (const NamedValue& value : key.values()) names.push_back(value.name);
  }
  std::sort(names.begin(), names.end(), NameLess());
  return names;
}

std::string DumpKey(HKEY root, const std::string& path) {
  std::string out;
  ListedKey key(root, path, path);
  if (key.get() != nullptr) AppendKeyTree(&out, RootedPath(root, path), key, ValueOrder::kByName);
  return out;
}
