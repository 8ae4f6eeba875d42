#include "stop_marks.h"

#include "regedit_lines.h"

size_t FindStopMarksBytewise(std::string_view text, size_t from, size_t to, size_t* line,
                             StopMark* out) {
  size_t count = 0;
  for (size_t at = from; at < to; ++at) {
    const char c = text[at];
    if (IsLineBreak(c)) {
      *line = at + 1;
      continue;
    }
    const unsigned char next = at + 1 < text.size() ? static_cast<unsigned char>(text[at + 1]) : 0;
    if (c == '(' || (c == '\\' && (next <= '\r' || next == ' ' || next == '0'))) {
      out[count++] = {at, *line};
    }
  }
  return count;
}
