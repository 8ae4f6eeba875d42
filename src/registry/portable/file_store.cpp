// The store's rules. Reading: the first operation maps the file (missing, empty or header-only:
// an empty registry; UTF-16: narrowed to a byte a code unit) and checks the header, that there is
// no NUL, and where each key line starts a section; a key's value lines are checked and found
// by name only when the run reaches the key, a deleted key's whole subtree too, and a value's data
// is read when the run asks for that value. Text this reader cannot give regedit's meaning there,
// or a value beyond 8 bits, fails every later operation and nothing is written.
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

#include "regedit_lines.h"
#include "regedit_writer.h"

namespace {

// How many of a key's values a run sets before the key makes room for all the text gives it.
constexpr size_t kFewValues = 16;
// How many times a run looks for a name among a key's lines before it indexes them.
constexpr size_t kFewLookups = 4;

}  // namespace

FileStore::FileStore(std::string path) : file_(std::move(path)) {}

LONG FileStore::FailUnreadable() {
  Fail(ERROR_BADDB);
  return ERROR_BADDB;
}

bool FileStore::DeletedByText(std::string_view path) const {
  return std::any_of(deleted_.begin(), deleted_.end(), [path](const std::string& deleted) {
    return path.size() >= deleted.size() && NamesEqual(path.substr(0, deleted.size()), deleted) &&
           (path.size() == deleted.size() || path[deleted.size()] == '\\');
  });
}

size_t FileStore::PlaceForLines(size_t at, size_t value) const {
  if (MayContinueInto(text_.text(), at)) {
    // Before the continued value, or before the section it ends.
    if (value == std::string_view::npos) {
      auto after =
          std::upper_bound(sections_.begin(), sections_.end(), at - 1,
                           [](size_t pos, const StoreSection& s) { return pos < s.begin; });
      value = after == sections_.begin() ? 0 : std::prev(after)->begin;
    }
    at = value;
    if (at == 0 || MayContinueInto(text_.text(), at)) return std::string_view::npos;
  }
  return at;
}

LONG FileStore::Load() {
  bool missing = false;
  std::string_view bytes;
  file_status_ = file_.Open(&bytes, &missing);
  if (file_status_.failed()) return ERROR_BADDB;
  if (missing || bytes.empty()) bytes = kNewStore;
  if (!text_.Read(bytes, [this](std::string_view read) { file_.LetGo(read); }) ||
      !ScanRegeditFile(text_.text(), &sections_, &paths_)) {
    return ERROR_BADDB;
  }
  for (const StoreSection& section : sections_) {
    if (section.deletes != nullptr) {
      deleted_.push_back((*tree().Root(section.deletes))->name() + "\\" +
                         std::string(section.path));
    }
  }
  if (!file_.Unchanged()) return ERROR_BADDB;  // another program wrote it while it was read
  for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER}) {
    KeySections key{*tree().Root(root), 0, {}, false, false, 0, std::string_view::npos, {}, 0, {}};
    for (size_t i = 0; i < sections_.size(); ++i) {
      if (sections_[i].root == root) key.subtree.push_back(i);
    }
    keys_.emplace(key.key.get(), std::move(key));
  }
  return ERROR_SUCCESS;
}

std::shared_ptr<RegistryKey> FileStore::LoadChild(const std::shared_ptr<RegistryKey>& key,
                                                  std::string_view name) {
  std::shared_ptr<RegistryKey> child = key->FindChild(name);
  auto found = keys_.find(key.get());
  if (child || found == keys_.end()) return child;
  // The sections at or below the child are those below the key whose next name is `name` (never
  // one beyond 8 bits: no name the program asks for holds kHighUnit).
  size_t prefix = found->second.path_size == 0 ? 0 : found->second.path_size + 1;
  KeySections held{nullptr, prefix + name.size(),   {}, false, false,
                   0,       std::string_view::npos, {}, 0,     {}};
  for (size_t i : found->second.subtree) {
    std::string_view path = sections_[i].path;
    if (!sections_[i].removed && path.size() >= held.path_size &&
        (path.size() == held.path_size || path[held.path_size] == '\\') &&
        NamesEqual(path.substr(prefix, name.size()), name)) {
      held.subtree.push_back(i);
    }
  }
  if (held.subtree.empty()) return nullptr;
  for (size_t i : held.subtree) {
    // A key line that hex data before it may take: regedit may not see this key at all.
    if (sections_[i].path.size() == held.path_size && ContinuedAcross(text_.text(), sections_, i)) {
      Fail(ERROR_BADDB);
    }
    reach_ = std::max(reach_, sections_[i].begin);
  }
  bool created = false;
  child = key->AddChild(sections_[held.subtree[0]].path.substr(prefix, name.size()), &created);
  held.key = child;
  keys_.emplace(child.get(), std::move(held));
  last_key_ = nullptr;  // Held may have said of a key at that address that the text had none
  return child;
}

