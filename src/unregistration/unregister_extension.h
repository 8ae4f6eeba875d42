// Removing the band's registry entries.
#pragma once

#include "registry_api.h"

// Deletes the settings key, the toolbar button's key and the class key, in that order, each
// with everything below it. Stops at the first deletion that fails, a missing key included,
// and returns SELFREG_E_CLASS; 0 when all three were deleted.
HRESULT UnregisterExtension();
