#include "regedit_writer.h"

#include <algorithm>

#include "regedit_lines.h"
#include "registry_api.h"
#include "utf16_text.h"

namespace {

// A line of hex bytes is broken once it reaches this many characters, as regedit does: 25
// bytes on each continuation line, none longer than 80 characters with its backslash.
constexpr size_t kWrapColumn = 77;

constexpr char kDigits[] = "0123456789abcdef";

// Printable ASCII; in a UTF-16 store printable Latin-1 too, which regedit reads there as it
// stands (and in an 8-bit one through the code page).
bool IsPlainText(std::string_view data, bool utf16) {
  if (data.empty() || data.back() != '\0') return false;
  for (size_t i = 0; i + 1 < data.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(data[i]);
    if (c - 0x20u > 0x7Eu - 0x20u && (!utf16 || c < 0xA0)) return false;
  }
  return true;
}

// Writes `text` between double quotes at `to`, with backslash and double quote escaped: at most
// 2 * text.size() + 2 bytes. Returns where they end.
char* WriteQuoted(char* to, std::string_view text) {
  *to++ = '"';
  for (char c : text) {
    if (c == '\\' || c == '"') *to++ = '\\';
    *to++ = c;
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
                        std::string_view data, std::string_view line_end, bool utf16) {
  const size_t line_start = out->size();
  const bool written = LineEnd(name, 0) == name.size();  // no line break in the name
  const size_t name_room = 2 * name.size() + 2;          // `@`, or the name quoted
  const bool text = type == REG_SZ && IsPlainText(data, utf16);
  if (text || (type == REG_DWORD && data.size() == 4)) {
    // A text or a number: room for the longest line it can make, its bytes, then the line cut to
    // them, so that the text grows once.
    constexpr std::string_view kDword = "dword:";
    out->resize(line_start + name_room + 1 + (text ? 2 * data.size() : kDword.size() + 8));
    char* to = out->data() + line_start;
    if (name.empty()) {
      *to++ = '@';
    } else {
      to = WriteQuoted(to, name);
    }
    *to++ = '=';
    if (text) {
      to = WriteQuoted(to, data.substr(0, data.size() - 1));
    } else {
      uint32_t number = 0;
      for (int i = 3; i >= 0; --i) number = (number << 8) | static_cast<unsigned char>(data[i]);
      to = std::copy(kDword.begin(), kDword.end(), to);
      for (int digit = 7; digit >= 0; --digit, number >>= 4) to[digit] = kDigits[number & 0xF];
      to += 8;
    }
    out->resize(static_cast<size_t>(to - out->data()));
    return written;
  }
  // Room for the line as most values make it, so that it grows once.
  out->reserve(line_start + name_room + 2 * data.size() + 24);
  if (name.empty()) {
    out->push_back('@');
  } else {
    out->resize(line_start + name_room);
    out->resize(static_cast<size_t>(WriteQuoted(out->data() + line_start, name) - out->data()));
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
  return written;
}
