#include "regedit_reader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

#include "byte_mask.h"
#include "regedit_lines.h"
#include "regedit_writer.h"
#include "stop_marks.h"
#include "utf16_text.h"

namespace {

constexpr std::string_view kHeader = "REGEDIT4";
constexpr std::string_view kUnicodeHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kBlanks = " \t";

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(c | 0x20);  // lower case
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

std::string_view SkipBlanks(std::string_view text) {
  size_t at = 0;
  while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
  return text.substr(at);
}

// Whether the rest of a line is nothing but blanks, or blanks and a comment.
bool BlankOrComment(std::string_view rest) {
  rest = SkipBlanks(rest);
  return rest.empty() || rest[0] == ';';
}

// How a quoted text ends: at its closing quote; without one; or where regedit gives up on it,
// at `\0` or a backslash that ends the line (in a value's data, Wine's regedit may stop the whole
// import there).
enum class Quoted { kClosed, kOpen, kStops };

// Reads a quoted text whose opening quote is just before text[*pos], as regedit unescapes it:
// \n and \r are those characters and a backslash before any other character is dropped. Leaves
// *pos just past the closing quote.
Quoted ReadQuoted(std::string_view line, size_t* pos, std::string* out) {
  out->clear();
  for (size_t i = *pos; i < line.size();) {
    size_t stop = i;
    while (stop < line.size() && line[stop] != '\\' && line[stop] != '"') ++stop;
    out->append(line.data() + i, stop - i);
    if (stop == line.size()) return Quoted::kOpen;
    if (line[stop] == '"') {
      *pos = stop + 1;
      return Quoted::kClosed;
    }
    if (stop + 1 == line.size() || line[stop + 1] == '0') return Quoted::kStops;
    char escaped = line[stop + 1];
    out->push_back(escaped == 'n' ? '\n' : escaped == 'r' ? '\r' : escaped);
    i = stop + 2;
  }
  return Quoted::kOpen;
}

// Whether a character is beyond ASCII (a code unit above 0xFF of a UTF-16 store too), or `data`
// holds one before its comment. Regedit reads numbers with wcstoul and iswxdigit, which take
// Unicode blanks and digits (a no-break space, a full-width digit) that this reader does not.
bool BeyondAscii(char c) {
  return static_cast<unsigned char>(c) >= 0x80 || c == kHighUnit;
}
bool BeyondAscii(std::string_view data) {
  for (char c : data) {
    if (c == ';') return false;
    if (BeyondAscii(c)) return true;
  }
  return false;
}

// The next line from *pos on, up to `end`, that is neither blank nor a comment, from its first
// non-blank character (empty when there is none); *pos goes past it and *line_end to its end.
std::string_view NextContent(std::string_view text, size_t end, size_t* pos, size_t* line_end) {
  while (*pos < end) {
    *line_end = LineEnd(text, *pos);
    std::string_view line = SkipBlanks(text.substr(*pos, *line_end - *pos));
    *pos = NextLine(text, *line_end);
    if (!line.empty() && line[0] != ';') return line;
  }
  return {};
}

// The start of a value line, from its first non-blank character on: `@` or a quoted name (read
// into *name), then `=`. Sets *form to what follows the `=`, blanks passed over; false when the
// line is no value's.
bool ReadValueStart(std::string_view line, std::string* name, std::string_view* form) {
  size_t at = 1;
  name->clear();
  if (line.empty() || (line[0] != '@' && line[0] != '"')) return false;
  if (line[0] == '"' && ReadQuoted(line, &at, name) != Quoted::kClosed) return false;
  *form = SkipBlanks(line.substr(at));
  if (form->empty() || (*form)[0] != '=') return false;
  *form = SkipBlanks(form->substr(1));
  return true;
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

// A hex value's form from its `hex` on: `hex:` for REG_BINARY, or `hex(N):` with a type that
// regedit reads with wcstoul. Sets *list to the data after the colon.
RegeditItem ReadHexForm(std::string_view form, DWORD* type, std::string_view* list) {
  *type = REG_BINARY;
  *list = form.substr(std::min<size_t>(4, form.size()));
  if (StartsWith(form, "hex:")) return RegeditItem::kValue;
  if (!StartsWith(form, "hex(")) return RegeditItem::kSkipped;
  form.remove_prefix(4);
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
  *list = form.substr(i + 2);
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
  // `[-key]`: regedit deletes the key and everything below it there.
  const bool deletion = inside[0] == '-';
  if (deletion) inside.remove_prefix(1);
  size_t slash = std::min(inside.find('\\'), inside.size());
  std::string_view root = inside.substr(0, slash);
  std::string_view path = inside.substr(std::min(slash + 1, inside.size()));
  // The program never reads or writes the other roots; a store keeps their sections as they stand.
  static const std::pair<std::string_view, HKEY> kRoots[] = {
      {kClassesRootName, HKEY_CLASSES_ROOT}, {kCurrentUserName, HKEY_CURRENT_USER},
      {"HKEY_LOCAL_MACHINE", nullptr},       {"HKEY_USERS", nullptr},
      {"HKEY_CURRENT_CONFIG", nullptr},      {"HKEY_DYN_DATA", nullptr}};
  // Most stores spell a root as regedit writes it: that is compared a word at a time first.
  auto known = std::find_if(std::begin(kRoots), std::end(kRoots), [root](const auto& entry) {
    return root == entry.first || NamesEqual(root, entry.first);
  });
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
  if (!split && path[0] == '\\') return true;  // a leading empty name: the registry takes no key
  if (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  section->path = path;
  if (deletion) {
    if (!path.empty()) section->deletes = known->second;
    return true;
  }
  section->root = known->second;
  // A name too long, or too deep: regedit makes the keys above it and sets nothing in it.
  section->refused = !split || names->size() > kMaxKeyDepth;
  return true;
}

}  // namespace

bool MayContinueInto(std::string_view text, size_t line_start) {
  for (size_t end = line_start; end > 0;) {
    while (end > 0 && IsLineBreak(text[end - 1])) --end;  // to the end of a line with text
    size_t begin = LineStart(text, end);
    if (begin == 0) return false;  // the header
    std::string_view line = SkipBlanks(text.substr(begin, end - begin));
    end = begin;
    if (line.empty() || line[0] == ';') continue;
    std::string_view list = line;  // a line of hex bytes, or a hex value's first line
    if (line[0] == '"' || line[0] == '@') {
      std::string name;
      std::string_view form;
      DWORD type;
      if (!ReadValueStart(line, &name, &form)) return false;
      RegeditItem read = ReadHexForm(form, &type, &list);
      if (read == RegeditItem::kSkipped) return false;
      if (read == RegeditItem::kUnreadable) list = "+";  // a type read regedit's own way
    } else if (HexDigit(line[0]) < 0) {
      return false;
    }
    std::string bytes;
    std::string_view after;
    const HexList read =
        BeyondAscii(list) ? HexList::kUnreadable : ReadHexList(list, &bytes, &after);
    if (read == HexList::kContinued) return BlankOrComment(after);
    for (size_t slash = line.find('\\'); read == HexList::kUnreadable && slash != line.npos;
         slash = line.find('\\', slash + 1)) {
      if (BlankOrComment(line.substr(slash + 1))) return true;
    }
    return false;
  }
  return false;
}

namespace {

// The value on the line from `line` (its first non-blank character on) as regedit reads it, with
// its continuation lines from *pos up to `end`.
RegeditItem ReadValue(std::string_view text, size_t end, bool utf16, std::string_view line,
                      size_t* pos, RegeditValue* value) {
  std::string_view form;
  if (!ReadValueStart(line, &value->name, &form)) return RegeditItem::kSkipped;
  // A name or a text beyond 8 bits is read all the same, so that the value is skipped wherever
  // regedit skips it.
  // (Only a UTF-16 store's text holds kHighUnit.)
  const bool beyond =
      utf16 && line.substr(0, form.data() - line.data()).find(kHighUnit) != line.npos;
  const RegeditItem by_name = beyond ? RegeditItem::kBeyond8Bits : RegeditItem::kValue;
  form = form.substr(0, form.find_last_not_of(kBlanks) + 1);
  // A name the registry refuses sets nothing; `=-` alone deletes.
  if (value->name.size() > kMaxValueName) return RegeditItem::kSkipped;
  if (StartsWith(form, "-")) {
    return BlankOrComment(form.substr(1)) ? RegeditItem::kDeletion : RegeditItem::kSkipped;
  }
  value->data.clear();
  if (StartsWith(form, "\"")) {
    size_t close = 1;
    if (ReadQuoted(form, &close, &value->data) != Quoted::kClosed ||
        !BlankOrComment(form.substr(close))) {
      return RegeditItem::kSkipped;
    }
    value->data.push_back('\0');
    value->type = REG_SZ;
    return !utf16 || form.substr(0, close).find(kHighUnit) == form.npos ? by_name
                                                                        : RegeditItem::kBeyond8Bits;
  }
  if ((StartsWith(form, "dword:") || StartsWith(form, "hex")) && BeyondAscii(form)) {
    return RegeditItem::kUnreadable;
  }
  if (StartsWith(form, "dword:")) {
    // No digits before a comment read as 0; no digits at all, as nothing.
    std::string_view digits = SkipBlanks(form.substr(6));
    size_t count = 0;
    while (count < digits.size() && HexDigit(digits[count]) >= 0) ++count;
    if (digits.empty() || count > 8 || !BlankOrComment(digits.substr(count))) {
      return RegeditItem::kSkipped;
    }
    DWORD number = 0;
    for (size_t i = 0; i < count; ++i) number = number << 4 | HexDigit(digits[i]);
    for (int i = 0; i < 4; ++i) value->data.push_back(static_cast<char>(number >> (8 * i)));
    value->type = REG_DWORD;
    return by_name;
  }
  std::string_view list;
  if (RegeditItem read = ReadHexForm(form, &value->type, &list); read != RegeditItem::kValue) {
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
    list = NextContent(text, end, pos, &value->text_end);
    // Hex data that runs into a key line is more than this reader takes apart.
    if (list.empty() && end < text.size()) return RegeditItem::kUnreadable;
    // A line regedit does not take as more hex data it swallows, but a digit beyond ASCII it may.
    if (!list.empty() && BeyondAscii(list[0])) return RegeditItem::kUnreadable;
    if (!list.empty() && HexDigit(list[0]) < 0) return RegeditItem::kSkipped;
    if (BeyondAscii(list)) return RegeditItem::kUnreadable;
  }
  if (utf16 &&
      (value->type == REG_SZ || value->type == REG_EXPAND_SZ || value->type == REG_MULTI_SZ)) {
    std::string narrowed;
    bool high = false;
    if (!NarrowUtf16(value->data, &narrowed, &high)) return RegeditItem::kUnreadable;
    value->data.swap(narrowed);
    if (high) return RegeditItem::kBeyond8Bits;
  }
  return by_name;
}

// Whether a byte ends a run of plain characters in a quoted name or text: a quote, an escape, a
// line break, or kHighUnit. A table: one load a byte.
struct QuotedRunEnds {
  constexpr QuotedRunEnds() : ends() {
    for (char c : {'"', '\\', '\n', '\r', kHighUnit}) ends[static_cast<unsigned char>(c)] = true;
  }
  bool ends[256];
};
constexpr QuotedRunEnds kQuotedRunEnds;
bool EndsQuotedRun(char c) {
  return kQuotedRunEnds.ends[static_cast<unsigned char>(c)];
}

// Where the run of plain characters from line[i] on ends (EndsQuotedRun), or `room`: a block at a
// time while one fits. With kCopy the run goes to `out` too, which moves past it; up to
// kReadSlack bytes past it may be written.
static_assert(kHighUnit == '\0' && kReadSlack >= kBlock, "QuotedRunEndMask finds the run's end");
template <bool kCopy>
size_t QuotedRunEnd(const char* line, size_t i, size_t room, char*& out) {
  for (; i + kBlock <= room; i += kBlock) {
    const unsigned ends = QuotedRunEndMask(line + i);
    if (kCopy) std::memcpy(out, line + i, kBlock);
    if (ends != 0) {
      const size_t run = static_cast<size_t>(__builtin_ctz(ends));
      if (kCopy) out += run;
      return i + run;
    }
    if (kCopy) out += kBlock;
  }
  for (; i < room && !EndsQuotedRun(line[i]); ++i) {
    if (kCopy) *out++ = line[i];
  }
  return i;
}

// Whether `escaped`, after a backslash in a quoted text, stands for itself or a line break.
bool EscapesWell(char escaped) {
  return escaped != '0' && !IsLineBreak(escaped) && escaped != kHighUnit;
}

// Where the quoted text whose first character is line[open] ends at its closing quote, its
// escapes counted in *escapes; `room` for a text that no written form may hold. Every stop of
// a block is taken from one mask, so that a text of many escapes loads each block once.
size_t QuotedTextEnd(const char* line, size_t open, size_t room, size_t* escapes) {
  size_t i = open;
  while (i + kBlock <= room) {
    unsigned ends = QuotedRunEndMask(line + i);
    size_t next = i + kBlock;
    while (ends != 0) {
      const size_t at = i + static_cast<size_t>(__builtin_ctz(ends));
      if (line[at] == '"') return at;
      if (line[at] != '\\' || at + 1 == room || !EscapesWell(line[at + 1])) return room;
      ++*escapes;
      if (at + 1 == i + kBlock) {  // the escaped byte starts the next block
        next = at + 2;
        break;
      }
      ends &= ~((2u << (at + 1 - i)) - 1);  // past the escaped byte
    }
    i = next;
  }
  for (; i < room; ++i) {
    if (!EndsQuotedRun(line[i])) continue;
    if (line[i] == '"') return i;
    if (line[i] != '\\' || i + 1 == room || !EscapesWell(line[i + 1])) return room;
    ++*escapes;
    ++i;
  }
  return room;
}

}  // namespace

bool FindWrittenValue(std::string_view text, size_t pos, WrittenValue* found, char* out) {
  const char* const line = text.data() + pos;
  const size_t room = text.size() - pos;
  if (room == 0 || line[0] != '"') return false;
  char* no_copy = nullptr;
  size_t i = QuotedRunEnd<false>(line, 1, room, no_copy);
  const size_t name_end = i;
  if (i + 2 >= room || line[i] != '"' || line[i + 1] != '=' || name_end - 1 > kMaxValueName) {
    return false;
  }
  constexpr std::string_view kDword = "dword:";
  if (line[i + 2] == '"') {
    const size_t open = i + 3;
    size_t escapes = 0;
    if (out == nullptr) {
      i = QuotedTextEnd(line, open, room, &escapes);
      if (i == room) return false;
    } else {
      for (i = open;;) {
        i = QuotedRunEnd<true>(line, i, room, out);
        if (i == room) return false;
        if (line[i] == '"') break;
        if (line[i] != '\\' || i + 1 == room) return false;
        const char escaped = line[i + 1];
        if (!EscapesWell(escaped)) return false;
        *out++ = escaped == 'n' ? '\n' : escaped == 'r' ? '\r' : escaped;
        ++escapes;
        i += 2;
      }
      *out = '\0';
    }
    found->size = i - open - escapes + 1;
    ++i;  // past the closing quote
    found->type = REG_SZ;
  } else if (room - (i + 2) >= kDword.size() + 8 && text.substr(pos + i + 2, 6) == kDword) {
    DWORD number = 0;
    for (i += 2 + kDword.size(); i < name_end + 10 + kDword.size(); ++i) {
      const int digit = HexDigit(line[i]);
      if (digit < 0) return false;
      number = number << 4 | static_cast<DWORD>(digit);
    }
    for (int byte = 0; out != nullptr && byte < 4; ++byte) {
      out[byte] = static_cast<char>(number >> (8 * byte));
    }
    found->size = 4;
    found->type = REG_DWORD;
  } else {
    return false;
  }
  if (i < room && !IsLineBreak(line[i])) return false;
  found->name = text.substr(pos + 1, name_end - 1);
  found->text_end = pos + i;
  found->end = NextLine(text, pos + i);
  return true;
}

bool ScanRegeditFile(std::string_view text, std::vector<StoreSection>* sections,
                     std::deque<std::string>* paths) {
  sections->clear();
  paths->clear();
  size_t header_end = LineEnd(text, 0);
  std::string_view header = SkipBlanks(text.substr(0, header_end));
  if (header != kHeader && header != kUnicodeHeader) return false;
  // Room for sections of a hundred bytes or more: a larger vector costs only address space, a
  // regrown one copies and touches it twice.
  sections->reserve(text.size() / 128);
  std::vector<std::string_view> names;
  for (size_t at = text.find('[', header_end); at != std::string_view::npos;
       at = text.find('[', at + 1)) {
    size_t start = at;  // the line's start: only blanks may stand before the bracket
    while (text[start - 1] == ' ' || text[start - 1] == '\t') --start;
    if (!IsLineBreak(text[start - 1])) continue;
    size_t line_end = LineEnd(text, at);
    StoreSection section{start, text.size(), {}, nullptr, false, false, nullptr};
    if (!ReadKeyLine(text.substr(at, line_end - at), &section, &names, paths)) continue;
    if (!sections->empty()) sections->back().end = start;
    sections->push_back(section);
    at = line_end - 1;
  }
  return true;
}

namespace {

// Whether `line`, a whole line, may be a value (named, or `@`) of quoted data: its name passed
// over as ReadValueStart reads it, and a quote after the `=`. Most lines that end in a backslash
// are not (a hex list wrapped), and this tells them without copying the name.
bool MayBeQuotedValue(std::string_view line) {
  const char* at = line.data();
  const char* const end = at + line.size();
  while (at < end && (*at == ' ' || *at == '\t')) ++at;
  if (at == end || (*at != '"' && *at != '@')) return false;
  if (*at++ == '"') {
    for (;;) {
      // Sixteen bytes at a time while the line has them: most names take one step.
      unsigned hits = 0;
      while (end - at >= static_cast<ptrdiff_t>(kBlock) && (hits = ByteMask(at, '"', '\\')) == 0) {
        at += kBlock;
      }
      if (hits != 0) at += __builtin_ctz(hits);
      while (at < end && *at != '"' && *at != '\\') ++at;
      if (at >= end || *at == '"') break;
      at += 2;  // an escape pair
    }
    ++at;
  }
  while (at < end && (*at == ' ' || *at == '\t')) ++at;
  if (at >= end || *at++ != '=') return false;
  while (at < end && (*at == ' ' || *at == '\t')) ++at;
  return at < end && *at == '"';
}

// Whether regedit may stop its import at `line`, a whole line: a value (named, or `@`) whose
// quoted data holds `\0` or ends in a backslash.
bool StopsImport(std::string_view line) {
  if (!MayBeQuotedValue(line)) return false;
  std::string scratch;
  std::string_view form;
  if (!ReadValueStart(SkipBlanks(line), &scratch, &form) || !StartsWith(form, "\"")) return false;
  size_t close = 1;
  return ReadQuoted(form.substr(0, form.find_last_not_of(kBlanks) + 1), &close, &scratch) ==
         Quoted::kStops;
}

// Whether regedit fails on the value whose `hex(` ends at text[paren]: a text type (1, 2 or 7)
// whose list holds something but less than one character, `unit` bytes. Wine's regedit then
// reads before the data's start and dies, and imports nothing after it. Sets *line_start.
bool ShortHexText(std::string_view text, size_t paren, size_t unit, size_t* line_start) {
  if (paren < 3 || text[paren - 3] != 'h' || text[paren - 2] != 'e' || text[paren - 1] != 'x') {
    return false;
  }
  // Most lists are plainly longer: a byte, a comma, another byte after `hex(N):`.
  size_t colon = paren + 1;
  while (colon < text.size() && HexDigit(text[colon]) >= 0) ++colon;
  if (colon + 1 < text.size() && text[colon] == ')' && text[colon + 1] == ':') {
    std::string_view rest = SkipBlanks(text.substr(colon + 2, 16));
    if (rest.size() > 3 && HexDigit(rest[0]) >= 0 && HexDigit(rest[1]) >= 0 && rest[2] == ',') {
      std::string_view next = SkipBlanks(rest.substr(3));
      if (!next.empty() && HexDigit(next[0]) >= 0) return false;
    }
  }
  DWORD type = 0;
  std::string_view list;
  if (ReadHexForm(text.substr(paren - 3), &type, &list) == RegeditItem::kSkipped ||
      (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ)) {
    return false;
  }
  size_t pos = NextLine(text, LineEnd(text, paren));
  list = list.substr(0, LineEnd(list, 0));
  *line_start = LineStart(text, paren);
  std::string name;
  std::string_view form;  // what stands between the `=` and `hex`
  if (!ReadValueStart(SkipBlanks(text.substr(*line_start, paren - 3 - *line_start)), &name,
                      &form) ||
      !form.empty()) {
    return false;
  }
  list = list.substr(0, list.find_last_not_of(kBlanks) + 1);
  if (list.empty()) return false;  // regedit sets nothing from it
  // The list, and while it goes on, the lines that continue it, as far as a character.
  std::string bytes;
  for (std::string_view after;;) {
    HexList read = BeyondAscii(list) ? HexList::kUnreadable : ReadHexList(list, &bytes, &after);
    if (read == HexList::kBad || bytes.size() >= unit) return false;
    if (read != HexList::kContinued) return true;
    size_t line_end;
    list = NextContent(text, text.size(), &pos, &line_end);
    if (list.empty() || HexDigit(list[0]) < 0) return list.empty();  // ends there, or swallows
  }
}

}  // namespace

size_t ImportStop(std::string_view text, size_t before, bool utf16) {
  const size_t size = std::min(text.size(), before);
  // From the header's end on, only at a `(` or a backslash before `0`, a blank or a line end: the
  // first line found that stops is the first line that does, whichever it holds.
  StopMark marks[kStopWindow];
  size_t line = 0;
  size_t read_to = 0;  // the lines before here have been read whole
  for (size_t from = LineEnd(text, 0); from < size; from += kStopWindow) {
    const size_t count =
        FindStopMarks(text, from, std::min(size, from + kStopWindow), &line, marks);
    for (size_t i = 0; i < count; ++i) {
      const size_t at = marks[i].at;
      size_t start = marks[i].line;
      if (text[at] == '(') {
        if (ShortHexText(text, at, utf16 ? 2 : 1, &start)) return start;
        continue;
      }
      // The second of a pair of backslashes may come here too: its line, read whole, tells.
      const char next = at + 1 < text.size() ? text[at + 1] : '\n';
      if (at < read_to || (next != '0' && next != ' ' && next != '\t' && !IsLineBreak(next))) {
        continue;
      }
      read_to = IsLineBreak(next) || at + 1 == text.size() ? at + 1 : LineEnd(text, at);
      if (StopsImport(text.substr(start, read_to - start))) return start;
    }
  }
  return text.size();
}

bool ContinuedAcross(std::string_view text, const std::vector<StoreSection>& sections, size_t i) {
  return MayContinueInto(text, sections[i].begin) ||
         (i + 1 < sections.size() && MayContinueInto(text, sections[i + 1].begin));
}

RegeditItem ReadRegeditItem(std::string_view text, size_t end, bool utf16, size_t* pos,
                            RegeditValue* value) {
  if (*pos >= end) return RegeditItem::kEnd;
  if (WrittenValue found; FindWrittenValue(text, *pos, &found, nullptr)) {
    value->data.resize(found.size + kReadSlack);
    FindWrittenValue(text, *pos, &found, value->data.data());
    value->data.resize(found.size);
    value->begin = *pos;
    value->text_end = found.text_end;
    value->end = found.end;
    value->name.assign(found.name);
    value->type = found.type;
    *pos = found.end;
    return RegeditItem::kValue;
  }
  value->begin = *pos;
  value->text_end = LineEnd(text, *pos);
  std::string_view line = SkipBlanks(text.substr(*pos, value->text_end - *pos));
  *pos = NextLine(text, value->text_end);
  RegeditItem item = RegeditItem::kSkipped;
  if (!line.empty() && (line[0] == '"' || line[0] == '@')) {
    item = ReadValue(text, end, utf16, line, pos, value);
  }
  value->end = *pos;
  return item;
}

RegeditItem NextRegeditValue(std::string_view text, const StoreSection& section, bool utf16,
                             size_t* pos, RegeditValue* value) {
  for (;;) {
    RegeditItem item = ReadRegeditItem(text, section.end, utf16, pos, value);
    if (item != RegeditItem::kSkipped) return item;
  }
}
