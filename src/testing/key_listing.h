// A key tree listed as REGEDIT4 sections, in the one order every test compares: values and
// subkeys sorted by name without regard to case. Only standard types cross this header, so
// that it serves beside <windows.h> as well as beside the portable store.
#pragma once

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "regedit_text.h"

// Whether `a` sorts before `b`, names compared without regard to case.
inline bool NameBefore(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::toupper(static_cast<unsigned char>(x)) <
           std::toupper(static_cast<unsigned char>(y));
  });
}

inline void SortByName(std::vector<std::string>* names) {
  std::sort(names->begin(), names->end(), NameBefore);
}

struct NamedValue {
  std::string name;
  uint32_t type;
  std::string data;  // the bytes exactly as stored
};

// Appends "[path]", the values sorted by name, and a blank line, every line ending in CRLF.
inline void AppendSection(std::string* out, const std::string& path,
                          std::vector<NamedValue> values) {
  std::sort(values.begin(), values.end(),
            [](const NamedValue& a, const NamedValue& b) { return NameBefore(a.name, b.name); });
  *out += "[" + path + "]\r\n";
  for (const NamedValue& value : values)
    AppendRegeditValue(out, value.name, value.type, value.data);
  *out += "\r\n";
}

// Appends the section of `key`, named `path`, then those of the keys below it, each subkey
// after its key in the order `children()` gives (the portable store's keys give theirs sorted
// by name). `Key` is a key of the portable store's tree.
template <typename Key>
void AppendKeyTree(std::string* out, const std::string& path, const Key& key) {
  std::vector<NamedValue> values;
  for (const auto& value : key.values()) {
    values.push_back(NamedValue{value.name, value.type, value.data});
  }
  AppendSection(out, path, std::move(values));
  for (const auto& [name, child] : key.children()) {
    AppendKeyTree(out, path + "\\" + child->name(), *child);
  }
}
