#include "write_registry_rows.h"

#include <cstring>

#include "format_text.h"
#include "scoped_key.h"
#include "split_server_path.h"

LONG WriteRegistryRows(const RegistryRow* rows, const char* classIdText, const char* fullPath) {
  char keyName[kTextSize];
  char data[kTextSize];
  for (const RegistryRow* row = rows; row->Root != nullptr; ++row) {
    if (!FormatText(keyName, sizeof keyName, row->KeyFormat, classIdText)) {
      return ERROR_INVALID_PARAMETER;
    }
    ScopedKey key;
    if (LONG status = key.Create(row->Root, keyName, KEY_WRITE); status != ERROR_SUCCESS) {
      return status;
    }
    if (!FormatText(data, sizeof data, row->DataFormat, fullPath)) return ERROR_INVALID_PARAMETER;
    RegSetValueExA(key.get(), row->ValueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(data),
                   static_cast<DWORD>(std::strlen(data) + 1));
  }
  return ERROR_SUCCESS;
}
