// Edits of a store's text, and the pieces of the new text they make.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// text[begin, end) becomes new_text[text_begin, text_end), new_text being the text all of a
// run's edits write: a line changed, a section removed, or lines added where begin == end. At one
// place empty ranges go first, a key's lines before new sections, then in `order`.
struct TextEdit {
  enum Kind { kLines, kSection };
  size_t begin;
  size_t end;
  Kind kind;
  size_t order;
  size_t text_begin;
  size_t text_end;
};

// The new text, as the untouched ranges of `text` and the edits' texts (in `new_text`) in order;
// *edits is sorted. Text added after a last line that has no line end gives that line one first.
// False when two edits overlap or one runs backwards: a text made of them would repeat or lose the
// user's bytes, so nothing may be written.
bool EditPieces(std::string_view text, std::string_view new_text, std::vector<TextEdit>* edits,
                std::vector<std::string_view>* pieces);
