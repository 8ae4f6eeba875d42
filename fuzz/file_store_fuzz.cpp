// The file store as an editor of the user's text. From the input it makes a store file (or, when
// the first byte says so, takes the input's bytes as one) and a run of registry operations:
// registrations, removals, and keys created, values written and read, keys deleted at random.
// The run goes through the file store on a file and through the memory store on the registry
// the file describes. Then:
// - both answer every call alike;
// - the file written parses to the registry the memory store holds;
// - the sections of every key the run did not reach (the keys on the paths it created, opened
//   or deleted, and everything below a deleted one) are the same bytes in the same order, and so
//   is the text before the first section;
// - a file that is not a store is never rewritten.
// A made store may be UTF-16, beyond 8 bits and the BMP in comments, compared unit for unit.
#include <fuzzer/FuzzedDataProvider.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "band_keys.h"
#include "file_store.h"
#include "memory_store.h"
#include "regedit_reader.h"
#include "regedit_test_tree.h"
#include "register_extension.h"
#include "unregister_extension.h"

namespace {

const char* const kKeyNames[] = {"a",
                                 "B",
                                 "Software",
                                 "Larkspan",
                                 "Microsoft",
                                 "Internet Explorer",
                                 "Extensions",
                                 "CLSID",
                                 kBandClassId,
                                 "InprocServer32",
                                 "Implemented Categories"};
const char* const kValueNames[] = {"", "v", "Path", "Name", "NumberOfBaskets", "0", "1", "2", "5"};
const char* const kRoots[] = {"HKEY_CLASSES_ROOT",  "HKEY_CURRENT_USER", "hkey_current_user",
                              "HKEY_LOCAL_MACHINE", "HKEY_USERS",        "-HKEY_USERS"};

// Where a made UTF-16 store has a character beyond 8 bits: in the text as made and as compared.
constexpr char kMark = '\xa4';

// A UTF-16 text (with its byte order mark) as 8-bit text: each code unit up to 0xFF as that byte,
// any other as kMark. An 8-bit text as it stands.
std::string Narrow(const std::string& bytes) {
  if (bytes.compare(0, 2, "\xff\xfe") != 0) return bytes;
  std::string text;
  for (size_t i = 2; i + 1 < bytes.size(); i += 2) text += bytes[i + 1] == 0 ? bytes[i] : kMark;
  return bytes.size() % 2 == 0 ? text : "odd";
}

void Fail(const char* what, const std::string& before, const std::string& after) {
  std::fprintf(stderr, "%s\n--- before:\n%s\n--- after:\n%s\n", what, Narrow(before).c_str(),
               Narrow(after).c_str());
  std::abort();
}

std::string RandomCase(FuzzedDataProvider* in, std::string name) {
  for (char& c : name) {
    if (in->ConsumeBool())
      c = static_cast<char>(c ^ (std::isalpha(static_cast<unsigned char>(c)) ? 0x20 : 0));
  }
  return name;
}

std::string KeyPath(FuzzedDataProvider* in, int min_depth) {
  std::string path;
  int depth = in->ConsumeIntegralInRange(min_depth, 4);
  for (int i = 0; i < depth; ++i) {
    if (i > 0) path += '\\';
    path += RandomCase(in, in->PickValueInArray(kKeyNames));
  }
  return path;
}

const char* const kLineEnds[] = {"\r\n", "\n", "\r"};

// Blanks where regedit passes over them: none most of the time.
std::string Blanks(FuzzedDataProvider* in) {
  static const char* const kBlanks[] = {"", "", "", " ", "\t", "  \t "};
  return in->PickValueInArray(kBlanks);
}

// A comment after a line, sometimes.
std::string Comment(FuzzedDataProvider* in, bool utf16) {
  return in->ConsumeIntegralInRange(0, 7) == 0
             ? Blanks(in) + "; note [x] C:\\dir" + (utf16 ? std::string(1, kMark) : "")
             : "";
}

// A value line in one of the forms a store file may spell it, or now and then a line regedit
// skips.
std::string ValueLine(FuzzedDataProvider* in, const char* eol, bool utf16) {
  std::string name = RandomCase(in, in->PickValueInArray(kValueNames));
  std::string line =
      Blanks(in) + (name.empty() ? "@" : "\"" + name + "\"") + Blanks(in) + "=" + Blanks(in);
  switch (in->ConsumeIntegralInRange(0, 4)) {
    case 0: {
      line += '"';
      for (char c : in->ConsumeRandomLengthString(12)) {
        if (c == '\\' || c == '"') line += '\\';
        line += (c >= 0x20 && c < 0x7F) ? c : 'x';
      }
      return line + '"' + Blanks(in) + Comment(in, utf16) + eol;
    }
    case 1: {
      char digits[16];
      std::snprintf(digits, sizeof digits, in->ConsumeBool() ? "%x" : "%08X",
                    in->ConsumeIntegral<unsigned>());
      return line + "dword:" + Blanks(in) + digits + Blanks(in) + Comment(in, utf16) + eol;
    }
    case 2: {
      static const char* const kSkipped[] = {
          "garbage",      "\"v\"=-x", "\"v\"=dword:123456789",   "\"v\"=hex:1 2",
          "\"v\"=\"open", ";c",       "[ HKEY_CURRENT_USER\\a]", "[HKEY_CURRENT_USER\\b"};
      return Blanks(in) + in->PickValueInArray(kSkipped) + eol;
    }
    default: {
      static const char* const kTypes[] = {
          "hex:", "hex(0):", "hex(1):", "hex(2):", "hex(4):", "hex(7):", "hex(b):", "hex(12345):"};
      std::string type = in->PickValueInArray(kTypes);
      line += type;
      // Texts of a UTF-16 store are UTF-16, of characters up to U+00FF; a text of no bytes has
      // no comment, where regedit would die.
      bool text = utf16 && type.find_first_of("127") == 4;
      int bytes = in->ConsumeIntegralInRange(0, 40) & (text ? ~1 : ~0);
      for (int i = 0; i < bytes; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02x",
                      text && i % 2 == 1 ? 0 : in->ConsumeIntegral<unsigned char>());
        line += Blanks(in) + hex;
        if (i + 1 == bytes) break;
        line += ',';
        if (in->ConsumeIntegralInRange(0, 7) == 0) {
          line += "\\" + Comment(in, utf16) + eol;
          if (in->ConsumeIntegralInRange(0, 3) == 0) line += Blanks(in) + "; between" + eol;
          line += std::string(in->ConsumeIntegralInRange(0, 3), ' ');
        }
      }
      bool empty_text = bytes == 0 && type.find_first_of("127") == 4;
      return line + Blanks(in) + (empty_text ? "" : Comment(in, utf16)) + eol;
    }
  }
}

