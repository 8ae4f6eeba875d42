#include "register_extension.h"

#include <cstring>

#include "band_keys.h"
#include "format_text.h"
#include "scoped_key.h"
#include "split_server_path.h"
#include "text_value.h"
#include "upgrade_basket_list.h"
#include "write_registry_rows.h"

namespace {

// Each row's key is a format whose "%s" receives the class identifier. The icon references are
// the DLL's path, a comma and a resource number (3007 the normal icon, 3006 the hot one). The
// folder and file name that make up the path always join back into the whole server path, so
// the rows give the path itself in place of their data's "%s".
// clang-format off
static const RegistryRow ClassTable[] = {
    {HKEY_CLASSES_ROOT, LKSPAN_CLASS_KEY,                    nullptr,          "&Larkspan"},
    {HKEY_CLASSES_ROOT, LKSPAN_CLASS_KEY "\\InprocServer32", nullptr,          "%s"},
    {HKEY_CLASSES_ROOT, LKSPAN_CLASS_KEY "\\InprocServer32", "ThreadingModel", "Apartment"},
    {nullptr,           nullptr,                             nullptr,          nullptr},
};

static const RegistryRow ButtonTable[] = {
    {HKEY_CURRENT_USER, LKSPAN_BUTTON_KEY, nullptr,           "Default"},
    {HKEY_CURRENT_USER, LKSPAN_BUTTON_KEY, "Default Visible", "Yes"},
    {HKEY_CURRENT_USER, LKSPAN_BUTTON_KEY, "ButtonText",      "Larkspan"},
    {HKEY_CURRENT_USER, LKSPAN_BUTTON_KEY, "HotIcon",         "%s,3006"},
    {HKEY_CURRENT_USER, LKSPAN_BUTTON_KEY, "Icon",            "%s,3007"},
    {HKEY_CURRENT_USER, LKSPAN_BUTTON_KEY, "CLSID",           "{E0DD6CAB-2D10-11D2-8F1A-0000F87ABD16}"},
    {HKEY_CURRENT_USER, LKSPAN_BUTTON_KEY, "BandCLSID",       LKSPAN_BAND_CLASS_ID},
    {nullptr,           nullptr,           nullptr,           nullptr},
};
// clang-format on

// The category of horizontal Explorer bars, and the key above it, below the class key; both
// carry no values.
static const char* const kCategoryKeys[] = {
    LKSPAN_CLASS_KEY "\\Implemented Categories",
    LKSPAN_CLASS_KEY "\\Implemented Categories\\{00021494-0000-0000-C000-000000000046}",
};

const char kHelpFileName[] = "lkspan.chm";

}  // namespace

int RegisterExtension(const char* server_path) {
  size_t length = std::strlen(server_path);
  if (length == 0 || length > kMaxServerPath) return 0;

  char install_dir[kTextSize];
  char server_file_name[kTextSize];
  SplitServerPath(server_path, install_dir, server_file_name);

  if (WriteRegistryRows(ClassTable, kBandClassId, server_path) != ERROR_SUCCESS) return 0;

  for (const char* format : kCategoryKeys) {
    char path[kTextSize];
    FormatText(path, sizeof path, format, kBandClassId);
    ScopedKey category;
    category.Create(HKEY_CLASSES_ROOT, path, KEY_ALL_ACCESS);
  }

  {
    ScopedKey settings;
    if (settings.Create(HKEY_CURRENT_USER, kSettingsKey, KEY_ALL_ACCESS) == ERROR_SUCCESS) {
      SetTextValue(settings.get(), "Path", install_dir);
      SetTextValue(settings.get(), "Name", kHelpFileName);
      UpgradeBasketList(settings.get());
    }
  }

  if (WriteRegistryRows(ButtonTable, kBandClassId, server_path) != ERROR_SUCCESS) return 0;
  return 1;
}
