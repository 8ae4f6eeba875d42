#include "registry_tree.h"

#include <algorithm>

std::shared_ptr<RegistryKey> RegistryKey::FindChild(std::string_view name) const {
  auto it = children_.find(name);
  return it == children_.end() ? nullptr : it->second;
}

std::shared_ptr<RegistryKey> RegistryKey::AddChild(std::string_view name, bool* created) {
  auto it = children_.lower_bound(name);
  *created = it == children_.end() || NameLess()(name, it->first);
  if (*created) {
    it = children_.emplace_hint(it, name, std::make_shared<RegistryKey>(name));
  }
  return it->second;
}

std::shared_ptr<RegistryKey> RegistryKey::RemoveChild(std::string_view name) {
  auto it = children_.find(name);
  if (it == children_.end()) return nullptr;
  std::shared_ptr<RegistryKey> child = std::move(it->second);
  children_.erase(it);
  child->MarkDeleted();
  return child;
}

void RegistryKey::MarkDeleted() {
  deleted_ = true;
  for (auto& [name, child] : children_) child->MarkDeleted();
}

const RegistryValue* RegistryKey::FindValue(std::string_view name) const {
  IndexValues();
  const ptrdiff_t place = places_.Find(name, [this](size_t i) { return NameAt(i); });
  return place < 0 ? nullptr : &values_[static_cast<size_t>(place)];
}

void RegistryKey::IndexAddedValues() const {
  const auto name_at = [this](size_t i) { return NameAt(i); };
  places_.Reserve(std::max(values_.capacity(), size_t{4}), indexed_, name_at);
  for (; indexed_ < values_.size(); ++indexed_) {
    places_.Slot(NameAt(indexed_), name_at) = static_cast<uint32_t>(indexed_ + 1);
  }
}

void RegistryKey::ReserveValues(size_t count) {
  values_.reserve(count);
  places_.Reserve(count, indexed_, [this](size_t i) { return NameAt(i); });
}

size_t RegistryKey::AddValue(std::string_view name, DWORD type, std::string_view data,
                             bool differs) {
  // The name and the data side by side: one piece of room.
  char* bytes = bytes_.Take(name.size() + data.size());
  std::copy(name.begin(), name.end(), bytes);
  std::copy(data.begin(), data.end(), bytes + name.size());
  values_.push_back(RegistryValue{std::string_view(bytes, name.size()), type,
                                  std::string_view(bytes + name.size(), data.size()), differs});
  return values_.size() - 1;
}

size_t RegistryKey::SetValue(std::string_view name, DWORD type, std::string_view data,
                             bool differs) {
  IndexValues();
  if (!places_.HasRoomFor(values_.size())) ReserveValues(std::max<size_t>(4, 2 * values_.size()));
  uint32_t& place = places_.Slot(name, [this](size_t i) { return NameAt(i); });
  if (place == 0) {
    const size_t added = AddValue(name, type, data, differs);
    place = static_cast<uint32_t>(added + 1);
    indexed_ = values_.size();  // the new value is indexed with its slot
    return added;
  }
  RegistryValue& value = values_[place - 1];
  if (value.type != type || value.data != data) {
    char* bytes = bytes_.Take(data.size());
    std::copy(data.begin(), data.end(), bytes);
    value.changed = true;
    value.type = type;
    value.data = std::string_view(bytes, data.size());
  }
  return place - 1;
}

bool SplitKeyPath(std::string_view path, std::vector<std::string_view>* names) {
  names->clear();
  size_t start = 0;
  while (start < path.size()) {
    size_t end = std::min(path.find('\\', start), path.size());
    std::string_view name = path.substr(start, end - start);
    if (name.empty() || name.size() > kMaxKeyName) return false;
    names->push_back(name);
    start = end + 1;
  }
  return true;
}
