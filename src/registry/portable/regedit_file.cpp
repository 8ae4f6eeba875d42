#include "regedit_file.h"

#include <cstring>
#include <utility>
#include <vector>

#include "regedit_text.h"

namespace {

constexpr std::string_view kHeader = "REGEDIT4";
// What `reg export` and regedit write: this header in UTF-16LE after a byte order mark.
constexpr std::string_view kUnicodeHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kClassesRoot = "HKEY_CLASSES_ROOT";
constexpr std::string_view kCurrentUser = "HKEY_CURRENT_USER";
// The registry's own limits: keys nest at most 512 deep, value names are at most 16383 long.
constexpr size_t kMaxDepth = 512;
constexpr size_t kMaxValueName = 16383;

// The value of each hex digit, -1 for every other byte.
struct HexDigits {
  constexpr HexDigits() : value() {
    for (int c = 0; c < 256; ++c) value[c] = -1;
    for (int c = '0'; c <= '9'; ++c) value[c] = static_cast<signed char>(c - '0');
    for (int c = 'a'; c <= 'f'; ++c) value[c] = static_cast<signed char>(c - 'a' + 10);
    for (int c = 'A'; c <= 'F'; ++c) value[c] = static_cast<signed char>(c - 'A' + 10);
  }
  signed char value[256];
};
constexpr HexDigits kHexDigits;

int HexDigit(char c) {
  return kHexDigits.value[static_cast<unsigned char>(c)];
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
    size_t stop = i;
    while (stop < line.size() && line[stop] != '\\' && line[stop] != '"') ++stop;
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
  if (list.empty()) return true;
  // "xx" and then ",xx" for each further byte.
  if (list.size() % 3 != 2) return false;
  bytes->resize(list.size() / 3 + 1);
  char* out = &(*bytes)[0];
  for (size_t i = 0;; i += 3) {
    int high = HexDigit(list[i]);
    int low = HexDigit(list[i + 1]);
    if (high < 0 || low < 0) return false;
    *out++ = static_cast<char>(high * 16 + low);
    if (i + 2 == list.size()) return true;
    if (list[i + 2] != ',') return false;
  }
}

// The text of a UTF-16LE file (`bytes` without its byte order mark) in the 8-bit form the
// registry calls use: each character U+0000..U+00FF is the byte of the same number. False for an
// odd number of bytes or any character above U+00FF.
bool NarrowUtf16(std::string_view bytes, std::string* text) {
  if (bytes.size() % 2 != 0) return false;
  text->resize(bytes.size() / 2);
  for (size_t i = 0; i < text->size(); ++i) {
    if (bytes[2 * i + 1] != '\0') return false;
    (*text)[i] = bytes[2 * i];
  }
  return true;
}

class Parser {
 public:
  // `unicode`: the text came from a UTF-16 file, whose header is kUnicodeHeader, whose texts may
  // hold \r and \n, and whose REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ hex data is UTF-16 too.
  Parser(std::string_view text, RegistryTree* tree, bool unicode)
      : text_(text), tree_(tree), unicode_(unicode) {}

  bool Run() {
    if (std::memchr(text_.data(), '\0', text_.size()) != nullptr) return false;
    std::string_view line;
    if (NextLine(&line) != kLine || line != (unicode_ ? kUnicodeHeader : kHeader)) return false;
    for (;;) {
      switch (NextLine(&line)) {
        case kEnd:
          return true;
        case kBad:
          return false;
        case kLine:
          break;
      }
      if (line.empty() || line[0] == ';') continue;
      bool read = false;
      if (line[0] == '[') {
        read = ReadSection(line);
      } else if (line[0] == '"' || line[0] == '@') {
        read = ReadValue(line);
      }
      if (!read) return false;
    }
  }

 private:
  enum LineResult { kLine, kEnd, kBad };

