// The registry tests' fixture over the real Windows registry.
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

std::vector<NamedValue> Values(HKEY key) {
  std::vector<NamedValue> values;
  for (DWORD index = 0;; ++index) {
    char name[16384];
    DWORD name_size = sizeof name;
    DWORD type = 0;
    DWORD data_size = 0;
    if (RegEnumValueA(key, index, name, &name_size, nullptr, &type, nullptr, &data_size) !=
        ERROR_SUCCESS) {
      break;
    }
    std::string data(data_size, '\0');
    name_size = sizeof name;
    if (RegEnumValueA(key, index, name, &name_size, nullptr, &type,
                      reinterpret_cast<BYTE*>(&data[0]), &data_size) != ERROR_SUCCESS) {
      break;
    }
    data.resize(data_size);
    values.push_back(NamedValue{std::string(name, name_size), type, data});
  }
  return values;
}

std::vector<std::string> SortedSubkeys(HKEY key) {
  std::vector<std::string> names = SubkeyNames(key);
  SortByName(&names);
  return names;
}

void Dump(std::string* out, HKEY root, const std::string& path) {
  OpenedKey key(root, path);
  if (key.get() == nullptr) return;
  AppendSection(out, RootedPath(root, path), Values(key.get()));
  for (const std::string& name : SortedSubkeys(key.get())) Dump(out, root, path + "\\" + name);
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
  OpenedKey key(root, path);
  if (key.get() != nullptr) {
    for (const NamedValue& value : Values(key.get())) names.push_back(value.name);
  }
  SortByName(&names);
  return names;
}

std::string DumpKey(HKEY root, const std::string& path) {
  std::string out;
  Dump(&out, root, path);
  return out;
}
