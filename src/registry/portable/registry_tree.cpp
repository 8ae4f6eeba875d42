#include "registry_tree.h"

#include <algorithm>

namespace {

unsigned char Fold(unsigned char c) {
  return (c >= 'a' && c <= 'z') ? c - ('a' - 'A') : c;
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
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return Fold(static_cast<unsigned char>(x)) < Fold(static_cast<unsigned char>(y));
  });
}

bool NamesEqual(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return Fold(static_cast<unsigned char>(x)) == Fold(static_cast<unsigned char>(y));
         });
}

std::shared_ptr<RegistryKey> RegistryKey::FindChild(std::string_view name) const {
  auto it = children_.find(name);
  return it == children_.end() ? nullptr : it->second;
}

std::shared_ptr<RegistryKey> RegistryKey::AddChild(std::string_view name, bool* created) {
  auto it = children_.find(name);
  *created = it == children_.end();
  if (*created) {
    it = children_.emplace(std::string(name), std::make_shared<RegistryKey>(std::string(name)))
             .first;
  }
  return it->second;
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
  auto it = value_index_.find(name);
  return it == value_index_.end() ? nullptr : &values_[it->second];
}

bool RegistryKey::SetValue(std::string_view name, DWORD type, std::string_view data) {
  auto* found = const_cast<RegistryValue*>(FindValue(name));
  if (found == nullptr) {
    value_index_.emplace(std::string(name), values_.size());
    values_.push_back(RegistryValue{std::string(name), type, std::string(data)});
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
