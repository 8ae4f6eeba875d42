// The lines of a store's text as regedit reads them: a line ends in CR LF, LF or CR, the last one
// perhaps in none. Only standard types cross this header, so that it serves beside <windows.h>.
#pragma once

#include <cstddef>
#include <string_view>

// The line end of new lines where the text has none to follow: a new store's, and one without any.
constexpr std::string_view kLineEnd = "\r\n";

inline bool IsLineBreak(char c) {
  return c == '\n' || c == '\r';
}

// Where the line that holds text[pos] (or ends just before it) starts.
size_t LineStart(std::string_view text, size_t pos);
// Where the line at `pos` ends, before its line end; text.size() for a last line without one.
size_t LineEnd(std::string_view text, size_t pos);
// Where the line after the one that ends at `line_end` (as LineEnd gives it) starts.
size_t NextLine(std::string_view text, size_t line_end);
// The line end of the last line before `pos` that has one, or kLineEnd: new lines end so.
std::string_view LineEndBefore(std::string_view text, size_t pos);
// The line end that `text` ends with (CR LF, LF or CR), or an empty one.
std::string_view LineEndAtEnd(std::string_view text);
