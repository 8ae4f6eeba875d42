// The store variants of tests/variants against what Wine's regedit makes of them (NAME.wine.reg,
// which tests/variants/regenerate.py writes and the Windows tests keep current). Read through
// the file store, each holds Wine's keys and values, but for keys holding what 8-bit calls cannot
// read; a registration and a removal keep every line (every character, the encoding) of the
// user's text outside the band's trees, new lines ending as the text's. A *-kept variant holds a
// basket text beyond 8 bits: its registration writes nothing, its removal stops at the class key.
// A *-refused variant holds what this reader does not read as regedit does where the band's keys
// are: neither a registration nor a removal writes anything.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "band_keys.h"
#include "file_store.h"
#include "key_listing.h"
#include "program_run.h"
#include "regedit_test_tree.h"
#include "register_extension.h"
#include "unregister_extension.h"

namespace {

// The lines of a text, each with its line end ("" for a last line without one).
std::vector<std::pair<std::string, std::string>> Lines(const std::string& text) {
  std::vector<std::pair<std::string, std::string>> lines;
  for (size_t at = 0; at < text.size();) {
    size_t end = std::min(text.find_first_of("\r\n", at), text.size());
    size_t next = text.compare(end, 2, "\r\n") == 0 ? end + 2 : std::min(end + 1, text.size());
    lines.emplace_back(text.substr(at, end - at), text.substr(end, next - end));
    at = next;
  }
  return lines;
}

// A text as lines can be compared: a UTF-16 one with each code unit up to 0xFF as that byte and
// each other one as its number in angle brackets.
std::string Readable(const std::string& bytes) {
  if (bytes.compare(0, 2, "\xff\xfe") != 0) return bytes;
  std::string text;
  for (size_t i = 2; i + 1 < bytes.size(); i += 2)
    text += bytes[i + 1] == 0
                ? std::string(1, bytes[i])
                : "<" + std::to_string((bytes[i + 1] & 0xFF) * 256 + (bytes[i] & 0xFF)) + ">";
  return text;
}

// The lines outside the sections of the band's trees: a key line starts with `[` and no blank
// after it, and names what stands up to its last `]`.
std::vector<std::string> UserLines(const std::string& text) {
  const std::string trees[] = {"HKEY_CURRENT_USER\\" + std::string(kSettingsKey),
                               "HKEY_CURRENT_USER\\" + BandKeyPath(kButtonKeyFormat),
                               "HKEY_CLASSES_ROOT\\" + BandKeyPath(kClassKeyFormat)};
  std::vector<std::string> kept;
  bool in_band = false;
  for (const auto& [line, end] : Lines(text)) {
    size_t open = line.find_first_not_of(" \t");
    size_t close = line.rfind(']');
    if (open != std::string::npos && line[open] == '[' && close != std::string::npos &&
        line.find_first_of(" \t", open + 1) != open + 1) {
      std::string key = line.substr(open + 1, close - open - 1) + "\\";
      in_band = std::any_of(std::begin(trees), std::end(trees), [&key](const std::string& tree) {
        return NamesEqual(std::string_view(key).substr(0, tree.size() + 1), tree + "\\");
      });
    }
    if (!in_band) kept.push_back(line);
  }
  return kept;
}

// The quoted text at line[*pos], unescaped as reg export escapes; *pos goes past it.
std::string Unquoted(std::string_view line, size_t* pos) {
  std::string text;
  for (size_t i = *pos + 1; i < line.size(); ++i) {
    if (line[i] == '"') {
      *pos = i + 1;
      return text;
    }
    if (line[i] == '\\' && ++i < line.size()) {
      EXPECT_NE(std::string_view("\\\"nr").find(line[i]), std::string_view::npos) << line;
      text += line[i] == 'n' ? '\n' : line[i] == 'r' ? '\r' : line[i];
    } else {
      text += line[i];
    }
  }
  ADD_FAILURE() << line;
  return text;
}

// Wine's reading of a variant, NAME.wine.reg, read into `tree` on that text's own terms and not by
// the store's reader: UTF-16LE after a byte order mark and the version 5 header, then each key as
// "[path]" with its values, one a line (hex data wrapped after ",\\"), and a blank line. A key
// named beyond 8 bits is none the store can name; one holding a value beyond 8 bits goes to *wide.
void ReadWineExport(const std::string& bytes, RegistryTree* tree, std::vector<std::string>* wide) {
  std::string text;  // a code unit above 0xFF as NUL, which reg export writes nowhere else
  for (size_t i = 2; i + 1 < bytes.size(); i += 2) text += bytes[i + 1] == 0 ? bytes[i] : '\0';
  for (size_t at; (at = text.find("\\\r\n  ")) != std::string::npos;) text.erase(at, 5);
  ASSERT_EQ(text.compare(0, 40, "Windows Registry Editor Version 5.00\r\n\r\n"), 0);
  std::string path;
  std::shared_ptr<RegistryKey> key;  // null for one named beyond 8 bits
  for (size_t at = 40, end; at < text.size(); at = end + 2) {
    end = std::min(text.find("\r\n", at), text.size());
    const std::string line = text.substr(at, end - at);
    if (line[0] == '[') {  // both roots' names are 17 characters long
      path = line.substr(1, line.size() - 2);
      const bool classes = path.compare(0, 17, "HKEY_CLASSES_ROOT") == 0;
      key = path.find('\0') != std::string::npos
                ? nullptr
                : KeyAt(classes ? tree->classes_root : tree->current_user, path.substr(18));
    }
    if (line.empty() || line[0] == '[' || !key) continue;
    size_t pos = line[0] == '@' ? 1 : 0;
    const std::string name = pos == 1 ? "" : Unquoted(line, &pos), form = line.substr(pos + 1);
    DWORD type = REG_SZ;
    std::string data;
    bool beyond = name.find('\0') != std::string::npos;
    if (form[0] == '"') {
      data = Unquoted(form, &(pos = 0));
      beyond |= data.find('\0') != std::string::npos;
      data += '\0';
    } else if (form.compare(0, 6, "dword:") == 0) {
      type = REG_DWORD;
      const uint32_t number = std::stoul(form.substr(6), nullptr, 16);
      for (int i = 0; i < 4; ++i) data += static_cast<char>(number >> (8 * i));
    } else {
      type = form[3] == ':' ? REG_BINARY : std::stoul(form.substr(4), nullptr, 16);
      for (size_t i = form.find(':') + 1; i + 1 < form.size(); i += 3) {
        data += static_cast<char>(std::stoul(form.substr(i, 2), nullptr, 16));
      }
      if (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ) {  // UTF-16LE
        std::string units;
        units.swap(data);
        for (size_t i = 0; i + 1 < units.size(); i += 2) data += units[i];
        for (size_t i = 1; i < units.size(); i += 2) beyond |= units[i] != 0;
      }
    }
    if (!beyond) key->SetValue(name, type, data);
    if (beyond) wide->push_back(path);
  }
}

// Opens `expected` and every key below it in the store, which must have them, and reads each
// of their values (but of the keys in `wide`) into `read`.
void OpenAll(HKEY root, const std::string& path, const RegistryKey& expected,
             const std::vector<std::string>& wide, RegistryKey* read) {
  HKEY key = root;
  DWORD disposition = REG_OPENED_EXISTING_KEY;
  if (!path.empty()) {
    ASSERT_EQ(
        RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_READ, nullptr, &key, &disposition),
        ERROR_SUCCESS);
  }
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY) << path;
  DWORD size = 0;
  if (std::count(wide.begin(), wide.end(), (*RegistryTree().Root(root))->name() + "\\" + path) ==
      0) {
    EXPECT_EQ(RegQueryValueExA(key, "?", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
    for (const RegistryValue& value : expected.values()) {
      DWORD type = REG_NONE;
      std::string data(value.data.size() + 8, '?');  // room for a longer answer to show
      size = static_cast<DWORD>(data.size());
      EXPECT_EQ(RegQueryValueExA(key, std::string(value.name).c_str(), nullptr, &type,
                                 reinterpret_cast<BYTE*>(data.data()), &size),
                ERROR_SUCCESS)
          << path << " " << value.name;
      read->SetValue(value.name, type, data.substr(0, size));
    }
  }
  if (key != root) RegCloseKey(key);
  for (const auto& [name, child] : expected.children()) {
    bool created = false;
    OpenAll(root, path.empty() ? child->name() : path + "\\" + child->name(), *child, wide,
            read->AddChild(child->name(), &created).get());
  }
}

// The tree as sections, less those of the keys in `wide`.
std::string Listing(const RegistryTree& tree, const std::vector<std::string>& wide = {}) {
  std::string out;
  AppendKeyTree(&out, "HKEY_CLASSES_ROOT", *tree.classes_root, ValueOrder::kByName);
  AppendKeyTree(&out, "HKEY_CURRENT_USER", *tree.current_user, ValueOrder::kByName);
  for (const std::string& key : wide) {
    size_t at = out.find("[" + key + "]\r\n");
    if (at != std::string::npos) out.erase(at, out.find("\r\n\r\n", at) + 4 - at);
  }
  return out;
}

// Whether the tree holds the key at `path`, which it leaves as it was.
bool HasKey(std::shared_ptr<RegistryKey> key, std::string_view path) {
  std::vector<std::string_view> names;
  SplitKeyPath(path, &names);
  for (std::string_view name : names) {
    if (key) key = key->FindChild(name);
  }
  return key != nullptr;
}

class StoreVariantTest : public ::testing::TestWithParam<std::string> {};

TEST_P(StoreVariantTest, ReadsAsWineAndKeepsTheUsersLines) {
  const std::string variant = ReadFileBytes(LKSPAN_VARIANTS "/" + GetParam() + ".reg");
  const std::string text = Readable(variant);
  const bool kept = GetParam().find("-kept") != std::string::npos;
  TempFolder folder;
  const std::string path = folder.path() + "/registry.reg";
  WriteFileBytes(path, variant);
  if (GetParam().find("-refused") != std::string::npos) {
    for (bool remove : {false, true}) {
      FileStore store(path);
      ScopedRegistryBinding binding(&store);
      remove ? UnregisterExtension() : RegisterExtension("C:\\b\\band.dll");
      EXPECT_NE(store.Commit(), ERROR_SUCCESS);
      EXPECT_EQ(ReadFileBytes(path), variant) << (remove ? "removed" : "registered");
    }
    return;
  }
  RegistryTree wine;
  std::vector<std::string> wide;
  ReadWineExport(ReadFileBytes(LKSPAN_VARIANTS "/" + GetParam() + ".wine.reg"), &wine, &wide);
  {
    FileStore store(path);
    ScopedRegistryBinding binding(&store);
    RegistryTree read;
    OpenAll(HKEY_CLASSES_ROOT, "", *wine.classes_root, wide, read.classes_root.get());
    OpenAll(HKEY_CURRENT_USER, "", *wine.current_user, wide, read.current_user.get());
    EXPECT_EQ(Listing(read, wide), Listing(wine, wide));
  }
  // Nor does the store make a key of a line regedit skips: the whole text read at once.
  RegistryTree whole;
  ASSERT_TRUE(ParseRegeditFile(variant.empty() ? "REGEDIT4" : variant, &whole, &wide));
  EXPECT_EQ(Listing(whole), Listing(wine));

  std::set<std::string> line_ends = {""};
  for (const auto& [line, end] : Lines(text)) line_ends.insert(end);
  if (line_ends.size() == 1) line_ends.insert("\r\n");  // a text without line ends gets CRLF
  const RegistryValue* count = KeyAt(wine.current_user, kSettingsKey)->FindValue("NumberOfBaskets");
  const bool baskets = count != nullptr && count->data == std::string("\2\0\0\0", 4);
  for (bool remove : {false, true}) {
    SCOPED_TRACE(remove ? "removed" : "registered");
    {
      FileStore store(path);
      ScopedRegistryBinding binding(&store);
      EXPECT_EQ(remove ? UnregisterExtension() : RegisterExtension("C:\\b\\band.dll"),
                kept ? (remove ? SELFREG_E_CLASS : 0) : !remove);
      EXPECT_EQ(store.Commit(), remove || !kept ? ERROR_SUCCESS : ERROR_BADDB);
    }
    const std::string after = ReadFileBytes(path);
    EXPECT_TRUE(remove || !kept || after == variant) << "changed:\n" << Readable(after);
    EXPECT_EQ(after.compare(0, 2, "\xff\xfe") == 0, variant.compare(0, 2, "\xff\xfe") == 0);
    std::vector<std::string> lines;
    for (const auto& [line, end] : Lines(Readable(after))) {
      lines.push_back(line);
      EXPECT_EQ(line_ends.count(end), 1u) << ::testing::PrintToString(end);
    }
    auto next = lines.begin();
    for (const std::string& line : UserLines(text)) {
      next = std::find(next, lines.end(), line);
      ASSERT_NE(next, lines.end()) << "lost: " << line << "\n" << after;
    }
    // A removal leaves no line of the band's trees, not even of a key the registry refuses.
    EXPECT_TRUE(!remove || kept || UserLines(Readable(after)).size() == lines.size());
    RegistryTree tree;
    ASSERT_TRUE(ParseRegeditFile(after, &tree, &wide));
    EXPECT_EQ(HasKey(tree.current_user, kSettingsKey), !remove);
    const bool registered = !remove && !kept;
    EXPECT_EQ(
        KeyAt(tree.current_user, BandKeyPath(kButtonKeyFormat))->FindValue("BandCLSID") != nullptr,
        registered);
    // An old basket list of two is upgraded: the last basket's number is 2.
    const RegistryValue* last = KeyAt(tree.current_user, kSettingsKey)->FindValue("5");
    EXPECT_EQ(last != nullptr && last->data == std::string("\2\0\0\0", 4), registered && baskets);
    const RegistryValue* folder_path = KeyAt(tree.current_user, kSettingsKey)->FindValue("Path");
    EXPECT_EQ(folder_path != nullptr && folder_path->data == std::string("C:\\b\\\0", 6),
              registered);
  }
}

std::vector<std::string> Variants() {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(LKSPAN_VARIANTS)) {
    std::string name = entry.path().stem().string();  // NAME.wine.reg: Wine's reading of NAME
    if (entry.path().extension() == ".reg" && name.find('.') == std::string::npos) {
      names.push_back(name);
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

INSTANTIATE_TEST_SUITE_P(Variants, StoreVariantTest, ::testing::ValuesIn(Variants()),
                         [](const auto& variant) {
                           std::string name = variant.param;
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

}  // namespace
