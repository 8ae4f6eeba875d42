#include "scenario_table.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string_view>
#include <utility>

#include "band_keys.h"
#include "key_listing.h"
#include "regedit_test_tree.h"
#include "regedit_writer.h"

namespace {

BandTree TreeAt(bool classes_root, const char* format) {
  std::string path = BandKeyPath(format);
  size_t split = path.rfind('\\');
  return BandTree{classes_root, path.substr(0, split), path.substr(split + 1)};
}

}  // namespace

const std::vector<BandTree>& BandKeyTrees() {
  static const std::vector<BandTree> trees = {
      TreeAt(true, kClassKeyFormat),
      TreeAt(false, kButtonKeyFormat),
      TreeAt(false, kSettingsKey),
  };
  return trees;
}

namespace {

const char* const kRegistries[] = {"native", "wine"};

std::vector<std::string> SplitPath(std::string_view path) {
  std::vector<std::string> names;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string_view::npos) end = path.size();
    names.emplace_back(path.substr(start, end - start));
    start = end + 1;
  }
  return names;
}

std::string RootName(bool classes_root) {
  return std::string(classes_root ? kClassesRootName : kCurrentUserName);
}

const std::shared_ptr<RegistryKey>& RootKey(const RegistryTree& tree, bool classes_root) {
  return classes_root ? tree.classes_root : tree.current_user;
}

// The tree's root key in `tree`, or null.
std::shared_ptr<RegistryKey> FindBandTree(const RegistryTree& tree, const BandTree& band) {
  std::shared_ptr<RegistryKey> key = RootKey(tree, band.classes_root);
  for (const std::string& name : SplitPath(band.parent)) {
    if (!(key = key->FindChild(name))) return nullptr;
  }
  return key->FindChild(band.name);
}

void MergeInto(const RegistryKey& from, RegistryKey* to) {
  for (const RegistryValue& value : from.values()) to->SetValue(value.name, value.type, value.data);
  bool created = false;
  for (const auto& [name, child] : from.children()) {
    MergeInto(*child, to->AddChild(child->name(), &created).get());
  }
}

std::string DumpBandTrees(const RegistryTree& tree) {
  std::string out;
  for (const BandTree& band : BandKeyTrees()) {
    if (std::shared_ptr<RegistryKey> key = FindBandTree(tree, band)) {
      AppendKeyTree(&out, RootName(band.classes_root) + "\\" + band.parent + "\\" + key->name(),
                    *key, ValueOrder::kByName);
    }
  }
  return out;
}

// Whether `path` (names below a root) lies in a band tree (`inside`) or above one.
void Place(bool classes_root, const std::vector<std::string>& path, bool* inside, bool* above) {
  *inside = *above = false;
  for (const BandTree& band : BandKeyTrees()) {
    if (band.classes_root != classes_root) continue;
    std::vector<std::string> tree = SplitPath(band.parent);
    tree.push_back(band.name);
    size_t common = 0;
    while (common < path.size() && common < tree.size() && NamesEqual(path[common], tree[common])) {
      ++common;
    }
    if (common == tree.size()) *inside = true;
    if (common == path.size() && common < tree.size()) *above = true;
  }
}

// The first key outside the band trees that holds values or is not above one; empty if none.
std::string KeyOutside(const RegistryKey& key, bool classes_root, std::vector<std::string>* path) {
  bool inside = false;
  bool above = false;
  Place(classes_root, *path, &inside, &above);
  if (inside) return "";
  if (!above || !key.values().empty()) {
    std::string text = RootName(classes_root);
    for (const std::string& name : *path) text += "\\" + name;
    return text;
  }
  for (const auto& [name, child] : key.children()) {
    path->push_back(child->name());
    std::string found = KeyOutside(*child, classes_root, path);
    path->pop_back();
    if (!found.empty()) return found;
  }
  return "";
}

void CollectValues(const RegistryKey& key, bool classes_root, const std::string& path,
                   std::vector<TextValue>* values) {
  for (const RegistryValue& value : key.values()) {
    values->push_back(TextValue{classes_root, path, std::string(value.name), value.type,
                                std::string(value.data)});
  }
  for (const auto& [name, child] : key.children()) {
    CollectValues(*child, classes_root, path + "\\" + child->name(), values);
  }
}

