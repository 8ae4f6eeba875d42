// A store's text read section by section as regedit reads it (the lines: regedit_lines.h; a UTF-16
// store's text narrowed: utf16_text.h).
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
                 // (`[-...]`) or a path the registry takes for no key (an empty name): lines the
                 // program never reads
  bool refused;  // a key below the root that the registry refuses (a name of more than 255
                 // characters, more than 512 levels): regedit makes the keys above it and sets
                 // none of its values; it goes with a key above it that a run deletes
  bool removed;  // left to the file store, which marks the sections it deletes
  HKEY deletes;  // a `[-...]` section: the root of the key regedit deletes there, `path` below it
};

// Checks that `text` (StoreText::text()) is a store and lists its sections, without reading their
// values. A store's first line is `REGEDIT4` or `Windows Registry Editor Version 5.00`, blanks
// before it allowed. A key line is one whose first non-blank character is `[` followed by no
// blank, and that holds a `]`: the key is what stands up to the last `]`; doubled backslashes in
// it count as one, as the registry takes them (the path of such a key is kept, so, in *paths). A
// line with `[` that is not a key line belongs to the section it stands in, as regedit skips it
// there. False when the text is not a store.
bool ScanRegeditFile(std::string_view text, std::vector<StoreSection>* sections,
                     std::deque<std::string>* paths);

// Where regedit may stop reading `text` (UTF-16 or not), looked for before `before`: the start of
// the first line after the header whose quoted data holds `\0` or ends in a backslash (Wine's
// regedit leaves the import there, or skips the line, as it happens), or that holds a text in hex
// too short for one character (Wine's regedit dies there); text.size() when there is none.
// Nothing after it may be read, changed or added: regedit would not see it.
size_t ImportStop(std::string_view text, size_t before, bool utf16);

// Whether the lines before `line_start`, blank lines and comments passed over, may end in hex
// data continued with a backslash, which would make regedit read the line at `line_start` as
// more of that data: a hex value's line or a line of hex bytes whose list ends in a backslash
// and nothing but blanks or a comment. Generous where this reader does not take the list apart
// (a sign, a 0x, a character beyond ASCII): then any backslash so followed counts.
bool MayContinueInto(std::string_view text, size_t line_start);

// Whether hex data continued with a backslash may run across an edge of sections[i]: into its
// key line, or from its last value into the next section's. regedit then takes the key line as
// more data and the lines after it as the key's before, which no reading section by section
// gives; such a section cannot be read. As generous as MayContinueInto.
bool ContinuedAcross(std::string_view text, const std::vector<StoreSection>& sections, size_t i);

// One value as regedit reads it, and the lines it takes: text[begin, end), line ends included;
// its last line ends at text_end, before that line's line end (none at the end of a text).
struct RegeditValue {
  size_t begin;
  size_t text_end;
  size_t end;
  std::string name;  // empty: the key's default value
  DWORD type;
  std::string data;
};

enum class RegeditItem {
  kEnd,          // nothing left before the end
  kValue,        // a value, in *value
  kSkipped,      // lines regedit skips: blank, comment, malformed, a deletion; they set nothing
  kUnreadable,   // a value line this reader cannot give the meaning regedit gives it: hex data
                 // with a sign, a 0x or a character beyond ASCII before its comment
  kBeyond8Bits,  // a value of a UTF-16 store whose name or data holds a character above U+00FF:
                 // well formed, but beyond what the program's 8-bit texts can hold
  kDeletion,     // `"name"=-`: regedit deletes the value there, if the lines before set it
};

// Reads the line at text[*pos] (a line's start) with what regedit reads together with it (a hex
// value's continuation lines), stopping at `end` (a line's start, or the text's end), and moves
// *pos past it. In a UTF-16 store (`utf16`) REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ hex data is
// UTF-16LE, as regedit reads it in such a file. A value's data is read as its bytes: a text in
// hex keeps exactly the bytes written, with or without its NUL.
RegeditItem ReadRegeditItem(std::string_view text, size_t end, bool utf16, size_t* pos,
                            RegeditValue* value);

// The next value of a section from *pos on (the section's begin for its first): lines regedit
// skips are passed over. kEnd after the last one.
RegeditItem NextRegeditValue(std::string_view text, const StoreSection& section, bool utf16,
                             size_t* pos, RegeditValue* value);

// A value line in a form regedit writes a text or a number in: `"name"="text"` or `"name"=dword:`
// and eight hex digits, from the line's start to its end, with no backslash in the name and, in the
// text, no `\0`, no backslash before the line end and no character above U+00FF. ReadRegeditItem
// reads such a line as any other; a store may find it first and read its data when it is asked for.
struct WrittenValue {
  size_t text_end;        // as RegeditValue's
  size_t end;             // as RegeditValue's
  std::string_view name;  // in the text
  DWORD type;             // REG_SZ or REG_DWORD
  size_t size;            // of its data
};

// How many bytes past a value's data FindWrittenValue may write.
constexpr size_t kReadSlack = 16;

// Whether the line at text[pos] (a line's start) is a value in a written form: *found says where
// it ends, what it is called and what it holds; its data, as ReadRegeditItem reads it, goes to
// `out` too unless that is null, which must then have room for found->size + kReadSlack bytes
// (found->size is at most as many as the line has up to its text_end).
bool FindWrittenValue(std::string_view text, size_t pos, WrittenValue* found, char* out = nullptr);
