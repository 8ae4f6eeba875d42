// Converting the user's stored basket list to the current layout.
#pragma once

#include "registry_api.h"

// The baskets are numbered values of the settings key, [k] being the value named by the
// decimal k. The old layout holds two per basket ([2i] a short text, [2i+1] a long one), the
// current one three ([3i] the short text, [3i+1] the long one, [3i+2] the number 2 as
// REG_DWORD). Converts a list of "NumberOfBaskets" baskets in the old layout, in place; a list
// whose [3N-1] reads into four bytes is current and left alone, as is an empty list or one of
// more than kMaxBaskets baskets. `settings_key` must be open with query and set rights.
void UpgradeBasketList(HKEY settings_key);

// Value names have at most three digits.
constexpr int kMaxBaskets = 333;
