// Sixteen bytes compared one by one, where the processor has no SSE2.
#pragma once

#include <cstddef>

// Texts are searched this many bytes at a time.
constexpr size_t kBlock = 16;

// Bit i set where p[i], of the sixteen bytes at p, is `a` or `b`.
inline unsigned ByteMask(const char* p, char a, char b) {
  unsigned mask = 0;
  for (unsigned i = 0; i < 16; ++i) mask |= static_cast<unsigned>(p[i] == a || p[i] == b) << i;
  return mask;
}

// Bit i set where p[i], of the sixteen bytes at p, ends a run of plain characters between quotes:
// a quote, a backslash, a line break or NUL.
inline unsigned QuotedRunEndMask(const char* p) {
  unsigned mask = 0;
  for (unsigned i = 0; i < 16; ++i) {
    const char c = p[i];
    mask |= static_cast<unsigned>(c == '"' || c == '\\' || c == '\n' || c == '\r' || c == '\0')
            << i;
  }
  return mask;
}

// Bit i set where p[i], of the sixteen bytes at p, is no printable ASCII, or a quote or a
// backslash: where a run of text that stands between quotes as it is ends.
inline unsigned PlainRunEndMask(const char* p) {
  unsigned mask = 0;
  for (unsigned i = 0; i < 16; ++i) {
    const unsigned char c = static_cast<unsigned char>(p[i]);
    mask |= static_cast<unsigned>(c < 0x20 || c > 0x7E || c == '"' || c == '\\') << i;
  }
  return mask;
}