// ";baskets old N" or ";baskets current N": the value lines of that list.
bool BasketLines(std::string_view layout, std::string* out) {
  bool current = layout.substr(0, 8) == "current ";
  if (!current && layout.substr(0, 4) != "old ") return false;
  std::string_view digits = layout.substr(current ? 8 : 4);
  if (digits.empty() || digits.size() > 3 ||
      !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return false;
  }
  int count = std::stoi(std::string(digits));
  int per = current ? 3 : 2;
  for (int i = 0; i < count; ++i) {
    std::string number = std::to_string(i);
    *out += "\"" + std::to_string(per * i) + "\"=\"Basket " + number + "\"\n";
    *out += "\"" + std::to_string(per * i + 1) + "\"=\"C:\\\\Baskets\\\\" + number + ".lkb\"\n";
    if (current) *out += "\"" + std::to_string(per * i + 2) + "\"=dword:00000002\n";
  }
  return true;
}

class TableReader {
 public:
  bool Read(const std::string& text, std::vector<Scenario>* rows) {
    rows_ = rows;
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(start, end - start);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      start = end + 1;
      ++line_number_;
      if (!ReadLine(line)) return false;
    }
    if (!EndBlock()) return false;
    for (const Scenario& row : *rows_) {
      if (row.runs.empty()) return Fail("scenario " + row.name + " has no run");
      for (const char* registry : kRegistries) {
        if (!row.after.count("") && !row.after.count(registry) && !row.skip.count(registry)) {
          return Fail("scenario " + row.name + " has no after for " + registry);
        }
      }
    }
    return true;
  }

  const std::string& error() const { return error_; }

 private:
  bool Fail(const std::string& what) {
    error_ = "scenarios.txt:" + std::to_string(line_number_) + ": " + what;
    return false;
  }

  static bool Keyword(const std::string& line, std::string_view word, std::string* rest) {
    if (line.compare(0, word.size(), word) != 0) return false;
    if (line.size() == word.size()) {
      rest->clear();
      return true;
    }
    if (line[word.size()] != ' ') return false;
    *rest = line.substr(word.size() + 1);
    return true;
  }

  bool ReadLine(const std::string& line) {
    if (!line.empty() && line[0] == '#') return true;
    std::string rest;
    if (Keyword(line, "define", &rest)) {
      if (!EndBlock()) return false;
      block_ = &defines_[rest];
      kind_ = kDefine;
      return true;
    }
    if (Keyword(line, "scenario", &rest)) {
      if (!EndBlock()) return false;
      Scenario row;
      size_t space = rest.find(' ');
      row.name = rest.substr(0, space);
      if (space != std::string::npos) {
        if (rest.substr(space + 1) != "wine32") return Fail("unknown flag in: " + line);
        row.wine32 = true;
      }
      if (row.name.empty() || !std::all_of(row.name.begin(), row.name.end(), [](char c) {
            return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
          })) {
        return Fail("scenario names are lower-case letters, digits and _");
      }
      if (!names_.insert(row.name).second) return Fail("second scenario " + row.name);
      rows_->push_back(std::move(row));
      return true;
    }
    bool keyword = Keyword(line, "before", &rest) || Keyword(line, "after", &rest) ||
                   Keyword(line, "run", &rest) || Keyword(line, "skip", &rest);
    if (!keyword) {
      if (block_ != nullptr) {
        *block_ += line + "\n";
        return true;
      }
      return line.empty() || Fail("text outside a block: " + line);
    }
    if (!EndBlock()) return false;
    if (rows_->empty()) return Fail("no scenario before: " + line);
    Scenario& row = rows_->back();
    if (Keyword(line, "before", &rest)) {
      if (!rest.empty() || !row.before.empty()) return Fail("a second or named before");
      block_ = &row.before;
      kind_ = kBefore;
    } else if (Keyword(line, "after", &rest)) {
      if (!rest.empty() && rest != "native" && rest != "wine") return Fail("after for " + rest);
      if (row.after.count(rest)) return Fail("a second after " + rest);
      block_ = &row.after[rest];
      kind_ = kAfter;
    } else if (Keyword(line, "skip", &rest)) {
      size_t space = rest.find(' ');
      std::string registry = rest.substr(0, space);
      if ((registry != "native" && registry != "wine") || space == std::string::npos) {
        return Fail("skip needs a registry and a reason");
      }
      row.skip[registry] = rest.substr(space + 1);
    } else {
      std::vector<std::string> args;
      while (!rest.empty()) {
        size_t close = rest.find('>');
        if (rest[0] != '<' || close == std::string::npos || rest.find('<', 1) < close) {
          return Fail("arguments are <text> separated by one space: " + line);
        }
        args.push_back(rest.substr(1, close - 1));
        rest.erase(0, close + 1);
        if (!rest.empty() && (rest[0] != ' ' || rest.size() == 1)) {
          return Fail("arguments are <text> separated by one space: " + line);
        }
        if (!rest.empty()) rest.erase(0, 1);
      }
      row.runs.push_back(std::move(args));
    }
    return true;
  }

  // Expands the block just read and checks it.
  bool EndBlock() {
    std::string* block = block_;
    block_ = nullptr;
    if (block == nullptr || kind_ == kDefine) return true;
    std::string expanded;
    size_t start = 0;
    while (start < block->size()) {
      size_t end = block->find('\n', start);
      std::string line = block->substr(start, end - start);
      start = end + 1;
      if (line.empty() || line[0] != ';') {
        expanded += line + "\n";
      } else if (line.compare(0, 9, ";baskets ") == 0) {
        if (!BasketLines(std::string_view(line).substr(9), &expanded)) {
          return Fail("bad basket list: " + line);
        }
      } else {
        size_t space = line.find(' ');
        auto define = defines_.find(line.substr(1, space == std::string::npos ? space : space - 1));
        if (define == defines_.end() || space == std::string::npos) {
          return Fail("unknown line: " + line);
        }
        std::string text = define->second;
        std::string argument = line.substr(space + 1);
        for (size_t at = text.find("$1"); at != std::string::npos;
             at = text.find("$1", at + argument.size())) {
          text.replace(at, 2, argument);
        }
        expanded += text;
      }
    }
    RegistryTree tree;
    if (!ParseRegeditFile(expanded, &tree)) return Fail("a block that is not REGEDIT4 text");
    for (bool classes_root : {true, false}) {
      std::vector<std::string> path;
      std::string outside = KeyOutside(*RootKey(tree, classes_root), classes_root, &path);
      if (!outside.empty()) return Fail("a key outside the band's trees: " + outside);
    }
    *block = kind_ == kBefore ? FormatRegeditFile(tree) : DumpBandTrees(tree);
    return true;
  }

  enum Kind { kDefine, kBefore, kAfter };

  std::vector<Scenario>* rows_ = nullptr;
  std::map<std::string, std::string> defines_;
  std::set<std::string> names_;
  std::string* block_ = nullptr;
  Kind kind_ = kDefine;
  int line_number_ = 0;
  std::string error_;
};

}  // namespace

