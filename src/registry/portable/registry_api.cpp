#include "registry_api.h"

#include "registry_store.h"

namespace {

RegistryStore* g_store = nullptr;

}  // namespace

ScopedRegistryBinding::ScopedRegistryBinding(RegistryStore* store) : previous_(g_store) {
  g_store = store;
}

ScopedRegistryBinding::~ScopedRegistryBinding() {
  g_store = previous_;
}

RegistryStore* BoundRegistryStore() {
  return g_store;
}

LONG RegCreateKeyExA(HKEY key, LPCSTR sub_key, DWORD reserved, LPSTR /*key_class*/,
                     DWORD /*options*/, REGSAM access, LPSECURITY_ATTRIBUTES /*security*/,
                     PHKEY result, LPDWORD disposition) {
  if (g_store == nullptr) return ERROR_BADDB;
  if (result == nullptr || reserved != 0) return ERROR_INVALID_PARAMETER;
  return g_store->CreateKey(key, sub_key == nullptr ? "" : sub_key, access, result, disposition);
}

LONG RegSetValueExA(HKEY key, LPCSTR value_name, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD size) {
  if (g_store == nullptr) return ERROR_BADDB;
  if (reserved != 0 || (data == nullptr && size != 0)) return ERROR_INVALID_PARAMETER;
  return g_store->SetValue(key, value_name == nullptr ? "" : value_name, type, data, size);
}

LONG RegQueryValueExA(HKEY key, LPCSTR value_name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                      LPDWORD size) {
  if (g_store == nullptr) return ERROR_BADDB;
  if (reserved != nullptr || (data != nullptr && size == nullptr)) return ERROR_INVALID_PARAMETER;
  return g_store->QueryValue(key, value_name == nullptr ? "" : value_name, type, data, size);
}

LONG RegCloseKey(HKEY key) {
  if (g_store == nullptr) return ERROR_INVALID_HANDLE;
  return g_store->CloseKey(key);
}

LSTATUS SHDeleteKeyA(HKEY key, LPCSTR sub_key) {
  if (g_store == nullptr) return ERROR_BADDB;
  if (sub_key == nullptr) return ERROR_INVALID_PARAMETER;
  return g_store->DeleteTree(key, sub_key);
}
