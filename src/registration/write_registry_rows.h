// Writing a registration table.
#pragma once

#include "registry_api.h"
#include "registry_row.h"

// Writes the rows in order up to the terminating row, `class_id_text` in place of the "%s" of
// their keys and `server_path` in place of the "%s" of their data. Stops at the first row whose key
// cannot be created or opened and returns that status (the rows before it stay written); value
// writes are not checked. ERROR_SUCCESS when every key was created or opened.
LONG WriteRegistryRows(const RegistryRow* rows, const char* class_id_text, const char* server_path);
