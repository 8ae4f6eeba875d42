// One row of a registration table.
#pragma once

#include "registry_api.h"

// Sets one REG_SZ value: `Root`\`KeyFormat`, with the class identifier put in place of its "%s",
// gets the value `ValueName` (null: the default value) with `DataFormat` as its data, the
// server path put in place of a "%s" there. A row whose `Root` is null ends the table.
struct RegistryRow {
  HKEY Root;
  const char* KeyFormat;
  const char* ValueName;
  const char* DataFormat;
};
