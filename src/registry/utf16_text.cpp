#include "utf16_text.h"

#include <algorithm>
#include <functional>

void AppendUtf16(std::string* out, std::string_view text) {
  size_t at = out->size();
  out->resize(at + 2 * text.size());
  for (char c : text) {
    (*out)[at++] = c;
    (*out)[at++] = '\0';
  }
}

bool NarrowUtf16(std::string_view bytes, std::string* text, std::vector<size_t>* wide) {
  wide->clear();
  if (bytes.size() % 2 != 0) return false;
  text->resize(bytes.size() / 2);
  char* out = &(*text)[0];
  const char* in = bytes.data();
  for (size_t i = 0; i < text->size(); ++i) {
    out[i] = in[2 * i];
    if (in[2 * i + 1] != '\0') {
      out[i] = kWidePlaceholder;
      wide->push_back(i);
    }
  }
  return true;
}

bool HoldsWide(const std::vector<size_t>& wide, std::string_view text, std::string_view part) {
  std::less_equal<const char*> before;
  if (!before(text.data(), part.data()) ||
      !before(part.data() + part.size(), text.data() + text.size())) {
    // A copy of the text's bytes (a key path spelled with doubled backslashes): every
    // placeholder in it counts.
    return !wide.empty() && part.find(kWidePlaceholder) != std::string_view::npos;
  }
  size_t begin = static_cast<size_t>(part.data() - text.data());
  auto first = std::lower_bound(wide.begin(), wide.end(), begin);
  return first != wide.end() && *first < begin + part.size();
}

void WidenPieces(std::string_view text, std::string_view units,
                 std::vector<std::string_view>* pieces, std::string* owned) {
  std::less_equal<const char*> before;
  auto inside = [&](std::string_view piece) {
    return before(text.data(), piece.data()) &&
           before(piece.data() + piece.size(), text.data() + text.size());
  };
  size_t added = 0;
  for (std::string_view piece : *pieces) added += inside(piece) ? 0 : 2 * piece.size();
  owned->clear();
  owned->reserve(added);  // never moved again: the pieces view it
  for (std::string_view& piece : *pieces) {
    if (inside(piece)) {
      piece = units.substr(2 * static_cast<size_t>(piece.data() - text.data()), 2 * piece.size());
    } else {
      size_t at = owned->size();
      AppendUtf16(owned, piece);
      piece = std::string_view(*owned).substr(at);
    }
  }
}
