// What serves the registry calls on a build without a Windows registry.
#pragma once

#include "registry_api.h"

// One implementation of the five registry operations. The functions of registry_api.h forward
// to the bound store with their arguments already checked for null pointers where Windows
// would fail them.
class RegistryStore {
 public:
  virtual ~RegistryStore() = default;
  virtual LONG CreateKey(HKEY parent, const char* sub_key, REGSAM access, HKEY* result,
                         DWORD* disposition) = 0;
  virtual LONG SetValue(HKEY key, const char* name, DWORD type, const BYTE* data, DWORD size) = 0;
  // `type` and `data` may be null; `size` is null only when `data` is.
  virtual LONG QueryValue(HKEY key, const char* name, DWORD* type, BYTE* data, DWORD* size) = 0;
  virtual LONG CloseKey(HKEY key) = 0;
  virtual LONG DeleteTree(HKEY parent, const char* sub_key) = 0;
};

// Makes `store` serve the registry calls until the binding is destroyed; bindings nest.
class ScopedRegistryBinding {
 public:
  explicit ScopedRegistryBinding(RegistryStore* store);
  ~ScopedRegistryBinding();
  ScopedRegistryBinding(const ScopedRegistryBinding&) = delete;
  ScopedRegistryBinding& operator=(const ScopedRegistryBinding&) = delete;

 private:
  RegistryStore* previous_;
};

// The store serving the registry calls now, or null.
RegistryStore* BoundRegistryStore();