FileStore::KeySections* FileStore::Held(const RegistryKey* key) {
  if (key != last_key_) {
    auto found = keys_.find(key);
    last_key_ = key;
    last_held_ = found == keys_.end() ? nullptr : &found->second;
  }
  return last_held_;
}

LONG FileStore::FindValues(KeySections* held) {
  const std::string_view text = text_.text();
  // Room for lines of sixteen bytes or more: a larger vector costs only address space, a regrown
  // one copies and touches it twice.
  size_t room = 0;
  for (size_t i : held->subtree) {
    if (sections_[i].path.size() == held->path_size)
      room += (sections_[i].end - sections_[i].begin) / 16;
  }
  held->values.reserve(room);
  for (size_t i : held->subtree) {
    const StoreSection& section = sections_[i];
    if (section.path.size() != held->path_size || section.refused) continue;
    if (ContinuedAcross(text, sections_, i)) return FailUnreadable();
    RegeditValue value;
    size_t pos = section.begin;
    ReadRegeditItem(text, section.end, text_.utf16(), &pos, &value);  // the key's line
    held->append_at = pos;
    held->last_value = std::string_view::npos;
    while (pos < section.end) {
      size_t end = 0;
      std::string_view name;
      ValueLine line{pos, nullptr, 0, 0, 0, 0, -1, 0, 0};
      if (WrittenValue written; FindWrittenValue(text, pos, &written)) {
        end = written.end;
        name = written.name;
        line.type = written.type;
        line.data_size = static_cast<DWORD>(written.size);
      } else {
        const RegeditItem item = ReadRegeditItem(text, section.end, text_.utf16(), &pos, &value);
        if (item == RegeditItem::kSkipped) continue;
        // A value deletion makes what regedit reads of the key depend on the order of its lines.
        if (item != RegeditItem::kValue) return FailUnreadable();
        line.begin = value.begin;
        end = value.end;
        line.read = static_cast<int32_t>(read_.size());
        line.type = value.type;
        line.data_size = static_cast<DWORD>(value.data.size());
        name = read_.emplace_back(std::move(value)).name;
      }
      if (end - line.begin > UINT32_MAX) return FailUnreadable();
      line.size = static_cast<uint32_t>(end - line.begin);
      line.name_at = name.data();
      line.name_size = static_cast<uint16_t>(name.size());
      line.tag = NameTag(name);
      pos = end;
      reach_ = std::max(reach_, line.begin);
      held->append_at = pos;
      held->last_value = line.begin;
      held->values.push_back(line);
    }
  }
  held->values_found = true;
  return ERROR_SUCCESS;
}

LONG FileStore::FindLine(RegistryKey* key, std::string_view name, ValueLine** line) {
  *line = nullptr;
  KeySections* held = Held(key);
  if (held == nullptr) return ERROR_SUCCESS;
  if (!held->values_found) {
    if (LONG status = FindValues(held); status != ERROR_SUCCESS) return status;
  }
  std::vector<ValueLine>& lines = held->values;
  if (held->lookups < kFewLookups) {
    ++held->lookups;
    // A later line of a name gives the value its data, and the first its spelling.
    const uint16_t tag = NameTag(name);
    const auto named = [name, tag](const ValueLine& l) {
      return l.tag == tag && l.name_size == name.size() && NamesEqual(l.name(), name);
    };
    auto last = std::find_if(lines.rbegin(), lines.rend(), named);
    if (last == lines.rend()) return ERROR_SUCCESS;
    *line = &*last;
    (*line)->name_at = std::find_if(lines.begin(), lines.end(), named)->name_at;
    return ERROR_SUCCESS;
  }
  if (held->lookups == kFewLookups) {
    ++held->lookups;
    IndexNames(held);
  }
  const ptrdiff_t found = held->names.Find(name, [&lines](size_t i) { return lines[i].name(); });
  if (found >= 0) *line = &lines[static_cast<size_t>(found)];
  return ERROR_SUCCESS;
}

void FileStore::IndexNames(KeySections* held) {
  std::vector<ValueLine>& lines = held->values;
  const auto name_at = [&lines](size_t i) { return lines[i].name(); };
  held->names.Reserve(lines.size(), 0, name_at);
  for (size_t i = 0; i < lines.size(); ++i) {
    uint32_t& last = held->names.Slot(lines[i].name(), name_at);
    if (last != 0) lines[i].name_at = lines[last - 1].name_at;
    last = static_cast<uint32_t>(i + 1);
  }
}

std::string_view FileStore::ReadLine(const ValueLine& line) {
  if (line.read >= 0) return read_[static_cast<size_t>(line.read)].data;
  if (scratch_.size() < line.data_size + kReadSlack)
    scratch_.resize(2 * line.data_size + kReadSlack);
  WrittenValue written;
  FindWrittenValue(text_.text(), line.begin, &written, scratch_.data());
  return std::string_view(scratch_.data(), line.data_size);
}

