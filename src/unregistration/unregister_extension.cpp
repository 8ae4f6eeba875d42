#include "unregister_extension.h"

#include "band_keys.h"
#include "format_text.h"
#include "text_value.h"

namespace {

struct RemovedKey {
  HKEY Root;
  const char* KeyFormat;  // the class identifier in place of its "%s"
};

static const RemovedKey kRemovedKeys[] = {
    {HKEY_CURRENT_USER, kSettingsKey},
    {HKEY_CURRENT_USER, kButtonKeyFormat},
    {HKEY_CLASSES_ROOT, kClassKeyFormat},
};

}  // namespace

HRESULT UnregisterExtension() {
  for (const RemovedKey& key : kRemovedKeys) {
    char path[kTextSize];
    FormatText(path, sizeof path, key.KeyFormat, kBandClassId);
    if (SHDeleteKeyA(key.Root, path) != ERROR_SUCCESS) return SELFREG_E_CLASS;
  }
  return 0;
}
