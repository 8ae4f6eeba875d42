#include "regedit_reader.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "utf16_text.h"

namespace {

constexpr std::string_view kHeader = "REGEDIT4";
constexpr std::string_view kUnicodeHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kByteOrderMark = "\xFF\xFE";
constexpr std::string_view kBlanks = " \t";

int HexDigit(char c) {
  size_t at = std::string_view("0123456789abcdef0123456789ABCDEF").find(c);
  return at == std::string_view::npos ? -1 : static_cast<int>(at % 16);
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

std::string_view SkipBlanks(std::string_view text) {
  return text.substr(std::min(text.find_first_not_of(kBlanks), text.size()));
}

// Whether the rest of a line is nothing but blanks, or blanks and a comment.
bool BlankOrComment(std::string_view rest) {
  rest = SkipBlanks(rest);
  return rest.empty() || rest[0] == ';';
}

// Where the line at `pos` ends, before its line end (CR LF, LF or CR), and where the next begins.
size_t LineEnd(std::string_view text, size_t pos) {
  while (pos < text.size() && text[pos] != '\n' && text[pos] != '\r') ++pos;
  return pos;
}
size_t NextLine(std::string_view text, size_t line_end) {
  if (line_end == text.size()) return line_end;
  return line_end + (text.substr(line_end, 2) == "\r\n" ? 2 : 1);
}

// LineEnd for positions that only go forward, as in a scan: each byte is looked at about once,
// by memchr, whatever the file's line ends.
class ForwardLineEnds {
 public:
  explicit ForwardLineEnds(std::string_view text) : text_(text) {}
  size_t From(size_t pos) {
    if (lf_ == kUnknown || lf_ < pos) lf_ = Find('\n', pos);
    if (cr_ == kUnknown || cr_ < pos) cr_ = Find('\r', pos);
    return std::min(lf_, cr_);
  }

 private:
  static constexpr size_t kUnknown = static_cast<size_t>(-1);
  size_t Find(char c, size_t pos) const {
    const void* found = std::memchr(text_.data() + pos, c, text_.size() - pos);
    return found == nullptr ? text_.size() : static_cast<const char*>(found) - text_.data();
  }
  std::string_view text_;
  size_t lf_ = kUnknown;  // the next LF or CR at or after the last position asked about
  size_t cr_ = kUnknown;
};

// Reads a quoted text whose opening quote is just before text[*pos], as regedit unescapes it:
// \n and \r are those characters and a backslash before any other character is dropped; \0
// makes the text one regedit skips. Leaves *pos just past the closing quote; false without one.
bool ReadQuoted(std::string_view line, size_t* pos, std::string* out) {
  out->clear();
  for (size_t i = *pos; i < line.size();) {
    size_t stop = std::min(line.find_first_of("\\\"", i), line.size());
    out->append(line.data() + i, stop - i);
    if (stop == line.size()) return false;
    if (line[stop] == '"') {
      *pos = stop + 1;
      return true;
    }
    if (stop + 1 == line.size()) return false;  // a backslash that ends the line
    char escaped = line[stop + 1];
    if (escaped == '0') return false;
    out->push_back(escaped == 'n' ? '\n' : escaped == 'r' ? '\r' : escaped);
    i = stop + 2;
  }
  return false;
}

enum class HexList { kDone, kContinued, kBad, kUnreadable };

// Appends the bytes of one line's comma-separated hex list to *bytes, as regedit reads it: blanks
// before a byte and after the last, a comment after it, a trailing comma, and a backslash for a
// list that goes on (*after gets what follows the backslash).
HexList ReadHexList(std::string_view list, std::string* bytes, std::string_view* after) {
  while (!list.empty()) {
    size_t i = std::min(list.find_first_not_of(kBlanks), list.size());
    // regedit reads each byte with strtoul, which also takes a sign and a 0x prefix; this reader
    // does not give those their meaning.
    if (i < list.size() &&
        (list[i] == '+' || list[i] == '-' || list[i] == '\v' || list[i] == '\f' ||
         (list[i] == '0' && i + 1 < list.size() && (list[i + 1] == 'x' || list[i + 1] == 'X')))) {
      return HexList::kUnreadable;
    }
    unsigned value = 0;
    size_t digits = i;
    for (; digits < list.size() && HexDigit(list[digits]) >= 0; ++digits) {
      value = std::min(value * 16 + static_cast<unsigned>(HexDigit(list[digits])), 0x100u);
    }
    if (value > 0xFF) return HexList::kBad;
    if (digits == i) {  // no byte: the list goes on, or ends in a comment
      std::string_view rest = SkipBlanks(list);
      if (!rest.empty() && rest[0] == '\\') {
        *after = rest.substr(1);
        return HexList::kContinued;
      }
      return !rest.empty() && rest[0] == ';' ? HexList::kDone : HexList::kBad;
    }
    bytes->push_back(static_cast<char>(value));
    if (digits < list.size() && list[digits] != ',') {
      return BlankOrComment(list.substr(digits)) ? HexList::kDone : HexList::kBad;
    }
    list.remove_prefix(std::min(digits + 1, list.size()));
  }
  return HexList::kDone;
}

// The type after `hex(`: regedit reads it with wcstoul and wants `):` after it. Sets *rest to
// the data after the colon.
RegeditItem ReadHexType(std::string_view form, DWORD* type, std::string_view* rest) {
  if (form.empty() || (form.size() > 1 && (form[1] == 'x' || form[1] == 'X'))) {
    return RegeditItem::kSkipped;
  }
  if (form[0] != ')' && HexDigit(form[0]) < 0) return RegeditItem::kUnreadable;
  uint64_t number = 0;
  size_t i = 0;
  for (; i < form.size() && HexDigit(form[i]) >= 0; ++i) {
    number = std::min<uint64_t>(number * 16 + static_cast<unsigned>(HexDigit(form[i])), 1ull << 32);
  }
  if (number > 0xFFFFFFFFu || form.substr(i, 2) != "):") return RegeditItem::kSkipped;
  *type = static_cast<DWORD>(number);
  *rest = form.substr(i + 2);
  return RegeditItem::kValue;
}

// A section's key line, the text from its `[`: false when regedit skips the line. A key the
// program never reads keeps a null root. A path with doubled backslashes is kept in *paths with
// single ones.
bool ReadKeyLine(std::string_view line, StoreSection* section, std::vector<std::string_view>* names,
                 std::deque<std::string>* paths) {
  if (line.size() < 2 || line[1] == ' ' || line[1] == '\t') return false;
  size_t close = line.rfind(']');
  if (close == std::string_view::npos || close == 0) return false;
  std::string_view inside = line.substr(1, close - 1);
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
  if (known == std::end(kRoots)) return true;  // a deletion or another root: values go nowhere
  bool split = SplitKeyPath(path, names);
  if (!split && !path.empty() && path[0] != '\\') {
    // Doubled backslashes, which the registry takes as one (a leading one it refuses).
    std::string single;
    for (char c : path) {
      if (c != '\\' || (!single.empty() && single.back() != '\\')) single.push_back(c);
    }
    path = paths->emplace_back(std::move(single));
    split = SplitKeyPath(path, names);
  }
  if (!split || names->size() > kMaxKeyDepth) {
    return true;  // a key the registry refuses: its values go nowhere
  }
  section->root = known->second;
  if (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  section->path = path;
  return true;
}

// Whether the lines before `line_start` may end in hex data continued with a backslash, which
// would make regedit read the line at `line_start` as more of that data (ContinuedAcross).
bool MayContinueInto(std::string_view text, size_t line_start) {
  for (size_t end = line_start; end > 0;) {
    size_t content_end = end;
    while (content_end > 0 && (text[content_end - 1] == '\n' || text[content_end - 1] == '\r')) {
      --content_end;
    }
    size_t begin = content_end;
    while (begin > 0 && text[begin - 1] != '\n' && text[begin - 1] != '\r') --begin;
    if (begin == 0) return false;  // the header
    std::string_view line = SkipBlanks(text.substr(begin, content_end - begin));
    end = begin;
    if (line.empty() || line[0] == ';') continue;
    if (line[0] != '"' && line[0] != '@' && HexDigit(line[0]) < 0) return false;
    for (size_t slash = line.find('\\'); slash != std::string_view::npos;
         slash = line.find('\\', slash + 1)) {
      if (BlankOrComment(line.substr(slash + 1))) return true;
    }
    return false;
  }
  return false;
}

// The value on the line from `line` (its first non-blank character on) as regedit reads it, with
// its continuation lines from *pos up to `end`.
RegeditItem ReadValue(std::string_view text, size_t end, const std::vector<size_t>* wide,
                      std::string_view line, size_t* pos, RegeditValue* value) {
  size_t at = 1;
  value->name.clear();
  if (line[0] == '"' && !ReadQuoted(line, &at, &value->name)) return RegeditItem::kSkipped;
  // A name or a text beyond 8 bits is read all the same, so that the value is skipped wherever
  // regedit skips it.
  bool beyond = wide != nullptr && HoldsWide(*wide, text, line.substr(0, at));
  const RegeditItem by_name = beyond ? RegeditItem::kWide : RegeditItem::kValue;
  std::string_view form = SkipBlanks(line.substr(at));
  if (form.empty() || form[0] != '=') return RegeditItem::kSkipped;
  form = SkipBlanks(form.substr(1));
  form = form.substr(0, form.find_last_not_of(kBlanks) + 1);
  // A name the registry refuses, and a deletion (`=-`), set nothing.
  if (value->name.size() > kMaxValueName || StartsWith(form, "-")) return RegeditItem::kSkipped;
  value->data.clear();
  if (StartsWith(form, "\"")) {
    size_t close = 1;
    if (!ReadQuoted(form, &close, &value->data) || !BlankOrComment(form.substr(close))) {
      return RegeditItem::kSkipped;
    }
    value->data.push_back('\0');
    value->type = REG_SZ;
    return wide != nullptr && HoldsWide(*wide, text, form.substr(0, close)) ? RegeditItem::kWide
                                                                            : by_name;
  }
  if (StartsWith(form, "dword:")) {
    std::string_view digits = SkipBlanks(form.substr(6));
    size_t count = 0;
    while (count < digits.size() && HexDigit(digits[count]) >= 0) ++count;
    if (count == 0 || count > 8 || !BlankOrComment(digits.substr(count))) {
      return RegeditItem::kSkipped;
    }
    DWORD number = 0;
    for (size_t i = 0; i < count; ++i) number = number << 4 | HexDigit(digits[i]);
    for (int i = 0; i < 4; ++i) value->data.push_back(static_cast<char>(number >> (8 * i)));
    value->type = REG_DWORD;
    return by_name;
  }
  std::string_view list;
  if (StartsWith(form, "hex:")) {
    value->type = REG_BINARY;
    list = form.substr(4);
  } else if (!StartsWith(form, "hex(")) {
    return RegeditItem::kSkipped;
  } else if (RegeditItem read = ReadHexType(form.substr(4), &value->type, &list);
             read != RegeditItem::kValue) {
    return read;
  }
  // The list, and while it ends in a backslash, the next line that is not blank or a comment.
  for (std::string_view after; !list.empty();) {
    HexList read = ReadHexList(list, &value->data, &after);
    if (read == HexList::kUnreadable) return RegeditItem::kUnreadable;
    if (read == HexList::kBad || (read == HexList::kContinued && !BlankOrComment(after))) {
      return RegeditItem::kSkipped;
    }
    if (read == HexList::kDone) break;
    list = {};
    while (list.empty() && *pos < end) {
      size_t line_end = LineEnd(text, *pos);
      std::string_view next = SkipBlanks(text.substr(*pos, line_end - *pos));
      *pos = NextLine(text, line_end);
      if (!next.empty() && next[0] != ';') list = next;
    }
    // Hex data that runs into a key line is more than this reader takes apart.
    if (list.empty() && end < text.size()) return RegeditItem::kUnreadable;
    if (!list.empty() && HexDigit(list[0]) < 0) return RegeditItem::kSkipped;
  }
  if (wide != nullptr &&
      (value->type == REG_SZ || value->type == REG_EXPAND_SZ || value->type == REG_MULTI_SZ)) {
    std::string narrowed;
    std::vector<size_t> units;
    if (!NarrowUtf16(value->data, &narrowed, &units)) return RegeditItem::kUnreadable;
    value->data.swap(narrowed);
    if (!units.empty()) return RegeditItem::kWide;
  }
  return by_name;
}

}  // namespace

bool ScanRegeditFile(std::string_view text, std::vector<StoreSection>* sections,
                     std::deque<std::string>* paths) {
  sections->clear();
  paths->clear();
  size_t header_end = LineEnd(text, 0);
  std::string_view header = SkipBlanks(text.substr(0, header_end));
  if ((header != kHeader && header != kUnicodeHeader) ||
      text.find('\0') != std::string_view::npos) {
    return false;
  }
  // Room for sections of a hundred bytes or more: a larger vector costs only address space, a
  // regrown one copies and touches it twice.
  sections->reserve(text.size() / 128);
  std::vector<std::string_view> names;
  ForwardLineEnds line_ends(text);
  for (size_t at = text.find('[', header_end); at != std::string_view::npos;
       at = text.find('[', at + 1)) {
    size_t start = at;  // the line's start: only blanks may stand before the bracket
    while (text[start - 1] == ' ' || text[start - 1] == '\t') --start;
    if (text[start - 1] != '\n' && text[start - 1] != '\r') continue;
    size_t line_end = line_ends.From(at);
    StoreSection section{start, text.size(), {}, nullptr, false};
    if (!ReadKeyLine(text.substr(at, line_end - at), &section, &names, paths)) continue;
    if (!sections->empty()) sections->back().end = start;
    sections->push_back(section);
    at = line_end - 1;
  }
  return true;
}

bool ContinuedAcross(std::string_view text, const std::vector<StoreSection>& sections, size_t i) {
  return MayContinueInto(text, sections[i].begin) ||
         (i + 1 < sections.size() && MayContinueInto(text, sections[i + 1].begin));
}

RegeditItem ReadRegeditItem(std::string_view text, size_t end, const std::vector<size_t>* wide,
                            size_t* pos, RegeditValue* value) {
  if (*pos >= end) return RegeditItem::kEnd;
  value->begin = *pos;
  size_t line_end = LineEnd(text, *pos);
  std::string_view line = SkipBlanks(text.substr(*pos, line_end - *pos));
  *pos = NextLine(text, line_end);
  RegeditItem item = RegeditItem::kSkipped;
  if (!line.empty() && (line[0] == '"' || line[0] == '@')) {
    item = ReadValue(text, end, wide, line, pos, value);
  }
  value->end = *pos;
  return item;
}

RegeditItem NextRegeditValue(std::string_view text, const StoreSection& section,
                             const std::vector<size_t>* wide, size_t* pos, RegeditValue* value) {
  for (;;) {
    RegeditItem item = ReadRegeditItem(text, section.end, wide, pos, value);
    if (item != RegeditItem::kSkipped) return item;
  }
}

bool IsUnicodeStore(std::string_view bytes) {
  return StartsWith(bytes, kByteOrderMark);
}

bool NarrowUnicodeStore(std::string_view bytes, std::string* text, std::vector<size_t>* wide,
                        std::string_view* units) {
  *units = bytes.substr(kByteOrderMark.size());
  return NarrowUtf16(*units, text, wide);
}
