#include "regedit_lines.h"

#include "byte_mask.h"

size_t LineStart(std::string_view text, size_t pos) {
  for (; pos >= kBlock; pos -= kBlock) {
    if (unsigned breaks = ByteMask(text.data() + pos - kBlock, '\n', '\r')) {
      return pos - kBlock + static_cast<size_t>(32 - __builtin_clz(breaks));
    }
  }
  while (pos > 0 && !IsLineBreak(text[pos - 1])) --pos;
  return pos;
}

size_t LineEnd(std::string_view text, size_t pos) {
  for (; pos + kBlock <= text.size(); pos += kBlock) {
    if (unsigned breaks = ByteMask(text.data() + pos, '\n', '\r')) {
      return pos + static_cast<size_t>(__builtin_ctz(breaks));
    }
  }
  while (pos < text.size() && !IsLineBreak(text[pos])) ++pos;
  return pos;
}

size_t NextLine(std::string_view text, size_t line_end) {
  if (line_end == text.size()) return line_end;
  return line_end + (text.substr(line_end, 2) == kLineEnd ? 2 : 1);
}

std::string_view LineEndBefore(std::string_view text, size_t pos) {
  size_t after = LineStart(text, pos);  // just past that line end
  if (after == 0) return kLineEnd;
  size_t size = after >= 2 && text.substr(after - 2, 2) == kLineEnd ? 2 : 1;
  return text.substr(after - size, size);
}

std::string_view LineEndAtEnd(std::string_view text) {
  size_t size = text.empty() || !IsLineBreak(text.back())                      ? 0
                : text.size() >= 2 && text.substr(text.size() - 2) == kLineEnd ? 2
                                                                               : 1;
  return text.substr(text.size() - size);
}
