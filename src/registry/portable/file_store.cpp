#include "file_store.h"

#include <algorithm>
#include <cstring>
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
    std::string converted;
    if (missing) text_.assign("REGEDIT4\r\n\r\n");
    if (IsUnicodeStore(text_) && !ConvertUnicodeStore(text_, &converted)) return ERROR_BADDB;
    if (!converted.empty()) text_.swap(converted);
  }
  Reset();
  places_.clear();
  if (!ScanRegeditFile(text_, &sections_)) return ERROR_BADDB;
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

void FileStore::Apply(std::vector<Edit>* edits) {
  std::sort(edits->begin(), edits->end(), [](const Edit& a, const Edit& b) {
    return std::tie(a.begin, a.end, a.rank, a.order) < std::tie(b.begin, b.end, b.rank, b.order);
  });
  // The text between edits moves by what the edits before it add or take away: the pieces that
  // move back first, front to back, then those that move on, back to front, so that none is
  // overwritten before it has moved.
  size_t old_size = text_.size();
  std::vector<ptrdiff_t> shifts(1, 0);
  for (const Edit& edit : *edits) {
    shifts.push_back(shifts.back() + static_cast<ptrdiff_t>(edit.text.size()) -
                     static_cast<ptrdiff_t>(edit.end - edit.begin));
  }
  size_t new_size = static_cast<size_t>(static_cast<ptrdiff_t>(old_size) + shifts.back());
  text_.resize(std::max(old_size, new_size));
  char* text = &text_[0];
  auto move = [&](size_t piece) {
    size_t from = piece == 0 ? 0 : (*edits)[piece - 1].end;
    size_t to = piece == edits->size() ? old_size : (*edits)[piece].begin;
    std::memmove(text + from + shifts[piece], text + from, to - from);
  };
  for (size_t piece = 0; piece <= edits->size(); ++piece) {
    if (shifts[piece] < 0) move(piece);
  }
  for (size_t piece = edits->size() + 1; piece-- > 0;) {
    if (shifts[piece] > 0) move(piece);
  }
  for (size_t i = 0; i < edits->size(); ++i) {
    const Edit& edit = (*edits)[i];
    std::memcpy(text + edit.begin + shifts[i], edit.text.data(), edit.text.size());
  }
  text_.resize(new_size);
}

LONG FileStore::Commit() {
  if (state_ == ERROR_SUCCESS) {
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
    if (!edits.empty()) {
      Apply(&edits);
      pending_ = true;
      state_ = -1;  // the next operation starts again from the edited text
    }
  } else if (state_ != -1) {
    return state_;
  }
  if (pending_ && !file_.Replace(text_)) return ERROR_CANTWRITE;
  pending_ = false;
  return ERROR_SUCCESS;
}