// A store as a person or regedit may write it: comments, blank lines, any line ends, blanks and
// comments where regedit takes them, lines it skips, repeated keys in any order, keys under
// other roots, and perhaps no line end after the last line.
std::string MakeStore(FuzzedDataProvider* in, bool utf16) {
  const char* header = utf16 ? "Windows Registry Editor Version 5.00" : "REGEDIT4";
  std::string text = Blanks(in) + header + in->PickValueInArray(kLineEnds);
  if (in->ConsumeIntegralInRange(0, 7) == 0) text += ValueLine(in, "\r\n", utf16);  // goes nowhere
  int sections = in->ConsumeIntegralInRange(0, 10);
  for (int s = 0; s < sections; ++s) {
    const char* eol = in->PickValueInArray(kLineEnds);
    if (in->ConsumeIntegralInRange(0, 3) == 0) text += std::string("; note ") + eol;
    if (in->ConsumeBool()) text += eol;
    text += Blanks(in) + "[" + std::string(in->PickValueInArray(kRoots));
    std::string path = KeyPath(in, 0);
    if (!path.empty()) text += "\\" + path;
    if (in->ConsumeIntegralInRange(0, 5) == 0) text += "\\";
    text += "]" + Blanks(in) + Comment(in, utf16) + eol;
    int values = in->ConsumeIntegralInRange(0, 4);
    for (int v = 0; v < values; ++v) text += ValueLine(in, eol, utf16);
  }
  while (in->ConsumeIntegralInRange(0, 3) == 0 && !text.empty() &&
         (text.back() == '\n' || text.back() == '\r')) {
    text.pop_back();
  }
  return text;
}

