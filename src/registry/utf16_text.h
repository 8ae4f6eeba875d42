// The one mapping between the program's 8-bit texts and UTF-16LE: the byte N is the character
// U+00NN, and back. A UTF-16 store is read and edited through it, one byte for each code unit.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// What a code unit above 0xFF narrows to: a byte that is no part of a .reg text's syntax. The
// positions NarrowUtf16 lists, not this byte, tell such a unit from the character U+0080.
constexpr char kWidePlaceholder = '\x80';

// Appends each byte of `text` as its UTF-16LE code unit.
void AppendUtf16(std::string* out, std::string_view text);

// Narrows UTF-16LE `bytes` to one byte for each code unit: a unit up to 0xFF as that byte, one
// above it (each half of a surrogate pair too) as kWidePlaceholder, whose positions go to *wide
// in order. False for an odd number of bytes.
bool NarrowUtf16(std::string_view bytes, std::string* text, std::vector<size_t>* wide);

// Whether `part`, a view of `text` as NarrowUtf16 narrowed it with `wide`, holds a code unit
// above 0xFF; for a copy of part of `text`, whether it holds kWidePlaceholder.
bool HoldsWide(const std::vector<size_t>& wide, std::string_view text, std::string_view part);

// Turns `pieces` of a new text made from `text`, which NarrowUtf16 narrowed from `units`, into
// UTF-16LE: a view of `text` becomes the units it came from, any other piece is widened into
// *owned, which must outlive the pieces.
void WidenPieces(std::string_view text, std::string_view units,
                 std::vector<std::string_view>* pieces, std::string* owned);
