#include "registry_fixture.h"

#include "regedit_lines.h"
#include "regedit_writer.h"
#include "scoped_key.h"

std::ostream& operator<<(std::ostream& out, const StoredValue& value) {
  std::string text;
  AppendRegeditValue(&text, "", value.type, value.data, kLineEnd);
  return out << text;
}

StoredValue Sz(const std::string& text) {
  return StoredValue{REG_SZ, text + '\0'};
}

StoredValue Dword(uint32_t number) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((number >> (8 * i)) & 0xFF);
  return StoredValue{REG_DWORD, bytes};
}

void SeedValue(HKEY root, const std::string& path, const std::string& name,
               const StoredValue& value) {
  ScopedKey key;
  ASSERT_EQ(key.Create(root, path.c_str(), KEY_ALL_ACCESS), ERROR_SUCCESS) << path;
  ASSERT_EQ(RegSetValueExA(key.get(), name.empty() ? nullptr : name.c_str(), 0, value.type,
                           reinterpret_cast<const BYTE*>(value.data.data()),
                           static_cast<DWORD>(value.data.size())),
            ERROR_SUCCESS)
      << name;
}

std::string RootedPath(HKEY root, const std::string& path) {
  return std::string(root == HKEY_CLASSES_ROOT ? kClassesRootName : kCurrentUserName) + "\\" + path;
}
