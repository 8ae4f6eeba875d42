// The portable store's file: a .reg text, read section by section as regedit reads it.
#pragma once

#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "registry_tree.h"

// One section of a store's text: a key's line and every line after it up to the next key's.
struct StoreSection {
  size_t begin;           // where the key's line starts
  size_t end;             // where the next section starts, or the end of the text
  std::string_view path;  // the key below its root, without a trailing backslash; empty: the root
  HKEY root;     // HKEY_CLASSES_ROOT or HKEY_CURRENT_USER; null for another root, a deletion
                 // (`[-...]`) or a key the registry cannot create: lines the program never reads
  bool removed;  // left to the file store, which marks the sections it deletes
};

// Checks that `text` is a store and lists its sections, without reading their values. A store
// has no NUL byte and a first line `REGEDIT4` or `Windows Registry Editor Version 5.00`, blanks
// before it allowed; lines end in CR LF, LF or CR, the last one may have none. A key line is one
// whose first non-blank character is `[` followed by no blank, and that holds a `]`: the key is
// what stands up to the last `]`; doubled backslashes in it count as one, as the registry takes
// them (the path of such a key is kept, so, in *paths). A line with `[` that is not a key line
// belongs to the section it stands in, as regedit skips it there. False when the text is not a
// store.
bool ScanRegeditFile(std::string_view text, std::vector<StoreSection>* sections,
                     std::deque<std::string>* paths);

// Whether hex data continued with a backslash may run across an edge of sections[i]: into its
// key line, or from its last value into the next section's. regedit then takes the key line as
// more data and the lines after it as the key's before, which no reading section by section
// gives; such a section cannot be read. Generous: the line before a key line (blank lines and
// comments passed over) counts when it starts as a value or hex data and holds a backslash
// followed by nothing but blanks or a comment.
bool ContinuedAcross(std::string_view text, const std::vector<StoreSection>& sections, size_t i);

// One value as regedit reads it, and the lines it takes: text[begin, end), line ends included.
struct RegeditValue {
  size_t begin;
  size_t end;
  std::string name;  // empty: the key's default value
  DWORD type;
  std::string data;
};

enum class RegeditItem {
  kEnd,         // nothing left before the end
  kValue,       // a value, in *value
  kSkipped,     // lines regedit skips: blank, comment, malformed, a deletion; they set nothing
  kUnreadable,  // a value line this reader cannot give the meaning regedit gives it
  kWide,        // a value of a UTF-16 store whose name or data holds a character above U+00FF:
                // well formed, but beyond what the program's 8-bit texts can hold
};

// Reads the line at text[*pos] (a line's start) with what regedit reads together with it (a hex
// value's continuation lines), stopping at `end` (a line's start, or the text's end), and moves
// *pos past it. `wide`: null for an 8-bit file; for a UTF-16 one (NarrowUnicodeStore), where its
// text holds characters above U+00FF. There REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ hex data is
// UTF-16LE, as regedit reads it in such a file. A value's data is read as its bytes: a text in
// hex keeps exactly the bytes written, with or without its NUL.
RegeditItem ReadRegeditItem(std::string_view text, size_t end, const std::vector<size_t>* wide,
                            size_t* pos, RegeditValue* value);

// The next value of a section from *pos on (the section's begin for its first): lines regedit
// skips are passed over. kEnd after the last one.
RegeditItem NextRegeditValue(std::string_view text, const StoreSection& section,
                             const std::vector<size_t>* wide, size_t* pos, RegeditValue* value);

// Whether `bytes` start with the byte order mark of a UTF-16LE file, as `regedit /e` and `reg
// export` write them. Regedit reads such a file under either header.
bool IsUnicodeStore(std::string_view bytes);
// The text of such a file as this reader takes it: NarrowUtf16 (utf16_text.h) of the code units
// after the mark, which *units views. False for an odd number of bytes.
bool NarrowUnicodeStore(std::string_view bytes, std::string* text, std::vector<size_t>* wide,
                        std::string_view* units);
