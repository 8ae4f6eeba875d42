#include "regedit_value_text.h"

#include <cstdint>
#include <cstdio>
#include <string>

#include "utf16_text.h"

namespace {

// The value types this file writes in a form of their own; the numbers are the registry's (this
// file is built without the registry's header, whose Windows form declares names of its own).
constexpr uint32_t kString = 1;        // REG_SZ
constexpr uint32_t kExpandString = 2;  // REG_EXPAND_SZ
constexpr uint32_t kBinary = 3;        // REG_BINARY
constexpr uint32_t kDword = 4;         // REG_DWORD
constexpr uint32_t kMultiString = 7;   // REG_MULTI_SZ

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
  for (char c : text) {
    if (c == '\\' || c == '"') out->push_back('\\');
    out->push_back(c);
  }
  out->push_back('"');
}

}  // namespace

void AppendRegeditValue(std::string* out, std::string_view name, uint32_t type,
                        std::string_view data, std::string_view line_end, bool utf16) {
  size_t line_start = out->size();
  if (name.empty()) {
    out->push_back('@');
  } else {
    AppendQuoted(out, name);
  }
  out->push_back('=');
  if (type == kString && IsPlainText(data, utf16)) {
    AppendQuoted(out, data.substr(0, data.size() - 1));
  } else if (type == kDword && data.size() == 4) {
    uint32_t number = 0;
    for (int i = 3; i >= 0; --i) number = (number << 8) | static_cast<unsigned char>(data[i]);
    char text[16];
    std::snprintf(text, sizeof text, "dword:%08x", static_cast<unsigned>(number));
    out->append(text);
  } else {
    char text[16] = "hex:";
    if (type != kBinary) std::snprintf(text, sizeof text, "hex(%x):", static_cast<unsigned>(type));
    out->append(text);
    std::string wide;
    if (utf16 && (type == kString || type == kExpandString || type == kMultiString)) {
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
  }
  out->append(line_end);
}
