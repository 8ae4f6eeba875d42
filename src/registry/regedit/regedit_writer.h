// The lines the program writes into a store, in the forms regedit reads. Only standard types cross
// this header, so that it serves beside <windows.h> as well as beside the portable store.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The names of the two roots the program reads and writes, as key lines spell them.
constexpr std::string_view kClassesRootName = "HKEY_CLASSES_ROOT";
constexpr std::string_view kCurrentUserName = "HKEY_CURRENT_USER";

// A new store's text: its header and a blank line, each ending in kLineEnd (regedit_lines.h).
constexpr std::string_view kNewStore = "REGEDIT4\r\n\r\n";

// Appends `[path]` and `line_end`, `path` from its root's name on; false for one with a line break.
bool AppendKeyLine(std::string* out, std::string_view path, std::string_view line_end);

// Appends the value's lines, every one but the last ending in `line_end`, the last in `last_end`
// (none by default): `"name"=` or `@=` for the default value (empty name), then `"text"` for a
// REG_SZ of printable text with exactly one terminating NUL, `dword:xxxxxxxx` for a 4-byte
// REG_DWORD, `hex:..` for REG_BINARY and `hex(N):..` for anything else. Long hex data continues
// on further lines after a backslash. For a UTF-16 store (`utf16`) a text may hold printable
// Latin-1 too, and the hex data of REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ is that of the UTF-16
// text (utf16_text.h), as regedit reads it there. False for a name with a line break, which no
// line of a store can carry.
bool AppendRegeditValue(std::string* out, std::string_view name, uint32_t type,
                        std::string_view data, std::string_view line_end, bool utf16 = false,
                        std::string_view last_end = {});