// The text with its key lines in upper case. A key's name is spelled as in its first section;
// when a run deletes that section, the next one spells it, which a store that only edits cannot
// help.
std::string FoldKeys(std::string text) {
  for (size_t at = 0; at < text.size(); at = text.find('\n', at) + 1) {
    if (text[at] != '[') continue;
    for (size_t i = at; i < text.size() && text[i] != '\n'; ++i) {
      text[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[i])));
    }
  }
  return text;
}

// The text less one line end at its end: a run that adds lines after a last line without one
// gives that line one.
std::string_view WithoutLastLineEnd(std::string_view text) {
  if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  return text;
}

std::string ReadAll(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// Runs the operations, which the input chooses, on the bound store; returns what each call
// answered.
std::string RunOperations(FuzzedDataProvider in) {
  std::string answers;
  int operations = in.ConsumeIntegralInRange(0, 8);
  for (int i = 0; i < operations; ++i) {
    HKEY root = in.ConsumeBool() ? HKEY_CURRENT_USER : HKEY_CLASSES_ROOT;
    switch (in.ConsumeIntegralInRange(0, 4)) {
      case 0:
        answers += std::to_string(RegisterExtension(in.ConsumeBool() ? "C:\\b\\band.dll" : "x"));
        break;
      case 1:
        answers += std::to_string(UnregisterExtension());
        break;
      case 2:
        answers += std::to_string(SHDeleteKeyA(root, KeyPath(&in, 1).c_str()));
        break;
      default: {
        HKEY key = nullptr;
        LONG status = RegCreateKeyExA(root, KeyPath(&in, 0).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                      nullptr, &key, nullptr);
        answers += std::to_string(status);
        if (status != ERROR_SUCCESS) break;
        std::string name = in.PickValueInArray(kValueNames);
        if (in.ConsumeIntegralInRange(0, 20) == 0) name += "\n";
        std::string data = in.ConsumeRandomLengthString(24);
        BYTE read[64];
        DWORD size = sizeof read;
        if (in.ConsumeBool()) {
          answers += std::to_string(RegSetValueExA(
              key, name.c_str(), 0, in.ConsumeIntegralInRange<DWORD>(0, 12),
              reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size())));
        } else {
          status = RegQueryValueExA(key, name.c_str(), nullptr, nullptr, read, &size);
          answers += std::to_string(status) +
                     (status ? "" : std::string(reinterpret_cast<char*>(read), size));
        }
        RegCloseKey(key);
      }
    }
    answers += ';';
  }
  return answers;
}

// Whether the key at `path` (its root's name and below, without case) lies on a path in
// `reached` ("R:path" for a created or opened key, "D:path" for a deleted one) or below a
// deleted one.
bool Reached(const std::string& path, const std::vector<std::string>& reached) {
  for (const std::string& entry : reached) {
    std::string_view other = std::string_view(entry).substr(2);
    size_t common = std::min(path.size(), other.size());
    if (!NamesEqual(std::string_view(path).substr(0, common), other.substr(0, common))) continue;
    // Every path passes through its root, whose sections change only when the run reaches it.
    bool above = common == path.size() && (common == other.size() || other[common] == '\\') &&
                 (common == other.size() || path.find('\\') != std::string::npos);
    bool below = entry[0] == 'D' && common == other.size() &&
                 (common == path.size() || path[common] == '\\');
    if (above || below) return true;
  }
  return false;
}

// The text before the first section and that of every section the run did not reach.
std::string Untouched(const std::string& text, const std::vector<std::string>& reached) {
  std::vector<StoreSection> sections;
  std::deque<std::string> paths;
  if (!ScanRegeditFile(text, &sections, &paths)) return "not a store";
  std::string kept(
      WithoutLastLineEnd(text.substr(0, sections.empty() ? text.size() : sections[0].begin)));
  for (const StoreSection& section : sections) {
    std::string root = section.root == HKEY_CLASSES_ROOT   ? "HKEY_CLASSES_ROOT"
                       : section.root == HKEY_CURRENT_USER ? "HKEY_CURRENT_USER"
                                                           : "other";
    std::string path = root + (section.path.empty() ? "" : "\\") + std::string(section.path);
    if (section.root == nullptr || !Reached(path, reached)) {
      kept += WithoutLastLineEnd(
          std::string_view(text).substr(section.begin, section.end - section.begin));
      kept += '\n';
    }
  }
  return kept;
}

