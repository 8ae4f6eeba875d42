// Writing a registration table.
#pragma once

#include "registry_api.h"
#include "registry_row.h"

// Writes the rows in order up to the terminating row. Stops at the first row whose key cannot
// be created or opened and returns that status (the rows before it stay written); value writes
// are not checked. ERROR_SUCCESS when every key was created or opened.
LONG WriteRegistryRows(const RegistryRow* rows, const char* classIdText, const char* fullPath);
