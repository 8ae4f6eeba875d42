// The store variants of tests/variants, each a form of .reg text that regedit reads, against
// what Wine's regedit makes of them (NAME.wine.reg: tests/variants/regenerate.py writes them, the
// Windows tests check that they are current). Each variant is read through the registry
// functions on the file store and must hold exactly Wine's keys and values, but for what the
// 8-bit functions cannot name or read: keys named beyond 8 bits, and the values of a key that
// holds a value beyond 8 bits. A registration and a removal then keep every line of the user's
// text outside the band's trees, every character of a UTF-16 text included, and the text's
// encoding, ending new lines as the text ends its own. A variant named *-kept holds a basket
// text beyond 8 bits, which the registration must move and cannot: the registration writes
// nothing, while a removal, which reads no value, removes the band's trees in the user's hive and
// stops at the class key, which is not there.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "band_keys.h"
#include "file_store.h"
#include "program_run.h"
#include "regedit_tree.h"
#include "register_extension.h"
#include "registry_api.h"
#include "unregister_extension.h"

namespace {

std::vector<std::string> Variants() {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(LKSPAN_VARIANTS)) {
    std::string name = entry.path().filename().string();
    if (name.size() > 4 && name.substr(name.size() - 4) == ".reg" &&
        name.find(".wine.") == std::string::npos) {
      names.push_back(name.substr(0, name.size() - 4));
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A variant's text: an 8-bit one as it stands, a UTF-16 one with each code unit up to 0xFF as
// that byte and each other one as its number in angle brackets.
std::string Readable(const std::string& bytes) {
  if (bytes.compare(0, 2, "\xff\xfe") != 0) return bytes;
  std::string text;
  for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
    unsigned unit = static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1])
                                                               << 8;
    text += unit <= 0xFF ? std::string(1, bytes[i]) : "<" + std::to_string(unit) + ">";
  }
  return text;
}

// The lines of a text and the line end of each ("" for a last line without one).
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

// The key a key line names (what stands between `[` and the last `]`), or "" for another line.
std::string KeyOfLine(const std::string& line) {
  size_t open = line.find_first_not_of(" \t");
  size_t close = line.rfind(']');
  if (open == std::string::npos || line[open] != '[' || close == std::string::npos ||
      line.find_first_of(" \t", open + 1) == open + 1) {
    return "";
  }
  return line.substr(open + 1, close - open - 1);
}

// The lines outside the sections of the band's trees, in order.
std::vector<std::string> UserLines(const std::string& text) {
  const std::string trees[] = {"HKEY_CURRENT_USER\\" + std::string(kSettingsKey),
                               "HKEY_CURRENT_USER\\" + BandKeyPath(kButtonKeyFormat),
                               "HKEY_CLASSES_ROOT\\" + BandKeyPath(kClassKeyFormat)};
  std::vector<std::string> kept;
  bool in_band = false;
  for (const auto& [line, end] : Lines(text)) {
    std::string key = KeyOfLine(line);
    if (!key.empty()) {
      in_band = std::any_of(std::begin(trees), std::end(trees), [&key](const std::string& tree) {
        return NamesEqual(std::string_view(key).substr(0, tree.size()), tree) &&
               (key.size() == tree.size() || key[tree.size()] == '\\');
      });
    }
    if (!in_band) kept.push_back(line);
  }
  return kept;
}

// Checks that `key` in the store holds exactly the values of `expected`, and so do its subkeys,
// but for the keys in `wide_keys`.
void ExpectSameKeys(FileStore* store, HKEY root, const std::string& path,
                    const RegistryKey& expected, const std::vector<std::string>& wide_keys) {
  SCOPED_TRACE(path);
  const std::string full = (*store->tree().Root(root))->name() + (path.empty() ? "" : "\\") + path;
  bool wide = std::any_of(wide_keys.begin(), wide_keys.end(),
                          [&full](const std::string& key) { return NamesEqual(key, full); });
  HKEY key = root;
  DWORD disposition = REG_OPENED_EXISTING_KEY;
  if (!path.empty()) {
    ASSERT_EQ(
        RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_READ, nullptr, &key, &disposition),
        ERROR_SUCCESS);
  }
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  for (const RegistryValue& value : wide ? std::vector<RegistryValue>() : expected.values()) {
    DWORD type = REG_NONE;
    std::string data(value.data.size() + 1, '?');
    DWORD size = static_cast<DWORD>(data.size());
    EXPECT_EQ(RegQueryValueExA(key, value.name.c_str(), nullptr, &type,
                               reinterpret_cast<BYTE*>(&data[0]), &size),
              ERROR_SUCCESS)
        << value.name;
    data.resize(std::min<size_t>(size, data.size()));
    EXPECT_EQ(type, value.type) << value.name;
    EXPECT_EQ(data, value.data) << value.name;
  }
  // And no value more: the store has read the key's values by now.
  std::shared_ptr<RegistryKey> read = *store->tree().Root(root);
  std::vector<std::string_view> names;
  SplitKeyPath(path, &names);
  for (std::string_view name : names) read = read->FindChild(name);
  EXPECT_EQ(read->values().size(), wide ? read->values().size() : expected.values().size());
  if (key != root) RegCloseKey(key);
  for (const auto& [name, child] : expected.children()) {
    ExpectSameKeys(store, root, path.empty() ? child->name() : path + "\\" + child->name(), *child,
                   wide_keys);
  }
}