std::string Folder() {
  static std::string folder = [] {
    std::string pattern =
        std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/lkspan-fuzz-XXXXXX";
    return mkdtemp(&pattern[0]) != nullptr ? pattern : std::string(".");
  }();
  return folder;
}

// The made store in UTF-16, each mark a character beyond 8 bits: now and then a surrogate pair.
std::string Widen(FuzzedDataProvider* in, const std::string& made) {
  std::string bytes = "\xff\xfe";
  for (char c : made) {
    std::u16string units(1, static_cast<unsigned char>(c));
    if (c == kMark) units[0] = in->ConsumeIntegralInRange<char16_t>(0x100, 0xD7FF);
    if (c == kMark && in->ConsumeBool()) units = {0xD83D, 0xDE00};
    for (char16_t unit : units)
      bytes += {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
  }
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  bool raw = in.ConsumeIntegralInRange(0, 3) == 0;
  bool utf16 = !raw && in.ConsumeIntegralInRange(0, 3) == 0;
  std::string before = raw ? in.ConsumeRandomLengthString(4096) : MakeStore(&in, utf16);
  if (utf16) before = Widen(&in, before);
  std::vector<uint8_t> operations = in.ConsumeRemainingBytes<uint8_t>();
  const std::string path = Folder() + "/registry.reg";
  { std::ofstream(path, std::ios::binary) << before; }
  std::string file_answers;
  {
    FileStore store(path);
    {
      ScopedRegistryBinding binding(&store);
      file_answers = RunOperations(FuzzedDataProvider(operations.data(), operations.size()));
    }
    store.Commit();
  }
  std::string after = ReadAll(path);
  std::remove(path.c_str());

  std::vector<StoreSection> sections;
  std::deque<std::string> paths;
  StoreText store;  // an empty file is an empty registry
  if (!before.empty() &&
      (!store.Read(before) || !ScanRegeditFile(store.text(), &sections, &paths))) {
    if (after != before) Fail("a file that is not a store was rewritten", before, after);
    return 0;
  }
  MemoryStore memory;
  if (!ParseRegeditFile(before, &memory.tree())) {
    if (!raw) Fail("a made store does not parse", before, after);
    return 0;
  }
  std::string memory_answers;
  {
    ScopedRegistryBinding binding(&memory);
    memory_answers = RunOperations(FuzzedDataProvider(operations.data(), operations.size()));
  }
  if (file_answers != memory_answers) Fail("the stores answered differently", before, after);
  RegistryTree written;
  if (after == before) {
    // Nothing written: the registry is as it was, or a name with a line break was refused, or
    // the text has no section and may end in continued hex data, which would take any line
    // added after it (and no section is there to put new lines before).
    ParseRegeditFile(before, &written);
    std::string expected = FormatRegeditFile(memory.tree());
    if (FoldKeys(FormatRegeditFile(written)) != FoldKeys(expected) &&
        expected.find("\n\"=") == std::string::npos &&
        !(sections.empty() && MayContinueInto(store.text(), store.text().size()))) {
      Fail("a change was not written", before, after);
    }
    return 0;
  }
  if (!ParseRegeditFile(after, &written)) Fail("the file written does not parse", before, after);
  if (FoldKeys(FormatRegeditFile(written)) != FoldKeys(FormatRegeditFile(memory.tree()))) {
    Fail("the file written holds another registry", before, after);
  }
  std::vector<std::string> reached;
  for (const std::string& call : memory.calls()) {
    bool created = call.compare(0, 7, "create ") == 0;
    if (!created && call.compare(0, 7, "delete ") != 0) continue;
    std::string target = call.substr(7, call.find(" -> ") - 7);
    if (target.back() == '\\') target.pop_back();
    std::string root =
        target.compare(0, 4, "HKCR") == 0 ? "HKEY_CLASSES_ROOT" : "HKEY_CURRENT_USER";
    reached.push_back((created ? "R:" : "D:") + root + target.substr(4));
  }
  if ((after.compare(0, 2, "\xff\xfe") == 0) != (before.compare(0, 2, "\xff\xfe") == 0) ||
      Untouched(Narrow(after), reached) != Untouched(Narrow(before), reached)) {
    Fail("text outside the keys the run reached changed", before, after);
  }
  return 0;
}
