#include "file_store.h"

#include <algorithm>
#include <tuple>
#include <utility>

#include "regedit_text.h"

namespace {

bool HasLineBreak(std::string_view name) {
  return name.find_first_of("\r\n") != std::string_view::npos;
}

}  // namespace

FileStore::FileStore(std::string path) : file_(std::move(path)) {}

LONG FileStore::Prepare() {
  if (state_ == -1) state_ = Load();
  return state_;
}

LONG FileStore::Load() {
  if (!opened_) {
    bool missing = false;
    if (!file_.Open(&text_, &missing)) return ERROR_BADDB;
    opened_ = true;
    if (missing) text_ = "REGEDIT4\r\n\r\n";
    if (IsUnicodeStore(text_)) {
      if (!ConvertUnicodeStore(text_, &converted_)) return ERROR_BADDB;
      text_ = converted_;
    }
  }
  Reset();
  places_.clear();
  if (!ScanRegeditFile(text_, &sections_)) return ERROR_BADDB;
  if (!file_.Unchanged()) return ERROR_BADDB;  // another program wrote it while it was read
  for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER}) {
    Place place{*tree().Root(root), 0, {}, false, 0, {}};
    for (size_t i = 0; i < sections_.size(); ++i) {
      if (sections_[i].root == root) place.subtree.push_back(i);
    }
    places_.emplace(place.key.get(), std::move(place));
  }
  return ERROR_SUCCESS;
}

std::shared_ptr<RegistryKey> FileStore::FindChild(const std::shared_ptr<RegistryKey>& key,
                                                  std::string_view name) {
  std::shared_ptr<RegistryKey> child = key->FindChild(name);
  auto found = places_.find(key.get());
  if (child || found == places_.end()) return child;
  // The sections at or below the child are those below the key whose next name is `name`.
  size_t prefix = found->second.path_size == 0 ? 0 : found->second.path_size + 1;
  Place place{nullptr, prefix + name.size(), {}, false, 0, {}};
  for (size_t i : found->second.subtree) {
    std::string_view path = sections_[i].path;
    if (!sections_[i].removed && path.size() >= place.path_size &&
        (path.size() == place.path_size || path[place.path_size] == '\\') &&
        NamesEqual(path.substr(prefix, name.size()), name)) {
      place.subtree.push_back(i);
    }
  }
  if (place.subtree.empty()) return nullptr;
  bool created = false;
  child = key->AddChild(sections_[place.subtree[0]].path.substr(prefix, name.size()), &created);
  place.key = child;
  places_.emplace(child.get(), std::move(place));
  return child;
}

LONG FileStore::FillValues(RegistryKey* key) {
  auto found = places_.find(key);
  if (found == places_.end() || found->second.filled) return ERROR_SUCCESS;
  Place& place = found->second;
  for (size_t i : place.subtree) {
    if (sections_[i].path.size() != place.path_size) continue;
    place.append_at = text_.find('\n', sections_[i].begin) + 1;
    std::string_view value;
    for (size_t pos = sections_[i].begin; NextRegeditValue(text_, sections_[i], &pos, &value);) {
      if (!ParseRegeditValue(value, false, &name_, &type_, &data_)) return state_ = ERROR_BADDB;
      size_t at = key->SetValue(name_, type_, data_);
      place.lines.resize(std::max(place.lines.size(), at + 1));
      place.lines[at] = value;
      place.append_at = pos;
    }
  }
  place.filled = true;
  return ERROR_SUCCESS;
}

LONG FileStore::Removing(const std::shared_ptr<RegistryKey>& key) {
  auto found = places_.find(key.get());
  if (found == places_.end()) return ERROR_SUCCESS;
  // What a run takes out of the file must be a store's text as much as what it writes.
  for (size_t i : found->second.subtree) {
    std::string_view value;
    for (size_t pos = sections_[i].begin; NextRegeditValue(text_, sections_[i], &pos, &value);) {
      if (!ParseRegeditValue(value, false, &name_, &type_, &data_)) return state_ = ERROR_BADDB;
    }
  }
  for (size_t i : found->second.subtree) sections_[i].removed = true;
  return ERROR_SUCCESS;
}

