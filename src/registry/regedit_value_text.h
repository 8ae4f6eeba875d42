// The REGEDIT4 text form of one registry value, shared by the portable store's file and by
// the tests that dump a real registry in the same form.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Appends the value's line, `line_end` included: `"name"=` or `@=` for the default value (empty
// name), then `"text"` for a REG_SZ of printable text with exactly one terminating NUL,
// `dword:xxxxxxxx` for a 4-byte REG_DWORD, `hex:..` for REG_BINARY and `hex(N):..` for anything
// else. Long hex data continues on further lines ending in a backslash. For a UTF-16 store
// (`utf16`) a text may hold printable Latin-1 too, and the hex data of REG_SZ, REG_EXPAND_SZ and
// REG_MULTI_SZ is that of the UTF-16 text (utf16_text.h), as regedit reads it there.
void AppendRegeditValue(std::string* out, std::string_view name, uint32_t type,
                        std::string_view data, std::string_view line_end = "\r\n",
                        bool utf16 = false);
