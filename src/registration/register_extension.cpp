#include "register_extension.h"

#include <cstring>

#include "scoped_key.h"
#include "split_server_path.h"
#include "upgrade_basket_list.h"
#include "write_registry_rows.h"

namespace {

const char kClassIdText[] = "{6F2A9C41-3B7E-4d58-A1C6-20E4B93F7D05}";

// The icon references are the DLL's path, a comma and a resource number (3007 the normal
// icon, 3006 the hot one). The folder and file name that make up the path always join back
// into the whole server path, so the rows give the path itself in place of their "%s".
// clang-format off
static const RegistryRow ClassTable[] = {
    {HKEY_CLASSES_ROOT, "CLSID\\%s",                 nullptr,          "&Larkspan"},
    {HKEY_CLASSES_ROOT, "CLSID\\%s\\InprocServer32", nullptr,          "%s"},
    {HKEY_CLASSES_ROOT, "CLSID\\%s\\InprocServer32", "ThreadingModel", "Apartment"},
    {nullptr,           nullptr,                     nullptr,          nullptr},
};

#define EXTENSION_KEY "Software\\Microsoft\\Internet Explorer\\Extensions\\%s"
static const RegistryRow ButtonTable[] = {
    {HKEY_CURRENT_USER, EXTENSION_KEY, nullptr,           "Default"},
    {HKEY_CURRENT_USER, EXTENSION_KEY, "Default Visible", "Yes"},
    {HKEY_CURRENT_USER, EXTENSION_KEY, "ButtonText",      "Larkspan"},
    {HKEY_CURRENT_USER, EXTENSION_KEY, "HotIcon",         "%s,3006"},
    {HKEY_CURRENT_USER, EXTENSION_KEY, "Icon",            "%s,3007"},
    {HKEY_CURRENT_USER, EXTENSION_KEY, "CLSID",           "{E0DD6CAB-2D10-11D2-8F1A-0000F87ABD16}"},
    {HKEY_CURRENT_USER, EXTENSION_KEY, "BandCLSID",       "{6F2A9C41-3B7E-4d58-A1C6-20E4B93F7D05}"},
    {nullptr,           nullptr,       nullptr,           nullptr},
};
// clang-format on
#undef EXTENSION_KEY

// The category of horizontal Explorer bars, and the key above it; both carry no values.
static const char* const CategoryKeys[] = {
    "CLSID\\{6F2A9C41-3B7E-4d58-A1C6-20E4B93F7D05}\\Implemented Categories",
    "CLSID\\{6F2A9C41-3B7E-4d58-A1C6-20E4B93F7D05}\\Implemented Categories\\"
    "{00021494-0000-0000-C000-000000000046}",
};

const char kSettingsKey[] = "Software\\Larkspan";
const char kHelpFileName[] = "lkspan.chm";

void SetText(HKEY key, const char* name, const char* text) {
  RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                 static_cast<DWORD>(std::strlen(text) + 1));
}

}  // namespace

int RegisterExtension(const char* serverPath) {
  size_t length = std::strlen(serverPath);
  if (length == 0 || length > kMaxServerPath) return 0;

  char installDir[kTextSize];
  char serverFileName[kTextSize];
  SplitServerPath(serverPath, installDir, serverFileName);

  if (WriteRegistryRows(ClassTable, kClassIdText, serverPath) != ERROR_SUCCESS) return 0;

  for (const char* path : CategoryKeys) {
    ScopedKey category;
    category.Create(HKEY_CLASSES_ROOT, path, KEY_ALL_ACCESS);
  }

  {
    ScopedKey settings;
    if (settings.Create(HKEY_CURRENT_USER, kSettingsKey, KEY_ALL_ACCESS) == ERROR_SUCCESS) {
      SetText(settings.get(), "Path", installDir);
      SetText(settings.get(), "Name", kHelpFileName);
      UpgradeBasketList(settings.get());
    }
  }

  if (WriteRegistryRows(ButtonTable, kClassIdText, serverPath) != ERROR_SUCCESS) return 0;
  return 1;
}
