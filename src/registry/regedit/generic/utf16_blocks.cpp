#include "utf16_blocks.h"

// Without SSE2 (the 32-bit Windows builds, which read no store file) every unit goes by the
// scalar rule.
size_t NarrowPlainBlocks(const char*, size_t, char*) {
  return 0;
}