class StoreVariantTest : public ::testing::TestWithParam<std::string> {};

TEST_P(StoreVariantTest, ReadsAsWineAndKeepsTheUsersLines) {
  const std::string variant = ReadFileBytes(LKSPAN_VARIANTS "/" + GetParam() + ".reg");
  const std::string text = Readable(variant);
  const bool kept = GetParam().size() > 5 && GetParam().substr(GetParam().size() - 5) == "-kept";
  RegistryTree wine;
  std::vector<std::string> wide_keys;
  ASSERT_TRUE(ParseRegeditFile(ReadFileBytes(LKSPAN_VARIANTS "/" + GetParam() + ".wine.reg"), &wine,
                               &wide_keys));
  TempFolder folder;
  const std::string path = folder.path() + "/registry.reg";
  WriteFileBytes(path, variant);
  {
    FileStore store(path);
    ScopedRegistryBinding binding(&store);
    ExpectSameKeys(&store, HKEY_CLASSES_ROOT, "", *wine.classes_root, wide_keys);
    ExpectSameKeys(&store, HKEY_CURRENT_USER, "", *wine.current_user, wide_keys);
    // Lines with a key's name that regedit skips, or whose values it puts nowhere, make no key.
    for (const auto& [line, end] : Lines(text)) {
      size_t open = line.find('[');
      if (open == std::string::npos) continue;
      size_t from = line.find_first_not_of(" \t", open + 1);
      std::string key = line.substr(from, line.find(']', from) - from);
      for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER}) {
        std::string prefix = (*wine.Root(root))->name() + "\\";
        if (!NamesEqual(std::string_view(key).substr(0, prefix.size()), prefix)) continue;
        HKEY made = nullptr;
        DWORD disposition = 0;
        if (RegCreateKeyExA(root, key.c_str() + prefix.size(), 0, nullptr, 0, KEY_READ, nullptr,
                            &made, &disposition) != ERROR_SUCCESS) {
          continue;
        }
        RegCloseKey(made);
        std::vector<std::string_view> names;
        SplitKeyPath(std::string_view(key).substr(prefix.size()), &names);
        std::shared_ptr<RegistryKey> in_wine = *wine.Root(root);
        for (std::string_view name : names) in_wine = in_wine ? in_wine->FindChild(name) : nullptr;
        EXPECT_EQ(disposition, in_wine ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY) << line;
      }
    }
  }

  std::set<std::string> line_ends = {""};
  for (const auto& [line, end] : Lines(text)) line_ends.insert(end);
  if (line_ends.size() == 1) line_ends.insert("\r\n");  // a text without line ends gets CRLF
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
    std::vector<std::string> users = UserLines(text);
    std::vector<std::string> lines;
    for (const auto& [line, end] : Lines(Readable(after))) {
      lines.push_back(line);
      EXPECT_EQ(line_ends.count(end), 1u) << ::testing::PrintToString(end);
    }
    auto next = lines.begin();
    for (const std::string& line : users) {
      next = std::find(next, lines.end(), line);
      ASSERT_NE(next, lines.end()) << "lost: " << line << "\n" << after;
    }
    RegistryTree tree;
    ASSERT_TRUE(ParseRegeditFile(after, &tree, &wide_keys));
    auto settings = KeyAt(tree.current_user, kSettingsKey);
    auto button = KeyAt(tree.current_user, BandKeyPath(kButtonKeyFormat));
    const bool registered = !remove && !kept;
    EXPECT_EQ(button->FindValue("BandCLSID") != nullptr, registered);
    // A basket list of two in the old layout is upgraded: the last basket's number is 2.
    const RegistryValue* last = settings->FindValue("5");
    EXPECT_EQ(last != nullptr && last->data == std::string("\2\0\0\0", 4),
              registered && KeyAt(wine.current_user, kSettingsKey)->FindValue("NumberOfBaskets"));
  }
}

INSTANTIATE_TEST_SUITE_P(Variants, StoreVariantTest, ::testing::ValuesIn(Variants()),
                         [](const ::testing::TestParamInfo<std::string>& variant) {
                           std::string name = variant.param;
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

}  // namespace
