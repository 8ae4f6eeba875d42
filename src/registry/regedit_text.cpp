#include "regedit_text.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

// The value types this file writes in a form of their own; the numbers are the registry's.
constexpr uint32_t kString = 1;  // REG_SZ
constexpr uint32_t kBinary = 3;  // REG_BINARY
constexpr uint32_t kDword = 4;   // REG_DWORD

// A line of hex bytes is broken once it reaches this many characters, as regedit does: 25
// bytes on each continuation line, none longer than 80 characters with its backslash.
constexpr size_t kWrapColumn = 77;
// What a line break inside hex data adds, and the room of the longest type prefix,
// "hex(ffffffff):".
constexpr size_t kBreakSize = 5;
constexpr size_t kLongestPrefix = 14;

constexpr char kDigits[] = "0123456789abcdef";

// The two digits of every byte.
struct HexPairs {
  constexpr HexPairs() : text() {
    for (int byte = 0; byte < 256; ++byte) {
      text[2 * byte] = kDigits[byte >> 4];
      text[2 * byte + 1] = kDigits[byte & 0xF];
    }
  }
  char text[512];
};
constexpr HexPairs kHexPairs;

bool IsPlainText(std::string_view data) {
  if (data.empty() || data.back() != '\0') return false;
  for (size_t i = 0; i + 1 < data.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(data[i]);
    if (c < 0x20 || c > 0x7E) return false;
  }
  return true;
}

// The writers below put their text at `out` and return where it ends; the caller has made room.

char* WriteQuoted(char* out, std::string_view text) {
  *out++ = '"';
  for (char c : text) {
    if (c == '\\' || c == '"') *out++ = '\\';
    *out++ = c;
  }
  *out++ = '"';
  return out;
}

char* WriteHexNumber(char* out, uint32_t number, int min_digits) {
  char digits[8];
  int count = 0;
  do {
    digits[count++] = kDigits[number & 0xF];
    number >>= 4;
  } while (number != 0 && count < 8);
  while (count < min_digits) digits[count++] = '0';
  while (count > 0) *out++ = digits[--count];
  return out;
}

// `column` is how many characters the current line already holds.
char* WriteHexBytes(char* out, std::string_view data, size_t column) {
  for (size_t i = 0; i < data.size(); ++i) {
    std::memcpy(out, &kHexPairs.text[2 * static_cast<unsigned char>(data[i])], 2);
    out += 2;
    if (i + 1 == data.size()) break;
    *out++ = ',';
    column += 3;
    if (column >= kWrapColumn) {
      std::memcpy(out, "\\\r\n  ", kBreakSize);
      out += kBreakSize;
      column = 2;
    }
  }
  return out;
}

// Room enough for the quoted form of `size` characters.
size_t QuotedBound(size_t size) {
  return 2 * size + 2;
}

// Room enough for a value's whole line: after the first break every line holds 25 bytes, so a
// break comes at most once for each 73 characters of hex, plus one.
size_t ValueBound(std::string_view name, std::string_view data) {
  size_t hex = 3 * data.size();
  size_t form = kLongestPrefix + hex + kBreakSize * (hex / (kWrapColumn - 4) + 1);
  return QuotedBound(name.size()) + 1 + std::max(form, QuotedBound(data.size())) + 2;
}

char* WriteValue(char* out, std::string_view name, uint32_t type, std::string_view data) {
  char* line_start = out;
  if (name.empty()) {
    *out++ = '@';
  } else {
    out = WriteQuoted(out, name);
  }
  *out++ = '=';

  if (type == kString && IsPlainText(data)) {
    out = WriteQuoted(out, data.substr(0, data.size() - 1));
  } else if (type == kDword && data.size() == 4) {
    uint32_t number = 0;
    for (int i = 3; i >= 0; --i) number = (number << 8) | static_cast<unsigned char>(data[i]);
    std::memcpy(out, "dword:", 6);
    out = WriteHexNumber(out + 6, number, 8);
  } else {
    if (type == kBinary) {
      std::memcpy(out, "hex:", 4);
      out += 4;
    } else {
      std::memcpy(out, "hex(", 4);
      out = WriteHexNumber(out + 4, type, 1);
      std::memcpy(out, "):", 2);
      out += 2;
    }
    out = WriteHexBytes(out, data, static_cast<size_t>(out - line_start));
  }
  *out++ = '\r';
  *out++ = '\n';
  return out;
}

// Appends what `write` puts in at most `bound` characters: through a buffer on the stack when
// that is enough (one copy), else straight into `out`.
template <typename Write>
void AppendWritten(std::string* out, size_t bound, Write write) {
  char line[1024];
  if (bound <= sizeof line) {
    out->append(line, static_cast<size_t>(write(line) - line));
    return;
  }
  size_t start = out->size();
  out->resize(start + bound);
  char* end = write(&(*out)[start]);
  out->resize(static_cast<size_t>(end - out->data()));
}

}  // namespace

void AppendQuoted(std::string* out, std::string_view text) {
  AppendWritten(out, QuotedBound(text.size()), [text](char* to) { return WriteQuoted(to, text); });
}

void AppendRegeditValue(std::string* out, std::string_view name, uint32_t type,
                        std::string_view data) {
  AppendWritten(out, ValueBound(name, data),
                [&](char* to) { return WriteValue(to, name, type, data); });
}
