#include "write_registry_rows.h"

#include "format_text.h"
#include "scoped_key.h"
#include "text_value.h"

LONG WriteRegistryRows(const RegistryRow* rows, const char* class_id_text,
                       const char* server_path) {
  char key_name[kTextSize];
  char data[kTextSize];
  for (const RegistryRow* row = rows; row->Root != nullptr; ++row) {
    if (!FormatText(key_name, sizeof key_name, row->KeyFormat, class_id_text)) {
      return ERROR_INVALID_PARAMETER;
    }
    ScopedKey key;
    if (LONG status = key.Create(row->Root, key_name, KEY_WRITE); status != ERROR_SUCCESS) {
      return status;
    }
    if (!FormatText(data, sizeof data, row->DataFormat, server_path)) {
      return ERROR_INVALID_PARAMETER;
    }
    SetTextValue(key.get(), row->ValueName, data);
  }
  return ERROR_SUCCESS;
}
