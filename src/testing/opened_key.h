// A real registry key opened for reading by the Windows tests, closed with the object.
#pragma once

#include <string>

#include "registry_api.h"

class OpenedKey {
 public:
  OpenedKey(HKEY root, const std::string& path) {
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key_) != ERROR_SUCCESS) key_ = nullptr;
  }
  ~OpenedKey() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  OpenedKey(const OpenedKey&) = delete;
  OpenedKey& operator=(const OpenedKey&) = delete;
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};
