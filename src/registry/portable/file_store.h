// The registry of the native program: the user's .reg file, edited where a run changes it.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "locked_file.h"
#include "name_index.h"
#include "regedit_reader.h"
#include "text_edits.h"
#include "tree_store.h"
#include "utf16_text.h"

// One run over the user's .reg text in a LockedFile (REGEDIT4 or UTF-16), edited in place: the
// rules of reading, editing and writing open file_store.cpp; what the user sees, docs/store.md.
class FileStore : public TreeStore {
 public:
  explicit FileStore(std::string path);

  // Writes this run's changes, if it made any; handles open until then are not used again.
  // ERROR_SUCCESS also when there was nothing to write. ERROR_CANTWRITE when a name cannot be
  // written (a line break, a key deeper than 512) or the write failed: the file stays as it was.
  // A Commit that writes, or fails to, ends the run: every later operation fails.
  LONG Commit();
  // Why the store's file could not be read or written; FileError::kNone while it could.
  const FileStatus& file_status() const { return file_status_; }

 protected:
  LONG Load() override;
  std::shared_ptr<RegistryKey> LoadChild(const std::shared_ptr<RegistryKey>& key,
                                         std::string_view name) override;
  LONG FindStoredValue(RegistryKey* key, std::string_view name, bool* found, DWORD* type,
                       std::string_view* data) override;
  LONG StoreValue(RegistryKey* key, std::string_view name, DWORD type,
                  std::string_view data) override;
  LONG CheckRemoval(const std::shared_ptr<RegistryKey>& key) override;

 private:
  // A value line of a key's own sections: text[begin, begin + size), its line ends included.
  struct ValueLine {
    std::string_view name() const { return std::string_view(name_at, name_size); }
    size_t end() const { return begin + size; }

    size_t begin;
    const char* name_at;  // in the text, or in read_ for a value read whole when found
    uint32_t size;        // a longer line is not read
    uint16_t name_size;   // a line's name has at most kMaxValueName bytes
    uint16_t tag;         // NameTag of its name
    uint32_t place;       // the value's place in its key plus one, once the run set it
    int32_t read;         // where read_ holds it, for a line in no written form; -1 otherwise
    DWORD type;           // the value's type and size, known before its data is read
    DWORD data_size;
  };
  // What the text holds of a key the run has reached.
  struct KeySections {
    std::shared_ptr<RegistryKey> key;  // kept, so that no other key takes its address
    size_t path_size;                  // of the key's path below its root
    std::vector<size_t> subtree;       // its sections and those below it, in the text's order
    bool values_found;                 // its value lines have been found
    bool values_reserved;              // the key has made room for the values the text gives it
    size_t append_at;                  // then: just past the last value of its last section
    size_t last_value;                 // where that value starts; npos when it has none
    std::vector<ValueLine> values;     // its value lines, in the text's order
    size_t lookups;                    // of a name among them, until they are indexed
    NameIndex names;                   // of `values`, the last line of each name, once indexed
  };

  // What the store holds of `key`, or null for a key the text does not hold.
  KeySections* Held(const RegistryKey* key);
  // Finds the value lines of the key's own sections and checks that each is readable: a value's
  // data is read only when the run asks for it, but a key the run reads must be read whole.
  LONG FindValues(KeySections* held);
  // The line that gives the value `name` of `key` its data, or null; the key's value lines are
  // found the first time. A key's first few lookups go through its lines, and the others
  // through an index of their names made then: most keys a run reads are asked for a value or
  // two, a basket list being converted for every one.
  LONG FindLine(RegistryKey* key, std::string_view name, ValueLine** line);
  // The last line of each name in the index, which gets the spelling of the first.
  void IndexNames(KeySections* held);
  // What a name's first and last bytes are without regard to case: the same for the same name,
  // and told from a line's without reading the text.
  static uint16_t NameTag(std::string_view name) {
    return name.empty() ? 0 : NameLess::Fold(name.front()) << 8 | NameLess::Fold(name.back());
  }
  // The data of the value that `line` gives, valid until the next line is read.
  std::string_view ReadLine(const ValueLine& line);
  // Fails this operation and every later one: the run needs text this reader cannot read.
  LONG FailUnreadable();
  // Where lines added at `at` go so that regedit reads them as they are written: `at`, or, when
  // hex data continued from the lines before would take them, before that data's value (`value`)
  // or section. npos when there is no such place.
  size_t PlaceForLines(size_t at, size_t value) const;
  // Whether a `[-...]` section deletes the key at `path` (root name first) or one above it:
  // regedit applies it where it stands, which this reader does not.
  bool DeletedByText(std::string_view path) const;
  // The edits a Commit makes, the text they write, and whether every name in it can be written.
  struct EditPlan {
    std::vector<TextEdit> edits;
    std::string text;
    bool writable = true;
  };
  // Adds the edits that make the text show `key` and the keys below it as the tree holds them;
  // `path` is its key line's text and `anchor` where a new section goes when the key has none.
  // Returns whether the text shows the key afterwards.
  bool PlanEdits(const std::shared_ptr<RegistryKey>& key, const std::string& path, size_t depth,
                 size_t anchor, EditPlan* plan);

  LockedFile file_;
  FileStatus file_status_;
  StoreText text_;  // the file's text as the reader reads it
  std::vector<StoreSection> sections_;
  std::vector<std::string> deleted_;  // the keys `[-...]` sections delete, root name first
  size_t reach_ = 0;                  // the furthest the run read, changed or added
  std::deque<std::string> paths_;     // key paths the text spells with doubled backslashes
  std::map<const RegistryKey*, KeySections> keys_;
  // The key Held asked for last, and its answer: a run works on one key at a time.
  const RegistryKey* last_key_ = nullptr;
  KeySections* last_held_ = nullptr;
  std::deque<RegeditValue> read_;  // values read whole when their lines were found
  std::vector<char> scratch_;      // where ReadLine reads a value's data from its line
  size_t edit_order_ = 0;          // of the next key PlanEdits visits: parents first, then by name
};