bool FileStore::Collect(const std::shared_ptr<RegistryKey>& key, const std::string& path,
                        size_t depth, size_t anchor, std::vector<Edit>* edits, bool* writable) {
  size_t order = visits_++;
  auto found = places_.find(key.get());
  const Place* place = found == places_.end() ? nullptr : &found->second;
  const StoreSection* own = nullptr;  // the key's last section
  bool shown = depth == 0;            // a root always is
  if (place != nullptr) {
    for (size_t i : place->subtree) {
      if (sections_[i].removed) continue;
      shown = true;
      if (sections_[i].path.size() == place->path_size) own = &sections_[i];
    }
    if (!place->subtree.empty()) anchor = sections_[place->subtree.back()].end;
  }
  for (const auto& [name, child] : key->children()) {
    shown |= Collect(child, path + "\\" + child->name(), depth + 1, anchor, edits, writable);
  }

  std::string added;  // the values that have no line yet
  for (size_t i = 0; i < key->values().size(); ++i) {
    const RegistryValue& value = key->values()[i];
    if (place == nullptr || i >= place->lines.size()) {
      *writable &= !HasLineBreak(value.name);
      AppendRegeditValue(&added, value.name, value.type, value.data);
      continue;
    }
    std::string_view line = place->lines[i];
    ParseRegeditValue(line, false, &name_, &type_, &data_);
    if (type_ == value.type && data_ == value.data) continue;
    size_t begin = static_cast<size_t>(line.data() - text_.data());
    edits->push_back(Edit{begin, begin + line.size(), 0, order, {}});
    AppendRegeditValue(&edits->back().text, value.name, value.type, value.data);
  }
  if (own != nullptr) {
    if (!added.empty()) edits->push_back(Edit{place->append_at, place->append_at, 0, order, added});
    return true;
  }
  if (added.empty() && shown) return true;
  // A section of its own: for values, or for a key that nothing else in the text would show.
  *writable &= !HasLineBreak(path) && depth <= kMaxKeyDepth;
  size_t at = place != nullptr && !place->subtree.empty() ? sections_[place->subtree.front()].begin
                                                          : anchor;
  edits->push_back(Edit{at, at, 1, order, "[" + path + "]\r\n" + added + "\r\n"});
  return true;
}

LONG FileStore::Commit() {
  if (state_ != ERROR_SUCCESS) return state_ == -1 ? ERROR_SUCCESS : state_;
  std::vector<Edit> edits;
  for (const StoreSection& section : sections_) {
    if (section.removed) edits.push_back(Edit{section.begin, section.end, 0, 0, {}});
  }
  bool writable = true;
  visits_ = 0;
  for (const std::shared_ptr<RegistryKey>& root : {tree().classes_root, tree().current_user}) {
    Collect(root, root->name(), 0, text_.size(), &edits, &writable);
  }
  if (!writable) return ERROR_CANTWRITE;
  if (edits.empty()) return ERROR_SUCCESS;
  std::sort(edits.begin(), edits.end(), [](const Edit& a, const Edit& b) {
    return std::tie(a.begin, a.end, a.rank, a.order) < std::tie(b.begin, b.end, b.rank, b.order);
  });
  std::vector<std::string_view> pieces;
  size_t copied = 0;  // the text before this is in the pieces
  for (const Edit& edit : edits) {
    pieces.push_back(text_.substr(copied, edit.begin - copied));
    pieces.push_back(edit.text);
    copied = edit.end;
  }
  pieces.push_back(text_.substr(copied));
  // A failed write keeps the run's registry, so that a later Commit writes it again.
  if (!file_.Replace(std::move(pieces))) return ERROR_CANTWRITE;
  opened_ = false;  // the next operation starts again from the file just written
  state_ = -1;
  return ERROR_SUCCESS;
}