LONG FileStore::FindStoredValue(RegistryKey* key, std::string_view name, bool* found, DWORD* type,
                                std::string_view* data) {
  // Read where it stands, but once the run has set it: the key takes in only the values the run
  // sets, and the line then gives its place there.
  ValueLine* line = nullptr;
  if (LONG status = FindLine(key, name, &line); status != ERROR_SUCCESS) return status;
  *found = line != nullptr;
  if (line != nullptr && line->place != 0) {
    const RegistryValue& value = key->values()[line->place - 1];
    *type = value.type;
    *data = value.data;
  } else if (line != nullptr) {
    *type = line->type;
    *data = ReadLine(*line);
  }
  return ERROR_SUCCESS;
}

LONG FileStore::StoreValue(RegistryKey* key, std::string_view name, DWORD type,
                           std::string_view data) {
  ValueLine* line = nullptr;
  if (LONG status = FindLine(key, name, &line); status != ERROR_SUCCESS) return status;
  // Once the run has set a few of the key's values, room for all the text gives it and half as
  // many again of its own (as a basket list grows): growing a step at a time would move and hash
  // them all at each step. A run that sets only a few values of a large key makes no room for the
  // rest.
  if (KeySections* held = Held(key);
      held != nullptr && !held->values_reserved && key->values().size() >= kFewValues) {
    key->ReserveValues(key->values().size() + held->values.size() * 3 / 2);
    held->values_reserved = true;
  }
  if (line == nullptr || line->place != 0) {
    key->SetValue(name, type, data);
    return ERROR_SUCCESS;
  }
  // The line's data is read only when the new value may be the same. The value keeps the
  // spelling of its first line.
  const bool differs =
      type != line->type || data.size() != line->data_size || ReadLine(*line) != data;
  // The key holds no value of that name yet: the line would give its place otherwise.
  line->place = static_cast<uint32_t>(key->AddValue(line->name(), type, data, differs) + 1);
  return ERROR_SUCCESS;
}

LONG FileStore::CheckRemoval(const std::shared_ptr<RegistryKey>& key) {
  auto found = keys_.find(key.get());
  if (found == keys_.end()) return ERROR_SUCCESS;
  // What a run takes out of the file must be a store's text as much as what it writes; it need
  // not be 8-bit text.
  const StoreSection& first = sections_[found->second.subtree.front()];
  if (DeletedByText((*tree().Root(first.root))->name() + "\\" +
                    std::string(first.path.substr(0, found->second.path_size)))) {
    return FailUnreadable();
  }
  for (size_t i : found->second.subtree) {
    if (ContinuedAcross(text_.text(), sections_, i)) return FailUnreadable();
    // Taking out text where regedit stops would show it what follows.
    reach_ = std::max(reach_, sections_[i].end);
    RegeditValue value;
    for (size_t pos = sections_[i].begin; pos < sections_[i].end;) {
      // A line in a written form is readable; its value need not be read.
      if (WrittenValue written; FindWrittenValue(text_.text(), pos, &written)) {
        pos = written.end;
        continue;
      }
      const RegeditItem item =
          ReadRegeditItem(text_.text(), sections_[i].end, text_.utf16(), &pos, &value);
      if (item == RegeditItem::kUnreadable || item == RegeditItem::kDeletion) {
        return FailUnreadable();
      }
    }
  }
  for (size_t i : found->second.subtree) sections_[i].removed = true;
  return ERROR_SUCCESS;
}

