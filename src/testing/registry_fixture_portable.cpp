// The registry tests' fixture over the in-memory store.
#include <algorithm>
#include <memory>

#include "memory_store.h"
#include "registry_fixture.h"
#include "registry_store.h"

namespace {

std::unique_ptr<MemoryStore> g_store;
std::unique_ptr<ScopedRegistryBinding> g_binding;

// The key in whichever store serves the registry calls now.
std::shared_ptr<RegistryKey> Find(HKEY root, const std::string& path) {
  auto* store = dynamic_cast<TreeStore*>(BoundRegistryStore());
  if (store == nullptr) return nullptr;
  const auto* top = store->tree().Root(root);
  std::vector<std::string_view> names;
  if (top == nullptr || !SplitKeyPath(path, &names)) return nullptr;
  std::shared_ptr<RegistryKey> key = *top;
  for (std::string_view name : names) {
    if (!(key = key->FindChild(name))) return nullptr;
  }
  return key;
}

}  // namespace

void RegistryTest::SetUp() {
  g_store = std::make_unique<MemoryStore>();
  g_binding = std::make_unique<ScopedRegistryBinding>(g_store.get());
}

void RegistryTest::TearDown() {
  EXPECT_EQ(g_store->open_handles(), 0u) << "a key was left open";
  g_binding.reset();
  g_store.reset();
}

std::optional<StoredValue> ReadValue(HKEY root, const std::string& path, const std::string& name) {
  std::shared_ptr<RegistryKey> key = Find(root, path);
  const RegistryValue* value = key ? key->FindValue(name) : nullptr;
  if (value == nullptr) return std::nullopt;
  return StoredValue{value->type, std::string(value->data)};
}

bool KeyExists(HKEY root, const std::string& path) {
  return Find(root, path) != nullptr;
}

std::vector<std::string> ValueNames(HKEY root, const std::string& path) {
  std::vector<std::string> names;
  if (std::shared_ptr<RegistryKey> key = Find(root, path)) {
    for (const RegistryValue& value : key->values()) names.emplace_back(value.name);
  }
  std::sort(names.begin(), names.end(), NameLess());
  return names;
}

std::string DumpKey(HKEY root, const std::string& path) {
  std::string out;
  if (std::shared_ptr<RegistryKey> key = Find(root, path))
    AppendKeyTree(&out, RootedPath(root, path), *key, ValueOrder::kByName);
  return out;
}
