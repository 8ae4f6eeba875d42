// Text values: the room every working text has, and writing one.
#pragma once

#include <cstddef>
#include <cstring>

#include "registry_api.h"

// Size of every working text (key names, value data): 259 characters and the NUL.
constexpr size_t kTextSize = 260;
// Size of a basket's short text: 31 characters and the NUL.
constexpr size_t kShortTextSize = 32;

// Sets the value `name` of `key` (null: the default value) to `text` as REG_SZ, its NUL stored
// and counted in the size. The registry's status.
inline LONG SetTextValue(HKEY key, const char* name, const char* text) {
  return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                        static_cast<DWORD>(std::strlen(text) + 1));
}
