// The store's rules. Reading: the first operation maps the file (missing, empty or header-only:
// an empty registry; UTF-16: narrowed to a byte a code unit) and checks the header, that there is
// no NUL, and where each key line starts a section; a key's values are read only when the run
// reaches the key, a deleted key's whole subtree too. Text this reader cannot give regedit's
// meaning there, or a value beyond 8 bits, fails every later operation and nothing is written.
// Editing: untouched text is copied byte for byte; a changed value replaces its last line,
// keeping its line end; a new value follows its key's last value; a deleted key loses every
// section of its subtree; a key gets a section only when the registry would lose it otherwise,
// after its nearest existing ancestor's subtree (a lost key's where its first section was),
// values before sections, parents first; new lines end as the line before them. Writing: Commit
// turns the edits into pieces, refusing any that overlap, and the LockedFile replaces the store
// with them; nothing changed, nothing written. One FileStore serves one run, up to its Commit.
#include "file_store.h"

#include <algorithm>
#include <utility>

#include "regedit_value_text.h"
#include "utf16_text.h"

namespace {

bool HasLineBreak(std::string_view name) {
  return name.find_first_of("\r\n") != std::string_view::npos;
}

// The line end that closes text[begin, end), the lines of a value; empty for the last line of a
// text that ends without one.
std::string_view FinalLineEnd(std::string_view text, size_t begin, size_t end) {
  if (end == begin || (text[end - 1] != '\n' && text[end - 1] != '\r')) return {};
  return end - begin >= 2 && text.substr(end - 2, 2) == "\r\n" ? text.substr(end - 2, 2)
                                                               : text.substr(end - 1, 1);
}

}  // namespace

FileStore::FileStore(std::string path) : file_(std::move(path)) {}

LONG FileStore::Unreadable() {
  Fail(ERROR_BADDB);
  return ERROR_BADDB;
}

LONG FileStore::Load() {
  bool missing = false;
  if (!file_.Open(&bytes_, &missing)) return ERROR_BADDB;
  if (missing || bytes_.empty()) bytes_ = "REGEDIT4\r\n\r\n";
  text_ = bytes_;
  unicode_ = IsUnicodeStore(bytes_);
  if (unicode_) {
    if (!NarrowUnicodeStore(bytes_, &narrowed_, &wide_, &units_)) return ERROR_BADDB;
    text_ = narrowed_;
  }
  if (!ScanRegeditFile(text_, &sections_, &paths_)) return ERROR_BADDB;
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

std::shared_ptr<RegistryKey> FileStore::LoadChild(const std::shared_ptr<RegistryKey>& key,
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
        NamesEqual(path.substr(prefix, name.size()), name) &&
        (wide_.empty() || !HoldsWide(wide_, text_, path.substr(prefix, name.size())))) {
      place.subtree.push_back(i);
    }
  }
  if (place.subtree.empty()) return nullptr;
  for (size_t i : place.subtree) {
    // A key line that hex data before it may take: regedit may not see this key at all.
    if (sections_[i].path.size() == place.path_size && ContinuedAcross(text_, sections_, i)) {
      Fail(ERROR_BADDB);
    }
  }
  bool created = false;
  child = key->AddChild(sections_[place.subtree[0]].path.substr(prefix, name.size()), &created);
  place.key = child;
  places_.emplace(child.get(), std::move(place));
  return child;
}

LONG FileStore::LoadValues(RegistryKey* key) {
  auto found = places_.find(key);
  if (found == places_.end() || found->second.filled) return ERROR_SUCCESS;
  Place& place = found->second;
  for (size_t i : place.subtree) {
    const StoreSection& section = sections_[i];
    if (section.path.size() != place.path_size) continue;
    if (ContinuedAcross(text_, sections_, i)) return Unreadable();
    RegeditValue value;
    size_t pos = section.begin;
    ReadRegeditItem(text_, section.end, wide(), &pos, &value);  // the key's line
    place.append_at = pos;
    for (RegeditItem item;
         (item = NextRegeditValue(text_, section, wide(), &pos, &value)) != RegeditItem::kEnd;) {
      if (item != RegeditItem::kValue) return Unreadable();
      size_t at = key->SetValue(value.name, value.type, value.data);
      place.lines.resize(std::max(place.lines.size(), at + 1));
      place.lines[at] = Lines{value.begin, value.end};
      place.append_at = pos;
    }
  }
  place.filled = true;
  return ERROR_SUCCESS;
}

