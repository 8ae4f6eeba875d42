// The portable store's file: a whole RegistryTree as REGEDIT4 text.
#pragma once

#include <string>
#include <string_view>

#include "registry_tree.h"

// Fills an empty `tree` from the text of a store file. False when the text is not a store
// this program can read back exactly; `tree` is then unspecified. Besides REGEDIT4 it reads what
// `reg export` writes: UTF-16LE with a byte order mark under the header "Windows Registry Editor
// Version 5.00", the same value forms, texts that may also escape CR and LF as \r and \n, and the
// data of REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ hex values in UTF-16LE as well. Every character
// U+0000..U+00FF becomes the byte of that number, as the store holds text; a character above
// U+00FF, or an odd number of UTF-16 bytes, makes the file unreadable.
bool ParseRegeditFile(std::string_view text, RegistryTree* tree);

// The file's text: "REGEDIT4", a blank line, then every key below the roots as a section with
// its values in creation order and a blank line; keys sorted without regard to case, parents
// before children; CRLF line ends. When FormatsExactly(tree), parsing the result gives an equal
// tree.
std::string FormatRegeditFile(const RegistryTree& tree);
// The same text in place of `out`'s, written into the room `out` already has where it is enough.
void FormatRegeditFile(const RegistryTree& tree, std::string* out);

// Whether the text of `tree` parses back to an equal tree, which is whether every key and value
// name is one the parser accepts: no CR or LF in any name, key names of 1 to 255 characters,
// value names of at most 16383, and no key more than 512 levels below its root.
bool FormatsExactly(const RegistryTree& tree);
