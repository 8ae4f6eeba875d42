// Sixteen bytes compared at once, with SSE2.
#pragma once

#include <emmintrin.h>

#include <cstddef>

// Texts are searched this many bytes at a time.
constexpr size_t kBlock = 16;

// Bit i set where p[i], of the sixteen bytes at p, is `a` or `b`.
inline unsigned ByteMask(const char* p, char a, char b) {
  const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i hits = _mm_or_si128(_mm_cmpeq_epi8(block, _mm_set1_epi8(a)),
                                    _mm_cmpeq_epi8(block, _mm_set1_epi8(b)));
  return static_cast<unsigned>(_mm_movemask_epi8(hits));
}

// Bit i set where p[i], of the sixteen bytes at p, ends a run of plain characters between quotes:
// a quote, a backslash, a line break or NUL.
inline unsigned QuotedRunEndMask(const char* p) {
  const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i quotes = _mm_or_si128(_mm_cmpeq_epi8(block, _mm_set1_epi8('"')),
                                      _mm_cmpeq_epi8(block, _mm_set1_epi8('\\')));
  const __m128i breaks = _mm_or_si128(_mm_cmpeq_epi8(block, _mm_set1_epi8('\n')),
                                      _mm_cmpeq_epi8(block, _mm_set1_epi8('\r')));
  const __m128i ends =
      _mm_or_si128(_mm_or_si128(quotes, breaks), _mm_cmpeq_epi8(block, _mm_setzero_si128()));
  return static_cast<unsigned>(_mm_movemask_epi8(ends));
}

// Bit i set where p[i], of the sixteen bytes at p, is no printable ASCII, or a quote or a
// backslash: where a run of text that stands between quotes as it is ends.
inline unsigned PlainRunEndMask(const char* p) {
  const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  // 0x20 to 0x7E moved to -128 to -34, every other byte above.
  const __m128i printable =
      _mm_cmplt_epi8(_mm_add_epi8(block, _mm_set1_epi8(0x60)), _mm_set1_epi8(-33));
  const __m128i quoted = _mm_or_si128(_mm_cmpeq_epi8(block, _mm_set1_epi8('"')),
                                      _mm_cmpeq_epi8(block, _mm_set1_epi8('\\')));
  return (static_cast<unsigned>(_mm_movemask_epi8(printable)) ^ 0xFFFFu) |
         static_cast<unsigned>(_mm_movemask_epi8(quoted));
}
