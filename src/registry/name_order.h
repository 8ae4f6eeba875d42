// How the registry orders and matches key and value names: ASCII letters without regard to case,
// every other byte as it stands. Only standard types cross this header, so that it serves beside
// <windows.h> as well as beside the portable store.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string_view>

// The byte as the comparison sees it.
inline unsigned char FoldNameByte(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return (u >= 'a' && u <= 'z') ? u - ('a' - 'A') : u;
}

struct NameLess {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const {
    size_t common = std::min(a.size(), b.size());
    for (size_t i = 0; i < common; ++i) {
      unsigned char x = FoldNameByte(a[i]);
      unsigned char y = FoldNameByte(b[i]);
      if (x != y) return x < y;
    }
    return a.size() < b.size();
  }
};

inline bool NamesEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  if (a == b) return true;  // the usual case, compared a word at a time
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldNameByte(a[i]) != FoldNameByte(b[i])) return false;
  }
  return true;
}
