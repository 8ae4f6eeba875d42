#include "utf16_blocks.h"

#include <emmintrin.h>

static_assert(kBlockUnits == 16, "a block is two 16-byte registers");

size_t NarrowPlainBlocks(const char* in, size_t units, char* out) {
  const __m128i one = _mm_set1_epi16(1);
  const __m128i high_bytes = _mm_set1_epi16(static_cast<short>(0xFF00));
  size_t done = 0;
  for (; units - done >= kBlockUnits; done += kBlockUnits) {
    const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 2 * done));
    const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 2 * done + 16));
    // A unit from 1 to 0xFF is the only one whose high byte is 0, and that of the unit one less
    // too (0 less 1 is 0xFFFF).
    const __m128i beyond =
        _mm_and_si128(_mm_or_si128(_mm_or_si128(first, _mm_sub_epi16(first, one)),
                                   _mm_or_si128(second, _mm_sub_epi16(second, one))),
                      high_bytes);
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(beyond, _mm_setzero_si128())) != 0xFFFF) break;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + done), _mm_packus_epi16(first, second));
  }
  return done;
}
