// An open registry key that closes itself.
#pragma once

#include "registry_api.h"

class ScopedKey {
 public:
  ScopedKey() = default;
  ~ScopedKey() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  ScopedKey(const ScopedKey&) = delete;
  ScopedKey& operator=(const ScopedKey&) = delete;

  // Where RegCreateKeyExA puts the handle; kept only when the call succeeds.
  PHKEY receive() { return &key_; }
  HKEY get() const { return key_; }

  // Creates or opens `root`\`path` with `access`; the registry's status.
  LONG Create(HKEY root, const char* path, REGSAM access) {
    HKEY key = nullptr;
    LONG status = RegCreateKeyExA(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr,
                                  &key, nullptr);
    if (status == ERROR_SUCCESS) key_ = key;
    return status;
  }

 private:
  HKEY key_ = nullptr;
};
