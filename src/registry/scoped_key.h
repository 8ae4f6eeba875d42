// An open registry key that closes itself.
#pragma once

#include "registry_api.h"

class ScopedKey {
 public:
  ScopedKey() = default;
  ~ScopedKey() { Reset(nullptr); }
  ScopedKey(const ScopedKey&) = delete;
  ScopedKey& operator=(const ScopedKey&) = delete;

  HKEY get() const { return key_; }

  // Creates or opens `root`\`path` with `access`; the registry's status.
  LONG Create(HKEY root, const char* path, REGSAM access) {
    HKEY key = nullptr;
    LONG status = RegCreateKeyExA(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr,
                                  &key, nullptr);
    if (status == ERROR_SUCCESS) Reset(key);
    return status;
  }

 protected:
  // Holds `key` (an open key, or null) from now on, closing the one held before.
  void Reset(HKEY key) {
    if (key_ != nullptr) RegCloseKey(key_);
    key_ = key;
  }

 private:
  HKEY key_ = nullptr;
};
