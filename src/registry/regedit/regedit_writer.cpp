#include "regedit_writer.h"

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
    unsigned char c = static_cast<unsigned char>(data[i]);
    if (c < 0x20 || (c > 0x7E && (!utf16 || c < 0xA0))) return false;
  }
  return true;
}

// `text` between double quotes, with backslash and double quote escaped.
void AppendQuoted(std::string* out, std::string_view text) {
  out->push_back('"');
  size_t copied = 0;  // text before this is in *out
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' || text[i] == '"') {
      out->append(text.data() + copied, i - copied).push_back('\\');
      copied = i;
    }
  }
  out->append(text.data() + copied, text.size() - copied).push_back('"');
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
  // Room for the line as most values make it, so that it grows once.
  out->reserve(line_start + 2 * (name.size() + data.size()) + 24);
  const bool written = LineEnd(name, 0) == name.size();  // no line break in the name
  if (name.empty()) {
    out->push_back('@');
  } else {
    AppendQuoted(out, name);
  }
  out->push_back('=');
  if (type == REG_SZ && IsPlainText(data, utf16)) {
    AppendQuoted(out, data.substr(0, data.size() - 1));
    return written;
  }
  if (type == REG_DWORD && data.size() == 4) {
    uint32_t number = 0;
    for (int i = 3; i >= 0; --i) number = (number << 8) | static_cast<unsigned char>(data[i]);
    out->append("dword:");
    AppendHex(out, number, 8);
    return written;
  }
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
