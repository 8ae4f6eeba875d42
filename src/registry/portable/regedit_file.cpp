#include "regedit_file.h"

#include <algorithm>
#include <utility>

#include "regedit_text.h"

namespace {

constexpr std::string_view kHeader = "REGEDIT4";
constexpr std::string_view kUnicodeHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kByteOrderMark = "\xFF\xFE";

int HexDigit(char c) {
  size_t at = std::string_view("0123456789abcdef0123456789ABCDEF").find(c);
  return at == std::string_view::npos ? -1 : static_cast<int>(at % 16);
}

// 1 to 8 hex digits and nothing else.
bool ParseHexNumber(std::string_view digits, DWORD* number) {
  if (digits.empty() || digits.size() > 8) return false;
  *number = 0;
  for (char c : digits) {
    int digit = HexDigit(c);
    if (digit < 0) return false;
    *number = (*number << 4) | static_cast<DWORD>(digit);
  }
  return true;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// Reads the quoted string that starts at line[*pos], whose only escapes are \\ and \" (and \r
// and \n with `line_breaks`), and leaves *pos just past its closing quote.
bool ReadQuoted(std::string_view line, size_t* pos, std::string* out, bool line_breaks) {
  out->clear();
  size_t i = *pos + 1;
  while (i < line.size()) {
    size_t stop = std::min(line.find_first_of("\\\"", i), line.size());
    if (stop == line.size()) return false;
    out->append(line.data() + i, stop - i);
    if (line[stop] == '"') {
      *pos = stop + 1;
      return true;
    }
    char escaped = stop + 1 == line.size() ? '\0' : line[stop + 1];
    if (line_breaks && (escaped == 'r' || escaped == 'n')) {
      out->push_back(escaped == 'r' ? '\r' : '\n');
    } else if (escaped == '\\' || escaped == '"') {
      out->push_back(escaped);
    } else {
      return false;
    }
    i = stop + 2;
  }
  return false;
}

// Comma-separated bytes of two hex digits each; empty for no bytes.
bool ParseHexBytes(std::string_view list, std::string* bytes) {
  bytes->clear();
  if (!list.empty() && list.size() % 3 != 2) return false;  // "xx", then ",xx" for each more
  for (size_t i = 0; i < list.size(); i += 3) {
    int high = HexDigit(list[i]);
    int low = HexDigit(list[i + 1]);
    if (high < 0 || low < 0 || (i + 2 < list.size() && list[i + 2] != ',')) return false;
    bytes->push_back(static_cast<char>(high * 16 + low));
  }
  return true;
}

// Each pair of bytes of UTF-16LE text as the one byte of its character; false for an odd number
// of bytes or a character above U+00FF.
bool NarrowUtf16(std::string_view bytes, std::string* text) {
  if (bytes.size() % 2 != 0) return false;
  text->resize(bytes.size() / 2);
  for (size_t i = 0; i < text->size(); ++i) {
    if (bytes[2 * i + 1] != '\0') return false;
    (*text)[i] = bytes[2 * i];
  }
  return true;
}

// Takes the next line off *rest, without its LF or CRLF. False when it has no LF (a last line
// cut short) or holds another CR, which could not be written back.
bool TakeLine(std::string_view* rest, std::string_view* line) {
  size_t end = rest->find('\n');
  if (end == std::string_view::npos) return false;
  *line = rest->substr(0, end);
  rest->remove_prefix(end + 1);
  if (!line->empty() && line->back() == '\r') line->remove_suffix(1);
  return line->find('\r') == std::string_view::npos;
}

enum ItemKind { kEnd, kBad, kOther, kSection, kValue };

// Reads the line at text[*pos], with a value line's continuation lines, and moves *pos past
// them. *first gets the first line.
ItemKind ReadItem(std::string_view text, size_t* pos, std::string_view* first) {
  if (*pos == text.size()) return kEnd;
  std::string_view rest = text.substr(*pos);
  if (!TakeLine(&rest, first)) return kBad;
  std::string_view line = *first;
  ItemKind kind = kBad;
  if (line.empty() || line[0] == ';') {
    kind = kOther;
  } else if (line[0] == '[') {
    kind = kSection;
  } else if (line[0] == '"' || line[0] == '@') {
    kind = kValue;
    while (!line.empty() && line.back() == '\\') {
      if (!TakeLine(&rest, &line)) return kBad;
    }
  }
  *pos = text.size() - rest.size();
  return kind;
}

// `[ROOT]` or `[ROOT\path]`; `names` is scratch space.
bool ReadSectionLine(std::string_view line, StoreSection* section,
                     std::vector<std::string_view>* names) {
  if (line.size() < 2 || line.back() != ']') return false;
  std::string_view inside = line.substr(1, line.size() - 2);
  size_t slash = std::min(inside.find('\\'), inside.size());
  std::string_view root = inside.substr(0, slash);
  std::string_view path = inside.substr(std::min(slash + 1, inside.size()));
  // The program never reads or writes the other roots; a store keeps their sections as they stand.
  static const std::pair<std::string_view, HKEY> kRoots[] = {
      {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT}, {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
      {"HKEY_LOCAL_MACHINE", nullptr},          {"HKEY_USERS", nullptr},
      {"HKEY_CURRENT_CONFIG", nullptr},         {"HKEY_DYN_DATA", nullptr}};
  auto known = std::find_if(std::begin(kRoots), std::end(kRoots),
                            [root](const auto& entry) { return NamesEqual(root, entry.first); });
  if (known == std::end(kRoots)) return false;  // a deletion section `[-ROOT\...]` too
  section->root = known->second;
  if (!SplitKeyPath(path, names) || names->size() > kMaxKeyDepth) return false;
  if (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  section->path = path;
  return true;
}

// The bytes after `hex:` or `hex(N):` on a value's first line, continued on its further lines
// (leading spaces dropped) for as long as a line ends in a backslash.
bool ReadHexData(std::string_view line, std::string_view rest, std::string* bytes) {
  if (line.empty() || line.back() != '\\') return ParseHexBytes(line, bytes);
  std::string joined;
  while (!line.empty() && line.back() == '\\') {
    joined.append(line.substr(0, line.size() - 1));
    if (!TakeLine(&rest, &line)) return false;
    line.remove_prefix(std::min(line.find_first_not_of(' '), line.size()));
  }
  return ParseHexBytes(joined.append(line), bytes);
}

}  // namespace

bool ScanRegeditFile(std::string_view text, std::vector<StoreSection>* sections) {
  sections->clear();
  std::string_view rest = text;
  std::string_view line;
  // In an order that never reads far into a file of holes: its last byte is a NUL, and so is
  // the first byte after a header.
  if (text.empty() || text.back() != '\n' || !StartsWith(text, kHeader) ||
      text.find('\0') != std::string_view::npos || !TakeLine(&rest, &line) || line != kHeader) {
    return false;
  }
  // Room for sections of a hundred bytes or more: a larger vector costs only address space, a
  // regrown one copies and touches it twice.
  sections->reserve(text.size() / 128);
  std::vector<std::string_view> names;
  for (size_t pos = text.size() - rest.size(); pos < text.size();) {
    size_t begin = pos;
    ItemKind kind = ReadItem(text, &pos, &line);
    if (kind == kOther && sections->empty()) continue;  // blank lines and comments first
    sections->push_back(StoreSection{begin, text.size(), {}, nullptr, false});
    if (kind != kSection || !ReadSectionLine(line, &sections->back(), &names)) return false;
    // The section runs to the next line that starts with a bracket.
    for (; pos < text.size(); ++pos) {
      pos = std::min(text.find('[', pos), text.size());
      if (pos == text.size() || text[pos - 1] == '\n') break;
    }
    sections->back().end = pos;
  }
  return true;
}

bool NextRegeditValue(std::string_view text, const StoreSection& section, size_t* pos,
                      std::string_view* value) {
  std::string_view line;
  while (*pos < section.end) {
    size_t start = *pos;
    ItemKind kind = ReadItem(text, pos, &line);
    if (kind == kValue || kind == kBad) {
      // A line that is none of a section's gives a value that does not parse.
      if (kind == kBad) *pos = section.end;
      *value = text.substr(start, kind == kBad ? 0 : *pos - start);
      return true;
    }
  }
  return false;
}

bool ParseRegeditValue(std::string_view value, bool unicode, std::string* name, DWORD* type,
                       std::string* data) {
  std::string_view line;
  if (!TakeLine(&value, &line) || line.empty()) return false;
  size_t pos = 1;
  if (line[0] == '"') {
    pos = 0;
    // A name holding a line break (a version 5 file's \r or \n) could not be written back.
    if (!ReadQuoted(line, &pos, name, unicode) || name->size() > kMaxValueName ||
        name->find_first_of("\r\n") != std::string::npos) {
      return false;
    }
  } else {
    name->clear();
  }
  if (pos == line.size() || line[pos] != '=') return false;
  std::string_view form = line.substr(pos + 1);
  if (StartsWith(form, "\"")) {
    size_t end = 0;
    if (!ReadQuoted(form, &end, data, unicode) || end != form.size()) return false;
    data->push_back('\0');
    *type = REG_SZ;
    return true;
  }
  if (StartsWith(form, "dword:")) {
    DWORD number = 0;
    if (!ParseHexNumber(form.substr(6), &number)) return false;
    data->clear();
    for (int i = 0; i < 4; ++i) data->push_back(static_cast<char>((number >> (8 * i)) & 0xFF));
    *type = REG_DWORD;
    return true;
  }
  if (StartsWith(form, "hex:")) {
    *type = REG_BINARY;
    return ReadHexData(form.substr(4), value, data);
  }
  size_t close = form.substr(0, 13).find(')');
  if (!StartsWith(form, "hex(") || close == std::string_view::npos ||
      !ParseHexNumber(form.substr(4, close - 4), type) || form.substr(close, 2) != "):" ||
      !ReadHexData(form.substr(close + 2), value, data)) {
    return false;
  }
  if (unicode && (*type == REG_SZ || *type == REG_EXPAND_SZ || *type == REG_MULTI_SZ)) {
    std::string narrowed;
    if (!NarrowUtf16(*data, &narrowed)) return false;
    data->swap(narrowed);
  }
  return true;
}

bool IsUnicodeStore(std::string_view bytes) {
  return StartsWith(bytes, kByteOrderMark);
}

bool ConvertUnicodeStore(std::string_view bytes, std::string* text) {
  std::string narrow;
  if (!IsUnicodeStore(bytes) || !NarrowUtf16(bytes.substr(kByteOrderMark.size()), &narrow) ||
      narrow.find('\0') != std::string::npos) {
    return false;
  }
  std::string_view rest = narrow;
  std::string_view line;
  if (!TakeLine(&rest, &line) || line != kUnicodeHeader) return false;
  text->assign(std::string(kHeader) + "\r\n");
  std::string name;
  std::string data;
  DWORD type = REG_NONE;
  for (size_t pos = narrow.size() - rest.size();;) {
    size_t start = pos;
    switch (ReadItem(narrow, &pos, &line)) {
      case kEnd:
        return true;
      case kBad:
        return false;
      case kValue:
        if (!ParseRegeditValue(std::string_view(narrow).substr(start, pos - start), true, &name,
                               &type, &data)) {
          return false;
        }
        AppendRegeditValue(text, name, type, data);
        break;
      default:
        text->append(std::string(line) + "\r\n");
    }
  }
}