  // The next line without its LF or CRLF. A last line with neither was cut short, and a CR
  // anywhere else cannot be written back.
  LineResult NextLine(std::string_view* line) {
    if (pos_ == text_.size()) return kEnd;
    size_t end = text_.find('\n', pos_);
    if (end == std::string_view::npos) return kBad;
    std::string_view found = text_.substr(pos_, end - pos_);
    pos_ = end + 1;
    if (!found.empty() && found.back() == '\r') found.remove_suffix(1);
    if (found.find('\r') != std::string_view::npos) return kBad;
    *line = found;
    return kLine;
  }

  // `[ROOT]` or `[ROOT\path]`; creates the keys along the path and makes the last one current.
  bool ReadSection(std::string_view line) {
    if (line.size() < 2 || line.back() != ']') return false;
    std::string_view inside = line.substr(1, line.size() - 2);
    size_t slash = inside.find('\\');
    std::string_view root = inside.substr(0, slash);
    std::string_view path =
        slash == std::string_view::npos ? std::string_view() : inside.substr(slash + 1);
    // A deletion section `[-ROOT\...]` fails here too: its root is not one of ours.
    std::shared_ptr<RegistryKey> key;
    if (NamesEqual(root, kClassesRoot)) {
      key = tree_->classes_root;
    } else if (NamesEqual(root, kCurrentUser)) {
      key = tree_->current_user;
    } else {
      return false;
    }
    if (!SplitKeyPath(path, &names_) || names_.size() > kMaxDepth) return false;
    // Start from the deepest key this path shares with the previous section's.
    size_t shared = 0;
    if (!path_keys_.empty() && path_keys_[0] == key) {
      while (shared < names_.size() && shared < path_names_.size() &&
             NamesEqual(names_[shared], path_names_[shared])) {
        ++shared;
      }
    } else {
      path_keys_.assign(1, std::move(key));
    }
    path_keys_.resize(shared + 1);
    bool created = false;
    for (size_t i = shared; i < names_.size(); ++i) {
      path_keys_.push_back(path_keys_.back()->AddChild(names_[i], &created));
    }
    path_names_.swap(names_);
    key_ = path_keys_.back();
    return true;
  }

  bool ReadValue(std::string_view line) {
    if (!key_) return false;
    size_t pos = 1;
    if (line[0] == '"') {
      pos = 0;
      // A name holding a line break (a UTF-16 file's \r or \n) could not be written back. Only
      // such a file's escapes make one: a REGEDIT4 line holds neither byte.
      if (!ReadQuoted(line, &pos, &name_, unicode_) || name_.size() > kMaxValueName ||
          (unicode_ && name_.find_first_of("\r\n") != std::string::npos)) {
        return false;
      }
    } else {
      name_.clear();
    }
    if (pos == line.size() || line[pos] != '=') return false;
    std::string_view rest = line.substr(pos + 1);

    DWORD type = REG_NONE;
    if (StartsWith(rest, "\"")) {
      size_t end = 0;
      if (!ReadQuoted(rest, &end, &data_, unicode_) || end != rest.size()) return false;
      data_.push_back('\0');
      type = REG_SZ;
    } else if (StartsWith(rest, "dword:")) {
      DWORD number = 0;
      if (!ParseHexNumber(rest.substr(6), &number)) return false;
      data_.clear();
      for (int i = 0; i < 4; ++i) data_.push_back(static_cast<char>((number >> (8 * i)) & 0xFF));
      type = REG_DWORD;
    } else if (StartsWith(rest, "hex:")) {
      if (!ReadHexData(rest.substr(4), &data_)) return false;
      type = REG_BINARY;
    } else if (StartsWith(rest, "hex(")) {
      size_t close = rest.substr(0, 13).find(')');
      if (close == std::string_view::npos || !ParseHexNumber(rest.substr(4, close - 4), &type) ||
          rest.substr(close, 2) != "):" || !ReadHexData(rest.substr(close + 2), &data_)) {
        return false;
      }
      if (unicode_ && (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ)) {
        if (!NarrowUtf16(data_, &narrowed_)) return false;
        data_.swap(narrowed_);
      }
    } else {
      return false;
    }
    key_->SetValue(name_, type, data_);
    return true;
  }

