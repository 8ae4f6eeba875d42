// The portable store's file: REGEDIT4 text, read section by section.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "registry_tree.h"

// One section of a store's text: a key's line and every line after it up to the next key's.
struct StoreSection {
  size_t begin;           // where the key's line starts
  size_t end;             // where the next section starts, or the end of the text
  std::string_view path;  // the key below its root, without a trailing backslash; empty: the root
  HKEY root;              // HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, or null for another root
  bool removed;           // left to the file store, which marks the sections it deletes
};

// Checks the structure of a REGEDIT4 text and lists its sections, without reading their values:
// the text holds no NUL, starts with the line REGEDIT4, ends with a line end, has only blank
// lines and comments (`;`) before its first section, and every line that starts with `[` is
// `[ROOT]` or `[ROOT\path]` with HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE,
// HKEY_USERS, HKEY_CURRENT_CONFIG or HKEY_DYN_DATA (in any case) and a path the registry takes
// (names of 1 to 255 characters, at most 512 deep). False when the text is not a store.
bool ScanRegeditFile(std::string_view text, std::vector<StoreSection>* sections);

// The next value of a scanned section from *pos on (the section's begin for its first value):
// its line and continuation lines with their line ends. A line that is neither blank, a comment
// nor a value gives an empty value. False after the last one.
bool NextRegeditValue(std::string_view text, const StoreSection& section, size_t* pos,
                      std::string_view* value);

// Reads one value as NextRegeditValue gives it. `unicode`: the value comes from a version 5 file
// (see ConvertUnicodeStore). False when it is not a value this store can write back exactly.
bool ParseRegeditValue(std::string_view value, bool unicode, std::string* name, DWORD* type,
                       std::string* data);

// Whether `bytes` start with the byte order mark of what `reg export` writes: UTF-16LE under the
// header "Windows Registry Editor Version 5.00", whose texts may escape CR and LF as \r and \n,
// and whose REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ hex data is UTF-16LE too.
bool IsUnicodeStore(std::string_view bytes);
// The REGEDIT4 text of such a file: every character U+0000..U+00FF becomes the byte of that
// number, each value is written in its REGEDIT4 form, every other line is kept, lines end in
// CRLF. False for a character above U+00FF, an odd number of bytes or a value it cannot read.
bool ConvertUnicodeStore(std::string_view bytes, std::string* text);