bool FileStore::PlanEdits(const std::shared_ptr<RegistryKey>& key, const std::string& path,
                          size_t depth, size_t anchor, EditPlan* plan) {
  const size_t order = edit_order_++;
  const std::string_view text = text_.text();
  plan->writable &= !DeletedByText(path);
  auto found = keys_.find(key.get());
  const KeySections* held = found == keys_.end() ? nullptr : &found->second;
  const StoreSection* own = nullptr;  // the key's last section
  bool shown = depth == 0;            // a root always is
  if (held != nullptr) {
    for (size_t i : held->subtree) {
      if (sections_[i].removed) continue;
      shown = true;
      if (sections_[i].path.size() == held->path_size && !sections_[i].refused) {
        own = &sections_[i];
      }
    }
    if (!held->subtree.empty()) anchor = sections_[held->subtree.back()].end;
  }
  for (const auto& [name, child] : key->children()) {
    shown |= PlanEdits(child, path + "\\" + child->name(), depth + 1, anchor, plan);
  }

  // Room for the lines of every value the run set (a text's or a number's, at most), so that the
  // text grows once rather than a step at a time, with a copy at each.
  size_t room = plan->text.size();
  for (const RegistryValue& value : key->values()) {
    room += 2 * (value.name.size() + value.data.size()) + 16;
  }
  plan->text.reserve(room);
  // A changed value takes the place of its lines, and keeps the line end of its last; the lines
  // in the text's order, so that the edits come in order.
  std::vector<bool> has_lines(key->values().size(), false);
  if (held != nullptr) {
    for (const ValueLine& line : held->values) {
      if (line.place == 0) continue;
      has_lines[line.place - 1] = true;
      const RegistryValue& value = key->values()[line.place - 1];
      if (!value.changed) continue;
      const std::string_view own_end = LineEndAtEnd(text.substr(0, line.end()));
      const size_t from = plan->text.size();
      plan->writable &= AppendRegeditValue(
          &plan->text, value.name, value.type, value.data,
          own_end.empty() ? LineEndBefore(text, line.begin) : own_end, text_.utf16(), own_end);
      // A line just after the last one changed joins its edit, unless lines may be added between
      // them (before the key's last value, PlaceForLines).
      TextEdit* run = plan->edits.empty() ? nullptr : &plan->edits.back();
      if (run != nullptr && run->order == order && run->end == line.begin &&
          run->text_end == from && line.begin != held->last_value) {
        run->end = line.end();
        run->text_end = plan->text.size();
      } else {
        plan->edits.push_back(
            {line.begin, line.end(), TextEdit::kLines, order, from, plan->text.size()});
      }
    }
  }
  std::vector<const RegistryValue*> added;  // the values that have no line yet
  for (size_t i = 0; i < key->values().size(); ++i) {
    if (!has_lines[i]) added.push_back(&key->values()[i]);
  }
  if (own == nullptr && added.empty() && shown) return true;
  // New lines: after the last value of the key's last section, or in a section of its own, for
  // values or for a key that nothing else in the text would show. They end as the line before.
  size_t at = own != nullptr ? PlaceForLines(held->append_at, held->last_value)
              : held != nullptr && !held->subtree.empty()
                  ? PlaceForLines(sections_[held->subtree.front()].begin, std::string_view::npos)
                  : PlaceForLines(anchor, std::string_view::npos);
  if (at == std::string_view::npos) {
    plan->writable = false;
    return true;
  }
  reach_ = std::max(reach_, at);
  const std::string_view line_end = LineEndBefore(text, at);
  std::string& lines = plan->text;
  const size_t from = lines.size();
  if (own == nullptr) {
    plan->writable &= AppendKeyLine(&lines, path, line_end) && depth <= kMaxKeyDepth;
  }
  for (const RegistryValue* value : added) {
    plan->writable &= AppendRegeditValue(&lines, value->name, value->type, value->data, line_end,
                                         text_.utf16(), line_end);
  }
  if (own == nullptr) lines.append(line_end);
  const TextEdit::Kind kind = own == nullptr ? TextEdit::kSection : TextEdit::kLines;
  if (lines.size() > from) plan->edits.push_back({at, at, kind, order, from, lines.size()});
  return true;
}

LONG FileStore::Commit() {
  if (!status()) return ERROR_SUCCESS;  // no operation: nothing read, nothing to write
  if (*status() != ERROR_SUCCESS) return *status();
  EditPlan plan;
  // Room for an edit of every value read and of every section: regrowing would copy them all.
  size_t room = sections_.size() + keys_.size();
  for (const auto& [key, held] : keys_) room += held.values.size();
  plan.edits.reserve(room);
  for (const StoreSection& section : sections_) {
    if (section.removed)
      plan.edits.push_back({section.begin, section.end, TextEdit::kLines, 0, 0, 0});
  }
  edit_order_ = 0;
  for (const std::shared_ptr<RegistryKey>& root : {tree().classes_root, tree().current_user}) {
    PlanEdits(root, root->name(), 0, text_.text().size(), &plan);
  }
  std::vector<TextEdit>& edits = plan.edits;
  // A run that read or wrote past where regedit stops reading writes nothing: regedit would read
  // its result otherwise than the run did.
  if (!plan.writable ||
      (!edits.empty() && ImportStop(text_.text(), reach_, text_.utf16()) < reach_)) {
    return ERROR_CANTWRITE;
  }
  std::vector<std::string_view> pieces;
  std::deque<std::string> encoded;
  if (!edits.empty()) {
    if (!EditPieces(text_.text(), plan.text, &edits, &pieces)) return ERROR_CANTWRITE;
    text_.Encode(&pieces, &encoded);
  }
  // The run is over either way: a failed write leaves the file as it was.
  file_status_ = edits.empty() ? FileStatus{} : file_.Replace(std::move(pieces));
  Fail(file_status_.failed() ? ERROR_CANTWRITE : ERROR_INVALID_HANDLE);
  return file_status_.failed() ? ERROR_CANTWRITE : ERROR_SUCCESS;
}
