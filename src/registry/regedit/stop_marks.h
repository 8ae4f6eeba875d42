// Where regedit's import may stop, looked for many bytes at a time where the processor can: the
// search the import-stop check reads every byte of a store's text with (CMake picks the file).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// A byte that may start what ends regedit's import, and where its line starts.
struct StopMark {
  size_t at;
  size_t line;
};

// The longest stretch FindStopMarks takes at once.
constexpr size_t kStopWindow = 1024;

// Writes to `out` (room for kStopWindow) every byte of text[from, to) that is a `(`, or a backslash
// before `0`, a blank, a line break or another byte below CR (more than may stop a quoted text:
// the caller tells them apart; at the text's end a backslash counts), in order, each with where its
// line starts. *line is where the line of text[from] starts, and is left where that of text[to]
// does. to - from is at most kStopWindow. Returns how many it wrote.
size_t FindStopMarks(std::string_view text, size_t from, size_t to, size_t* line, StopMark* out);

// The same a byte at a time: what FindStopMarks does where the processor has no faster way, and
// with the last bytes of a text.
size_t FindStopMarksBytewise(std::string_view text, size_t from, size_t to, size_t* line,
                             StopMark* out);
