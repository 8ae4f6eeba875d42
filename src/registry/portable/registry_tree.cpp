#include "registry_tree.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>

namespace {

// Keys with up to this many values find them by looking through all of them.
constexpr size_t kUnindexedValues = 8;

unsigned char Fold(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return (u >= 'a' && u <= 'z') ? u - ('a' - 'A') : u;
}

// FNV-1a of the case-folded name.
size_t FoldedHash(std::string_view name) {
  uint64_t hash = 14695981039346656037ull;
  for (char c : name) hash = (hash ^ Fold(c)) * 1099511628211ull;
  return static_cast<size_t>(hash ^ (hash >> 32));
}

bool KeysEqual(const RegistryKey& a, const RegistryKey& b) {
  if (a.name() != b.name() || a.children().size() != b.children().size()) return false;
  const auto& va = a.values();
  const auto& vb = b.values();
  if (va.size() != vb.size()) return false;
  for (size_t i = 0; i < va.size(); ++i) {
    if (va[i].name != vb[i].name || va[i].type != vb[i].type || va[i].data != vb[i].data) {
      return false;
    }
  }
  auto ib = b.children().begin();
  for (const auto& [name, child] : a.children()) {
    if (!KeysEqual(*child, *ib->second)) return false;
    ++ib;
  }
  return true;
}

}  // namespace

bool NameLess::operator()(std::string_view a, std::string_view b) const {
  size_t common = std::min(a.size(), b.size());
  for (size_t i = 0; i < common; ++i) {
    if (a[i] == b[i]) continue;
    unsigned char x = Fold(a[i]);
    unsigned char y = Fold(b[i]);
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

bool NamesEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  // Names in a key often differ only at the end ("Value1", "Value2"): look there first.
  if (!a.empty() && a.back() != b.back() && Fold(a.back()) != Fold(b.back())) return false;
  // Eight bytes at a time while they match as they stand, which needs no folding.
  size_t i = 0;
  for (; i + 8 <= a.size(); i += 8) {
    uint64_t x;
    uint64_t y;
    std::memcpy(&x, a.data() + i, 8);
    std::memcpy(&y, b.data() + i, 8);
    if (x != y) break;
  }
  for (; i < a.size(); ++i) {
    if (a[i] != b[i] && Fold(a[i]) != Fold(b[i])) return false;
  }
  return true;
}

std::shared_ptr<RegistryKey> RegistryKey::FindChild(std::string_view name) const {
  auto it = children_.find(name);
  return it == children_.end() ? nullptr : it->second;
}

std::shared_ptr<RegistryKey> RegistryKey::AddChild(std::string_view name, bool* created) {
  // A store file lists keys sorted, so a new name usually goes last: try there first.
  auto it = children_.end();
  if (!children_.empty() && !NameLess()(std::prev(it)->first, name)) {
    it = children_.lower_bound(name);
    if (it != children_.end() && !NameLess()(name, it->first)) {
      *created = false;
      return it->second;
    }
  }
  *created = true;
  return children_
      .emplace_hint(it, std::string(name), std::make_shared<RegistryKey>(std::string(name)))
      ->second;
}

bool RegistryKey::RemoveChild(std::string_view name) {
  auto it = children_.find(name);
  if (it == children_.end()) return false;
  it->second->MarkDeleted();
  children_.erase(it);
  return true;
}

void RegistryKey::MarkDeleted() {
  deleted_ = true;
  for (auto& [name, child] : children_) child->MarkDeleted();
}

const RegistryValue* RegistryKey::FindValue(std::string_view name) const {
  if (value_slots_.empty()) {
    for (const RegistryValue& value : values_) {
      if (NamesEqual(value.name, name)) return &value;
    }
    return nullptr;
  }
  size_t mask = value_slots_.size() - 1;
  for (size_t slot = FoldedHash(name) & mask;; slot = (slot + 1) & mask) {
    uint32_t entry = value_slots_[slot];
    if (entry == 0) return nullptr;
    if (NamesEqual(values_[entry - 1].name, name)) return &values_[entry - 1];
  }
}

void RegistryKey::IndexValue(size_t place) {
  if (2 * (place + 1) > value_slots_.size()) {
    // Rebuild a quarter full, from every value up to this one.
    size_t size = 64;
    while (size < 4 * (place + 1)) size *= 2;
    value_slots_.assign(size, 0);
    for (size_t i = 0; i < place; ++i) IndexValue(i);
  }
  size_t mask = value_slots_.size() - 1;
  size_t slot = FoldedHash(values_[place].name) & mask;
  while (value_slots_[slot] != 0) slot = (slot + 1) & mask;
  value_slots_[slot] = static_cast<uint32_t>(place + 1);
}

bool RegistryKey::SetValue(std::string_view name, DWORD type, std::string_view data) {
  auto* found = const_cast<RegistryValue*>(FindValue(name));
  if (found == nullptr) {
    values_.push_back(RegistryValue{std::string(name), type, std::string(data)});
    if (values_.size() > kUnindexedValues) IndexValue(values_.size() - 1);
    return true;
  }
  if (found->type == type && found->data == data) return false;
  found->type = type;
  found->data.assign(data);
  return true;
}

const std::shared_ptr<RegistryKey>* RegistryTree::Root(HKEY root) const {
  if (root == HKEY_CLASSES_ROOT) return &classes_root;
  if (root == HKEY_CURRENT_USER) return &current_user;
  return nullptr;
}

bool RegistryTree::operator==(const RegistryTree& other) const {
  return KeysEqual(*classes_root, *other.classes_root) &&
         KeysEqual(*current_user, *other.current_user);
}

bool SplitKeyPath(std::string_view path, std::vector<std::string_view>* names) {
  names->clear();
  size_t start = 0;
  while (start < path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string_view::npos) end = path.size();
    std::string_view name = path.substr(start, end - start);
    if (name.empty() || name.size() > 255) return false;
    names->push_back(name);
    start = end + 1;
  }
  return true;
}
