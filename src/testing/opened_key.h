// Reading keys of the real registry, for the Windows tests.
#pragma once

#include <string>
#include <vector>

#include "scoped_key.h"

// A key opened for reading, closed with the object; null when it cannot be opened. (The
// portable registry has no call that only opens a key.)
class OpenedKey : public ScopedKey {
 public:
  OpenedKey(HKEY root, const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) Reset(key);
  }
};

// The names of the key's subkeys, in the order the registry lists them.
inline std::vector<std::string> SubkeyNames(HKEY key) {
  std::vector<std::string> names;
  for (DWORD index = 0;; ++index) {
    char name[256];
    DWORD size = sizeof name;
    if (RegEnumKeyExA(key, index, name, &size, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      return names;
    }
    names.emplace_back(name, size);
  }
}
