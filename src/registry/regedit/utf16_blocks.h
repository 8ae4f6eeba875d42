// Narrowing UTF-16LE many code units at a time, where the processor can: the one part of the
// UTF-16 mapping built for each processor (CMake picks the file).
#pragma once

#include <cstddef>

// How many code units NarrowPlainBlocks takes at once.
constexpr size_t kBlockUnits = 32;

// Narrows the `units` code units at `in` (UTF-16LE) to one byte each at `out`, a block of
// kBlockUnits at a time, while every unit of a block is a character from U+0001 to U+00FF.
// Returns how many it narrowed: a multiple of kBlockUnits, up to the first block that holds
// another unit or to the last whole block; 0 where the processor has no way to do it faster.
size_t NarrowPlainBlocks(const char* in, size_t units, char* out);