  // The bytes after `hex:` or `hex(N):`, continued on the following lines (leading spaces
  // dropped) for as long as a line ends in a backslash.
  bool ReadHexData(std::string_view first, std::string* bytes) {
    if (first.empty() || first.back() != '\\') return ParseHexBytes(first, bytes);
    joined_.assign(first.substr(0, first.size() - 1));
    for (;;) {
      std::string_view next;
      if (NextLine(&next) != kLine) return false;
      size_t start = next.find_first_not_of(' ');
      next.remove_prefix(start == std::string_view::npos ? next.size() : start);
      bool more = !next.empty() && next.back() == '\\';
      if (more) next.remove_suffix(1);
      joined_.append(next);
      if (!more) return ParseHexBytes(joined_, bytes);
    }
  }

  std::string_view text_;
  size_t pos_ = 0;
  RegistryTree* tree_;
  bool unicode_;
  std::shared_ptr<RegistryKey> key_;  // the current section's key
  // The current section's root and the keys down its path, and the path's names.
  std::vector<std::shared_ptr<RegistryKey>> path_keys_;
  std::vector<std::string_view> path_names_;
  // Scratch space kept between lines.
  std::vector<std::string_view> names_;
  std::string name_;
  std::string data_;
  std::string joined_;
  std::string narrowed_;
};

// One section: the key's line, its values and a blank line.
void AppendSection(const std::string& path, const RegistryKey& key, std::string* out) {
  out->push_back('[');
  out->append(path);
  out->append("]\r\n");
  for (const RegistryValue& value : key.values()) {
    AppendRegeditValue(out, value.name, value.type, value.data);
  }
  out->append("\r\n");
}

// The key's section, then its children's, depth first.
void AppendTree(const RegistryKey& key, std::string* path, std::string* out) {
  size_t parent_length = path->size();
  path->push_back('\\');
  path->append(key.name());
  AppendSection(*path, key, out);
  for (const auto& [name, child] : key.children()) AppendTree(*child, path, out);
  path->resize(parent_length);
}

bool HasLineBreak(std::string_view name) {
  for (char c : name) {
    // One test for the usual byte, above both.
    if (static_cast<unsigned char>(c) <= '\r' && (c == '\r' || c == '\n')) return true;
  }
  return false;
}

// Whether every key from `key` down, `depth` levels below its root, has names the parser takes.
bool NamesParse(const RegistryKey& key, size_t depth) {
  for (const RegistryValue& value : key.values()) {
    if (value.name.size() > kMaxValueName || HasLineBreak(value.name)) return false;
  }
  if (!key.children().empty() && depth == kMaxDepth) return false;
  for (const auto& [name, child] : key.children()) {
    const std::string& written = child->name();
    if (written.empty() || written.size() > 255 || HasLineBreak(written)) return false;
    if (!NamesParse(*child, depth + 1)) return false;
  }
  return true;
}

}  // namespace

bool FormatsExactly(const RegistryTree& tree) {
  return NamesParse(*tree.classes_root, 0) && NamesParse(*tree.current_user, 0);
}

bool ParseRegeditFile(std::string_view text, RegistryTree* tree) {
  constexpr std::string_view kByteOrderMark = "\xFF\xFE";
  if (!StartsWith(text, kByteOrderMark)) return Parser(text, tree, false).Run();
  std::string narrowed;
  return NarrowUtf16(text.substr(kByteOrderMark.size()), &narrowed) &&
         Parser(narrowed, tree, true).Run();
}

std::string FormatRegeditFile(const RegistryTree& tree) {
  std::string out;
  FormatRegeditFile(tree, &out);
  return out;
}

void FormatRegeditFile(const RegistryTree& tree, std::string* out) {
  out->assign(kHeader);
  out->append("\r\n\r\n");
  const std::pair<std::string_view, const RegistryKey*> roots[] = {
      {kClassesRoot, tree.classes_root.get()}, {kCurrentUser, tree.current_user.get()}};
  std::string path;
  for (const auto& [root_name, root] : roots) {
    path.assign(root_name);
    // A root has a section of its own only for values of its own.
    if (!root->values().empty()) AppendSection(path, *root, out);
    for (const auto& [name, child] : root->children()) AppendTree(*child, &path, out);
  }
}
