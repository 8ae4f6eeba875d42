// x86-64: the marks 64 bytes at a time with AVX2 where the processor has it, else a byte at a
// time.
#include "stop_marks.h"

#include <immintrin.h>

#include <algorithm>
#if __has_include(<sys/platform/x86.h>)
#if defined(__clang__)
#define _Bool bool  // the C library's header is written for C, which g++ also accepts
#endif
#include <sys/platform/x86.h>
#undef _Bool
#endif

namespace {

#if __has_include(<sys/platform/x86.h>)
// What the C library found when the program started. The compiler's own check would ask the
// processor again in a constructor that every run pays for, each question a trap in a virtual
// machine.
bool HasAvx2() {
  return CPU_FEATURE_ACTIVE(AVX2);
}
#else
bool HasAvx2() {
  return __builtin_cpu_supports("avx2");
}
#endif

__attribute__((target("avx2"))) inline __m256i Is(__m256i bytes, char c) {
  return _mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(c));
}

// For the 32 bytes at q: *lines, bit i set where q[i] ends a line; the result, bit i set at a `(`
// or at a backslash before a byte below CR, a blank or `0`. Reads q[32] too. With AVX2.
__attribute__((target("avx2"))) inline uint32_t HalfAvx2(const char* q, uint32_t* lines) {
  const __m256i at = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q));
  const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q + 1));
  const __m256i low = _mm256_cmpeq_epi8(_mm256_min_epu8(next, _mm256_set1_epi8('\r')), next);
  const __m256i ends = _mm256_or_si256(low, _mm256_or_si256(Is(next, ' '), Is(next, '0')));
  const __m256i hits = _mm256_or_si256(_mm256_and_si256(Is(at, '\\'), ends), Is(at, '('));
  *lines = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_or_si256(Is(at, '\n'), Is(at, '\r'))));
  return static_cast<uint32_t>(_mm256_movemask_epi8(hits));
}

// The same for 64 bytes at p, *breaks and the result a bit a byte.
__attribute__((target("avx2"))) inline uint64_t MarksAvx2(const char* p, uint64_t* breaks) {
  uint32_t lines[2];
  const uint64_t marks = HalfAvx2(p, &lines[0]) | static_cast<uint64_t>(HalfAvx2(p + 32, &lines[1]))
                                                      << 32;
  *breaks = lines[0] | static_cast<uint64_t>(lines[1]) << 32;
  return marks;
}

// FindStopMarks 64 bytes at a time, the last ones a byte at a time.
__attribute__((target("avx2"))) size_t FindAvx2(std::string_view text, size_t from, size_t to,
                                                size_t* line, StopMark* out) {
  // Whole chunks up to `to`, and none that ends at the text's last byte: the marks read one more.
  const size_t chunks_end = from + (std::min(to, text.size() - 1) - from) / 64 * 64;
  size_t count = 0;
  size_t line_start = *line;
  size_t chunk = from;
  for (; chunk < chunks_end; chunk += 64) {
    uint64_t breaks = 0;
    for (uint64_t hits = MarksAvx2(text.data() + chunk, &breaks); hits != 0; hits &= hits - 1) {
      const size_t bit = static_cast<size_t>(__builtin_ctzll(hits));
      const uint64_t earlier = breaks & ((uint64_t{1} << bit) - 1);
      out[count++] = {chunk + bit,
                      earlier != 0 ? chunk + 64 - __builtin_clzll(earlier) : line_start};
    }
    if (breaks != 0) line_start = chunk + 64 - static_cast<size_t>(__builtin_clzll(breaks));
  }
  *line = line_start;
  return count + FindStopMarksBytewise(text, chunk, to, line, out + count);
}

}  // namespace

size_t FindStopMarks(std::string_view text, size_t from, size_t to, size_t* line, StopMark* out) {
  static const bool avx2 = HasAvx2();
  return avx2 ? FindAvx2(text, from, to, line, out)
              : FindStopMarksBytewise(text, from, to, line, out);
}
