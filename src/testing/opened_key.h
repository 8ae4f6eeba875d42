// A key of the real registry opened for reading by the Windows tests, closed with the object;
// null when it cannot be opened. (The portable registry has no call that only opens a key.)
#pragma once

#include <string>

#include "scoped_key.h"

class OpenedKey : public ScopedKey {
 public:
  OpenedKey(HKEY root, const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) Reset(key);
  }
};
