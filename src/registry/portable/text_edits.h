// Edits of a store's text, and the pieces of the new text they make.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// text[begin, end) becomes `text`: a line changed, a section removed, or lines added where
// begin == end. At one place empty ranges go first, values (rank 0) before new sections (rank 1),
// then in `order`.
struct TextEdit {
  size_t begin;
  size_t end;
  int rank;
  size_t order;
  std::string text;
};

// The line end of the last line before `pos` that has one: CR LF, LF or CR; CR LF in a text that
// has none. New lines end as the lines before them.
std::string_view LineEndBefore(std::string_view text, size_t pos);

// The new text, as the untouched ranges of `text` and the edits' texts in order; *edits is
// sorted. Text added after a last line that has no line end gives that line one first. False
// when two edits overlap or one runs backwards: a text made of them would repeat or lose the
// user's bytes, so nothing may be written.
bool EditPieces(std::string_view text, std::vector<TextEdit>* edits,
                std::vector<std::string_view>* pieces);
