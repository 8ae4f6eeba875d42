#include "utf16_blocks.h"

#include <emmintrin.h>

static_assert(kBlockUnits == 32, "a block is four 16-byte registers");

size_t NarrowPlainBlocks(const char* in, size_t units, char* out) {
  const __m128i high_bytes = _mm_set1_epi16(static_cast<short>(0xFF00));
  const __m128i zero = _mm_setzero_si128();
  size_t done = 0;
  for (; units - done >= kBlockUnits; done += kBlockUnits) {
    const __m128i* block = reinterpret_cast<const __m128i*>(in + 2 * done);
    const __m128i a = _mm_loadu_si128(block);
    const __m128i b = _mm_loadu_si128(block + 1);
    const __m128i c = _mm_loadu_si128(block + 2);
    const __m128i d = _mm_loadu_si128(block + 3);
    // Every unit's high byte 0 (in all four at once), and no byte narrowed 0.
    const __m128i high =
        _mm_and_si128(_mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(c, d)), high_bytes);
    const __m128i first = _mm_packus_epi16(a, b);
    const __m128i second = _mm_packus_epi16(c, d);
    const __m128i nul = _mm_cmpeq_epi8(_mm_min_epu8(first, second), zero);
    if (_mm_movemask_epi8(_mm_andnot_si128(nul, _mm_cmpeq_epi8(high, zero))) != 0xFFFF) break;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + done), first);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + done + 16), second);
  }
  return done;
}
