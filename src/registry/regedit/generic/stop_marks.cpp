#include "stop_marks.h"

// Without SSE2 (the 32-bit Windows builds, which read no store file) a byte at a time.
size_t FindStopMarks(std::string_view text, size_t from, size_t to, size_t* line, StopMark* out) {
  return FindStopMarksBytewise(text, from, to, line, out);
}