LONG FileStore::CheckRemoval(const std::shared_ptr<RegistryKey>& key) {
  auto found = places_.find(key.get());
  if (found == places_.end()) return ERROR_SUCCESS;
  // What a run takes out of the file must be a store's text as much as what it writes; it need
  // not be 8-bit text.
  for (size_t i : found->second.subtree) {
    if (ContinuedAcross(text_, sections_, i)) return Unreadable();
    RegeditValue value;
    for (size_t pos = sections_[i].begin;;) {
      RegeditItem item = NextRegeditValue(text_, sections_[i], wide(), &pos, &value);
      if (item == RegeditItem::kEnd) break;
      if (item != RegeditItem::kValue && item != RegeditItem::kWide) return Unreadable();
    }
  }
  for (size_t i : found->second.subtree) sections_[i].removed = true;
  return ERROR_SUCCESS;
}

bool FileStore::Collect(const std::shared_ptr<RegistryKey>& key, const std::string& path,
                        size_t depth, size_t anchor, std::vector<TextEdit>* edits, bool* writable) {
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

  std::vector<const RegistryValue*> added;  // the values that have no line yet
  RegeditValue old;
  for (size_t i = 0; i < key->values().size(); ++i) {
    const RegistryValue& value = key->values()[i];
    if (place == nullptr || i >= place->lines.size()) {
      added.push_back(&value);
      continue;
    }
    // A changed value takes the place of its line, which keeps its line end.
    Lines lines = place->lines[i];
    size_t pos = lines.begin;
    ReadRegeditItem(text_, lines.end, wide(), &pos, &old);
    if (old.type == value.type && old.data == value.data) continue;
    *writable &= !HasLineBreak(value.name);
    std::string_view line_end = FinalLineEnd(text_, lines.begin, lines.end);
    std::string text;
    AppendRegeditValue(&text, value.name, value.type, value.data,
                       line_end.empty() ? LineEndBefore(text_, lines.begin) : line_end, unicode_);
    if (line_end.empty()) text.resize(text.find_last_not_of("\r\n") + 1);
    edits->push_back(TextEdit{lines.begin, lines.end, 0, order, std::move(text)});
  }
  if (own == nullptr && added.empty() && shown) return true;
  // New lines: after the last value of the key's last section, or in a section of its own, for
  // values or for a key that nothing else in the text would show. They end as the line before.
  size_t at = own != nullptr ? place->append_at
              : place != nullptr && !place->subtree.empty()
                  ? sections_[place->subtree.front()].begin
                  : anchor;
  std::string_view line_end = LineEndBefore(text_, at);
  std::string text;
  if (own == nullptr) {
    *writable &= !HasLineBreak(path) && depth <= kMaxKeyDepth;
    text.append("[").append(path).append("]").append(line_end);
  }
  for (const RegistryValue* value : added) {
    *writable &= !HasLineBreak(value->name);
    AppendRegeditValue(&text, value->name, value->type, value->data, line_end, unicode_);
  }
  if (own == nullptr) text.append(line_end);
  if (!text.empty()) edits->push_back(TextEdit{at, at, own == nullptr ? 1 : 0, order, text});
  return true;
}

LONG FileStore::Commit() {
  if (!status()) return ERROR_SUCCESS;  // no operation: nothing read, nothing to write
  if (*status() != ERROR_SUCCESS) return *status();
  std::vector<TextEdit> edits;
  for (const StoreSection& section : sections_) {
    if (section.removed) edits.push_back(TextEdit{section.begin, section.end, 0, 0, {}});
  }
  bool writable = true;
  visits_ = 0;
  for (const std::shared_ptr<RegistryKey>& root : {tree().classes_root, tree().current_user}) {
    Collect(root, root->name(), 0, text_.size(), &edits, &writable);
  }
  if (!writable) return ERROR_CANTWRITE;
  std::vector<std::string_view> pieces;
  std::string widened;
  if (!edits.empty()) {
    if (!EditPieces(text_, &edits, &pieces)) return ERROR_CANTWRITE;
    if (unicode_) {
      WidenPieces(text_, units_, &pieces, &widened);
      pieces.insert(pieces.begin(), bytes_.substr(0, bytes_.size() - units_.size()));
    }
  }
  // The run is over either way: a failed write leaves the file as it was.
  bool written = edits.empty() || file_.Replace(std::move(pieces));
  Fail(written ? ERROR_INVALID_HANDLE : ERROR_CANTWRITE);
  return written ? ERROR_SUCCESS : ERROR_CANTWRITE;
}
