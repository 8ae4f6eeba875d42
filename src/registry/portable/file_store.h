// The registry of the native program: the user's .reg file, edited where a run changes it.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "locked_file.h"
#include "regedit_reader.h"
#include "text_edits.h"
#include "tree_store.h"

// One run over the user's .reg text in a LockedFile (REGEDIT4 or UTF-16), edited in place: the
// rules of reading, editing and writing open file_store.cpp; what the user sees, README.
class FileStore : public TreeStore {
 public:
  explicit FileStore(std::string path);

  // Writes this run's changes, if it made any; handles open until then are not used again.
  // ERROR_SUCCESS also when there was nothing to write. ERROR_CANTWRITE when a name cannot be
  // written (a line break, a key deeper than 512) or the write failed: the file stays as it was.
  // A Commit that writes, or fails to, ends the run: every later operation fails.
  LONG Commit();

 protected:
  LONG Load() override;
  std::shared_ptr<RegistryKey> LoadChild(const std::shared_ptr<RegistryKey>& key,
                                         std::string_view name) override;
  LONG LoadValues(RegistryKey* key) override;
  LONG CheckRemoval(const std::shared_ptr<RegistryKey>& key) override;

 private:
  // Where a value stands in the text: text_[begin, end), its line ends included.
  struct Lines {
    size_t begin;
    size_t end;
  };
  // What the text holds of a key the run has reached.
  struct Place {
    std::shared_ptr<RegistryKey> key;  // kept, so that no other key takes its address
    size_t path_size;                  // of the key's path below its root
    std::vector<size_t> subtree;       // its sections and those below it, in the text's order
    bool filled;                       // its values have been read
    size_t append_at;                  // then: just past the last value of its last section
    std::vector<Lines> lines;          // the last value of each name read, by its place
  };

  // Fails this operation and every later one: the run needs text this reader cannot read.
  LONG Unreadable();
  // Adds the edits of `key` and of the keys below it; `path` is its section line's text and
  // `anchor` where a new section goes when the key has no place. Returns whether the text shows
  // the key afterwards.
  bool Collect(const std::shared_ptr<RegistryKey>& key, const std::string& path, size_t depth,
               size_t anchor, std::vector<TextEdit>* edits, bool* writable);

  // Where the reader reads: null for an 8-bit store, else where it holds code units above 0xFF.
  const std::vector<size_t>* wide() const { return unicode_ ? &wide_ : nullptr; }

  LockedFile file_;
  std::string_view bytes_;  // the file's pages, or a new store's first lines
  std::string_view text_;   // bytes_, or the narrowed_ text of a UTF-16 store
  bool unicode_ = false;
  std::string narrowed_;
  std::vector<size_t> wide_;
  std::string_view units_;  // a UTF-16 store's code units, after its byte order mark
  std::vector<StoreSection> sections_;
  std::deque<std::string> paths_;  // key paths the text spells with doubled backslashes
  std::map<const RegistryKey*, Place> places_;
  size_t visits_ = 0;
};
