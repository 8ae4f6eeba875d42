#include "regedit_writer.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "byte_mask.h"
#include "regedit_lines.h"
#include "registry_api.h"
#include "utf16_text.h"

namespace {

// A line of hex bytes is broken once it reaches this many characters, as regedit does: 25
// bytes on each continuation line, none longer than 80 characters with its backslash.
constexpr size_t kWrapColumn = 77;

constexpr char kDigits[] = "0123456789abcdef";

// How a byte stands between quotes: as it is, after a backslash, or, in a text, not at all: a
// text with a control character, DEL or a byte above ASCII is written in hex, but in a UTF-16
// store, where regedit reads printable Latin-1 as it stands (and an 8-bit store's text through the
// code page). A table: one load a byte.
enum Quoting : unsigned char { kAsIs, kEscaped, kNotText };
struct QuotingTable {
  constexpr QuotingTable() : of() {
    for (int c = 0; c < 256; ++c) of[c] = c < 0x20 || c > 0x7E ? kNotText : kAsIs;
    of[static_cast<unsigned char>('\\')] = of[static_cast<unsigned char>('"')] = kEscaped;
  }
  Quoting of[256];
};
constexpr QuotingTable kQuoting;

// Writes `name` between double quotes at `to`, with backslash and double quote escaped: at most
// 2 * name.size() + 2 bytes. Returns where they end; clears *written at a line break, which no
// line can hold.
char* WriteQuotedName(char* to, std::string_view name, bool* written) {
  *to++ = '"';
  for (char c : name) {
    const Quoting how = kQuoting.of[static_cast<unsigned char>(c)];
    if (how == kEscaped) {
      *to++ = '\\';
    } else if (how == kNotText && IsLineBreak(c)) {
      *written = false;
    }
    *to++ = c;
  }
  *to++ = '"';
  return to;
}

// Writes `text` quoted as WriteQuotedName does, or returns null for a text that must be written in
// hex (kQuoting). Runs that stand as they are go a block at a time while one fits; a block may be
// written past the run, within the 2 * text.size() + 2 bytes the line has room for.
char* WriteQuotedText(char* to, std::string_view text, bool utf16) {
  *to++ = '"';
  const char* from = text.data();
  const char* const end = from + text.size();
  while (from != end) {
    if (end - from >= static_cast<ptrdiff_t>(kBlock)) {
      const unsigned stops = PlainRunEndMask(from);
      std::memcpy(to, from, kBlock);
      const size_t run = stops == 0 ? kBlock : static_cast<size_t>(__builtin_ctz(stops));
      to += run;
      from += run;
      if (stops == 0) continue;
    } else {
      while (from != end && kQuoting.of[static_cast<unsigned char>(*from)] == kAsIs) {
        *to++ = *from++;
      }
      if (from == end) break;
    }
    const Quoting how = kQuoting.of[static_cast<unsigned char>(*from)];
    if (how == kEscaped) {
      *to++ = '\\';
    } else if (how == kNotText && (!utf16 || static_cast<unsigned char>(*from) < 0xA0)) {
      return nullptr;
    }
    *to++ = *from++;
  }
  *to++ = '"';
  return to;
}

// `number` in hex digits, `width` of them at least.
void AppendHex(std::string* out, uint32_t number, int width) {
  char digits[8];
  int count = 0;
  do {
    digits[7 - count++] = kDigits[number & 0xF];
    number >>= 4;
  } while (number != 0 || count < width);
  out->append(digits + 8 - count, static_cast<size_t>(count));
}

}  // namespace

bool AppendKeyLine(std::string* out, std::string_view path, std::string_view line_end) {
  out->append("[").append(path).append("]").append(line_end);
  return LineEnd(path, 0) == path.size();  // no line break
}

bool AppendRegeditValue(std::string* out, std::string_view name, uint32_t type,
                        std::string_view data, std::string_view line_end, bool utf16,
                        std::string_view last_end) {
  const size_t line_start = out->size();
  bool written = true;
  const size_t name_room = 2 * name.size() + 2;  // `@`, or the name quoted
  const bool number = type == REG_DWORD && data.size() == 4;
  if (number || (type == REG_SZ && !data.empty() && data.back() == '\0')) {
    // A text or a number: written where its longest line has room, then cut to its bytes; on the
    // stack when that is short, so that the text grows once, by those bytes.
    constexpr std::string_view kDword = "dword:";
    const size_t room =
        name_room + 1 + (number ? kDword.size() + 8 : 2 * data.size()) + last_end.size();
    char short_line[256];
    char* const start = room <= sizeof short_line
                            ? short_line
                            : (out->resize(line_start + room), out->data() + line_start);
    char* to = start;
    if (name.empty()) {
      *to++ = '@';
    } else {
      to = WriteQuotedName(to, name, &written);
    }
    *to++ = '=';
    if (number) {
      uint32_t value = 0;
      for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(data[i]);
      to = std::copy(kDword.begin(), kDword.end(), to);
      for (int digit = 7; digit >= 0; --digit, value >>= 4) to[digit] = kDigits[value & 0xF];
      to += 8;
    } else {
      to = WriteQuotedText(to, data.substr(0, data.size() - 1), utf16);
    }
    if (to != nullptr) {
      to = std::copy(last_end.begin(), last_end.end(), to);
      if (start == short_line) {
        out->append(short_line, static_cast<size_t>(to - short_line));
      } else {
        out->resize(static_cast<size_t>(to - out->data()));
      }
      return written;
    }
    out->resize(line_start);  // a text written in hex after all
  }
  // Room for the line as most values make it, so that it grows once.
  out->reserve(line_start + name_room + 2 * data.size() + 24);
  if (name.empty()) {
    out->push_back('@');
  } else {
    out->resize(line_start + name_room);
    out->resize(static_cast<size_t>(WriteQuotedName(out->data() + line_start, name, &written) -
                                    out->data()));
  }
  out->push_back('=');
  if (type == REG_BINARY) {
    out->append("hex:");
  } else {
    out->append("hex(");
    AppendHex(out, type, 1);
    out->append("):");
  }
  std::string wide;
  if (utf16 && (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ)) {
    AppendUtf16(&wide, data);
    data = wide;
  }
  size_t column = out->size() - line_start;
  for (size_t i = 0; i < data.size(); ++i) {
    unsigned char byte = static_cast<unsigned char>(data[i]);
    out->push_back(kDigits[byte >> 4]);
    out->push_back(kDigits[byte & 0xF]);
    if (i + 1 == data.size()) break;
    out->push_back(',');
    column += 3;
    if (column >= kWrapColumn) {
      out->append("\\").append(line_end).append("  ");
      column = 2;
    }
  }
  out->append(last_end);
  return written;
}
