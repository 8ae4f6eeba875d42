#include "unregister_extension.h"

namespace {

struct RemovedKey {
  HKEY Root;
  const char* Path;
};

// Key names compare without regard to case: the button's key is the one registration wrote.
static const RemovedKey RemovedKeys[] = {
    {HKEY_CURRENT_USER, "Software\\Larkspan"},
    {HKEY_CURRENT_USER,
     "SOFTWARE\\Microsoft\\Internet Explorer\\Extensions\\{6F2A9C41-3B7E-4D58-A1C6-20E4B93F7D05}"},
    {HKEY_CLASSES_ROOT, "CLSID\\{6F2A9C41-3B7E-4d58-A1C6-20E4B93F7D05}"},
};

}  // namespace

HRESULT UnregisterExtension() {
  for (const RemovedKey& key : RemovedKeys) {
    if (SHDeleteKeyA(key.Root, key.Path) != ERROR_SUCCESS) return SELFREG_E_CLASS;
  }
  return 0;
}