const std::string& Scenario::ExpectedAfter(const std::string& registry) const {
  auto found = after.find(registry);
  return found != after.end() ? found->second : after.at("");
}

void PrintTo(const Scenario& row, std::ostream* out) {
  *out << row.name;
}

std::vector<Scenario> LoadScenarios(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<Scenario> rows;
  TableReader reader;
  if (!in || text.empty() || !reader.Read(text, &rows)) {
    Scenario unreadable;
    unreadable.name = "table_is_unreadable";
    unreadable.error = !in || text.empty() ? "cannot read " + path : reader.error();
    return {unreadable};
  }
  return rows;
}

bool BandTrees(const std::vector<std::string>& texts, std::string* out) {
  RegistryTree merged;
  for (const std::string& text : texts) {
    RegistryTree tree;
    if (!ParseRegeditFile(text, &tree)) return false;
    MergeInto(*tree.classes_root, merged.classes_root.get());
    MergeInto(*tree.current_user, merged.current_user.get());
  }
  *out = DumpBandTrees(merged);
  return true;
}

bool BandValues(const std::string& text, std::vector<TextValue>* values) {
  RegistryTree tree;
  if (!ParseRegeditFile(text, &tree)) return false;
  values->clear();
  for (const BandTree& band : BandKeyTrees()) {
    if (std::shared_ptr<RegistryKey> key = FindBandTree(tree, band)) {
      CollectValues(*key, band.classes_root, std::string(band.parent) + "\\" + key->name(), values);
    }
  }
  return true;
}
