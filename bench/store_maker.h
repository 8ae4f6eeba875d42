// Registries of a chosen size for the benchmarks, the same for the same size on every machine.
#pragma once

#include "registry_tree.h"

// Adds `values` values that have nothing to do with the band: eight to a key, the keys nested
// two to five deep under both roots (class keys with their server keys, vendor settings), of
// every type the store writes in a form of its own (texts, numbers, hex data long enough to
// wrap, expandable and multiple texts, 8-byte numbers).
void FillUnrelated(RegistryTree* tree, int values);

// Adds the band's settings key holding a basket list of `baskets` baskets: the count and two
// texts per basket in the old layout, or with `current` the two texts and the number 2 as the
// upgrade leaves them.
void FillBasketList(RegistryTree* tree, int baskets, bool current = false);
