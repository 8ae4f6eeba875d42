// The one mapping between the program's 8-bit texts and UTF-16LE, the byte N being the character
// U+00NN both ways, and a store's text through it: a UTF-16 store is read one byte a code unit.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "text_buffer.h"

// What a code unit above 0xFF narrows to in a store's text: NUL, which a store's text holds for no
// other reason (StoreText refuses the character U+0000) and no name the program asks for holds.
constexpr char kHighUnit = '\0';

// Appends each byte of `text` as its UTF-16LE code unit.
void AppendUtf16(std::string* out, std::string_view text);

// Narrows UTF-16LE `bytes` into *text: a code unit up to 0xFF as that byte, one above it (each
// half of a surrogate pair too) as kHighUnit, and *high tells whether there was one. False for an
// odd number of bytes.
bool NarrowUtf16(std::string_view bytes, std::string* text, bool* high);

// A store file's text as the reader reads it: an 8-bit file as it stands; a UTF-16LE one (a byte
// order mark first, as `regedit /e` and `reg export` write them) narrowed after the mark.
class StoreText {
 public:
  // Takes the file's `bytes`, which must outlive it. False for a text that holds the character
  // NUL, and for a UTF-16 file of an odd number of bytes: no store. A UTF-16 file is narrowed a
  // part at a time, and `done`, if given, is called with each part of `bytes` once narrowed:
  // nothing reads those bytes again before Encode's pieces are written.
  bool Read(std::string_view bytes, const std::function<void(std::string_view)>& done = {});
  std::string_view text() const { return text_; }
  bool utf16() const { return utf16_; }
  // Makes `pieces` of a new text made from text() the file's bytes. In a UTF-16 store a view of
  // text() becomes the code units it came from and any other piece is widened into *owned, which
  // must outlive the pieces; the byte order mark goes first. Then the narrowed text is freed, and
  // text() is empty: a UTF-16 store's pieces are written while only the file's bytes are held.
  void Encode(std::vector<std::string_view>* pieces, std::deque<std::string>* owned);

 private:
  std::string_view bytes_;
  std::string_view text_;
  bool utf16_ = false;
  TextBuffer narrowed_;  // text_ of a UTF-16 store, never filled but by narrowing
};
