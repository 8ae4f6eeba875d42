// How the registry orders and matches key and value names: ASCII letters without regard to case,
// every other byte as it stands. Only standard types cross this header, so that it serves beside
// <windows.h> as well as beside the portable store.
#pragma once

#include <algorithm>
#include <string_view>

struct NameLess {
  using is_transparent = void;
  static unsigned char Fold(char c) {
    unsigned char u = static_cast<unsigned char>(c);
    return (u >= 'a' && u <= 'z') ? u - ('a' - 'A') : u;
  }
  bool operator()(std::string_view a, std::string_view b) const {
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
      if (Fold(a[i]) != Fold(b[i])) return Fold(a[i]) < Fold(b[i]);
    }
    return a.size() < b.size();
  }
};

inline bool NamesEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i] && NameLess::Fold(a[i]) != NameLess::Fold(b[i])) return false;
  }
  return true;
}
