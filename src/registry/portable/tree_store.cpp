#include "tree_store.h"

#include <cstring>

namespace {

// The handle of slot n is (n + 1) * kHandleStep.
constexpr uintptr_t kHandleStep = 4;

}  // namespace

TreeStore::Handle* TreeStore::Slot(HKEY key) {
  uintptr_t raw = reinterpret_cast<uintptr_t>(key);
  size_t slot = raw / kHandleStep - 1;
  if (raw == 0 || raw % kHandleStep != 0 || slot >= handles_.size()) return nullptr;
  return handles_[slot].key ? &handles_[slot] : nullptr;
}

LONG TreeStore::Resolve(HKEY key, REGSAM needed, const std::shared_ptr<RegistryKey>** out) {
  if (!status_) status_ = Load();
  if (*status_ != ERROR_SUCCESS) return *status_;
  const Handle* handle = Slot(key);
  if (const auto* root = tree_.Root(key)) {
    *out = root;
  } else if (handle == nullptr) {
    return ERROR_INVALID_HANDLE;
  } else if (handle->key->deleted()) {
    return ERROR_KEY_DELETED;
  } else if ((handle->access & needed) != needed) {
    return ERROR_ACCESS_DENIED;
  } else {
    *out = &handle->key;
  }
  return ERROR_SUCCESS;
}

size_t TreeStore::open_handles() const {
  size_t count = 0;
  for (const Handle& handle : handles_) count += handle.key ? 1 : 0;
  return count;
}

LONG TreeStore::CreateKey(HKEY parent, const char* sub_key, REGSAM access, HKEY* result,
                          DWORD* disposition) {
  const std::shared_ptr<RegistryKey>* resolved = nullptr;
  if (LONG status = Resolve(parent, 0, &resolved); status != ERROR_SUCCESS) return status;
  std::shared_ptr<RegistryKey> key = *resolved;
  std::vector<std::string_view>& names = names_;
  if (!SplitKeyPath(sub_key, &names)) return ERROR_BAD_PATHNAME;

  // Find how much of the path exists before creating anything, so that a key that may not
  // be created leaves the tree as it was.
  size_t existing = 0;
  while (existing < names.size()) {
    std::shared_ptr<RegistryKey> child = LoadChild(key, names[existing]);
    if (!child) break;
    key = std::move(child);
    ++existing;
  }
  if (existing < names.size() && tree_.Root(parent) == nullptr &&
      (Slot(parent)->access & KEY_CREATE_SUB_KEY) == 0) {
    return ERROR_ACCESS_DENIED;
  }
  bool created = false;
  for (size_t i = existing; i < names.size(); ++i) key = key->AddChild(names[i], &created);

  size_t slot = 0;
  while (slot < handles_.size() && handles_[slot].key) ++slot;
  if (slot == handles_.size()) handles_.emplace_back();
  handles_[slot] = Handle{std::move(key), access};
  *result = reinterpret_cast<HKEY>((slot + 1) * kHandleStep);
  if (disposition != nullptr)
    *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

LONG TreeStore::SetValue(HKEY key, const char* name, DWORD type, const BYTE* data, DWORD size) {
  const std::shared_ptr<RegistryKey>* resolved = nullptr;
  if (LONG status = Resolve(key, KEY_SET_VALUE, &resolved); status != ERROR_SUCCESS) return status;
  RegistryKey* target = resolved->get();
  const std::string_view value_name(name);
  if (value_name.size() > kMaxValueName) return ERROR_INVALID_PARAMETER;
  return StoreValue(
      target, value_name, type,
      std::string_view(reinterpret_cast<const char*>(data), data == nullptr ? 0 : size));
}

LONG TreeStore::QueryValue(HKEY key, const char* name, DWORD* type, BYTE* data, DWORD* size) {
  const std::shared_ptr<RegistryKey>* resolved = nullptr;
  if (LONG status = Resolve(key, KEY_QUERY_VALUE, &resolved); status != ERROR_SUCCESS) {
    return status;
  }
  RegistryKey* target = resolved->get();
  const std::string_view value_name(name);
  DWORD value_type = REG_NONE;
  std::string_view bytes;
  bool found = false;
  if (LONG status = FindStoredValue(target, value_name, &found, &value_type, &bytes);
      status != ERROR_SUCCESS) {
    return status;
  }
  if (!found) {
    const RegistryValue* value = target->FindValue(value_name);
    if (value == nullptr) return ERROR_FILE_NOT_FOUND;
    value_type = value->type;
    bytes = value->data;
  }
  if (type != nullptr) *type = value_type;
  DWORD needed = static_cast<DWORD>(bytes.size());
  if (data != nullptr && *size < needed) {
    *size = needed;
    return ERROR_MORE_DATA;
  }
  if (data != nullptr) std::memcpy(data, bytes.data(), needed);
  if (size != nullptr) *size = needed;
  return ERROR_SUCCESS;
}

LONG TreeStore::CloseKey(HKEY key) {
  if (tree_.Root(key) != nullptr) return ERROR_SUCCESS;
  Handle* handle = Slot(key);
  if (handle == nullptr) return ERROR_INVALID_HANDLE;
  *handle = Handle{};
  return ERROR_SUCCESS;
}

LONG TreeStore::DeleteTree(HKEY parent, const char* sub_key) {
  const std::shared_ptr<RegistryKey>* resolved = nullptr;
  if (LONG status = Resolve(parent, 0, &resolved); status != ERROR_SUCCESS) return status;
  std::shared_ptr<RegistryKey> key = *resolved;
  std::vector<std::string_view>& names = names_;
  if (!SplitKeyPath(sub_key, &names)) return ERROR_BAD_PATHNAME;
  if (names.empty()) return ERROR_ACCESS_DENIED;  // never the parent itself
  for (size_t i = 0; i < names.size(); ++i) {
    std::shared_ptr<RegistryKey> above = std::move(key);
    key = LoadChild(above, names[i]);
    if (!key) return ERROR_FILE_NOT_FOUND;
    if (i + 1 < names.size()) continue;
    if (LONG status = CheckRemoval(key); status != ERROR_SUCCESS) return status;
    above->RemoveChild(names[i]);
  }
  return ERROR_SUCCESS;
}
