// The registry of the native program: the user's REGEDIT4 file, edited where a run changes it.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "regedit_file.h"
#include "store_file.h"
#include "tree_store.h"

// One run is one transaction over a StoreFile. The first operation locks and reads the file (a
// missing file is an empty registry; a version 5 file is converted to REGEDIT4 text) and checks
// its structure with ScanRegeditFile. A key is read from the text only when an operation reaches
// it, and its values only when one reads or writes them. Commit edits the text and writes it in
// one atomic replacement: a changed value takes the place of its last line, new values follow
// the key's last section, a new key gets a section after the last one of its nearest existing
// ancestor's subtree (or at the end), a deleted key loses the sections of its whole subtree, and
// a key left with no section and nothing below it gets an empty one where its subtree began.
// Every other byte stays as it was. A text that is not a store, or a value that cannot be read
// in a section the run reads, changes or removes, makes every operation fail with ERROR_BADDB,
// and the file is never rewritten.
class FileStore : public TreeStore {
 public:
  explicit FileStore(std::string path);

  // Writes this run's changes, if it made any; handles open until then are not used again.
  // ERROR_SUCCESS also when there was nothing to write. ERROR_CANTWRITE when a name cannot be
  // written (a line break, a key deeper than 512) or the write failed: the file stays as it was
  // and a later Commit tries again.
  LONG Commit();

 protected:
  LONG Prepare() override;
  std::shared_ptr<RegistryKey> FindChild(const std::shared_ptr<RegistryKey>& key,
                                         std::string_view name) override;
  LONG FillValues(RegistryKey* key) override;
  LONG Removing(const std::shared_ptr<RegistryKey>& key) override;

 private:
  // What the text holds of a key the run has reached.
  struct Place {
    std::shared_ptr<RegistryKey> key;     // kept, so that no other key takes its address
    size_t path_size;                     // of the key's path below its root
    std::vector<size_t> subtree;          // its sections and those below it, in the text's order
    bool filled;                          // its values have been read
    size_t append_at;                     // then: just past the last value of its last section
    std::vector<std::string_view> lines;  // the last value of each name read, by its place
  };
  // Text to put in place of text_[begin, end); at one place, empty ranges first, values (rank
  // 0) before new sections (rank 1), and those in the order the tree was walked.
  struct Edit {
    size_t begin;
    size_t end;
    int rank;
    size_t order;
    std::string text;
  };

  LONG Load();
  // Adds the edits of `key` and of the keys below it; `path` is its section line's text and
  // `anchor` where a new section goes when the key has no place. Returns whether the text shows
  // the key afterwards.
  bool Collect(const std::shared_ptr<RegistryKey>& key, const std::string& path, size_t depth,
               size_t anchor, std::vector<Edit>* edits, bool* writable);
  // Applies the edits to text_ in place.
  void Apply(std::vector<Edit>* edits);

  StoreFile file_;
  std::string text_;
  std::vector<StoreSection> sections_;
  std::map<const RegistryKey*, Place> places_;
  bool opened_ = false;
  bool pending_ = false;  // text_ holds edits not yet written
  LONG state_ = -1;       // -1 until the first operation of a transaction, then its result
  size_t visits_ = 0;
  // Scratch space for reading values.
  std::string name_;
  std::string data_;
  DWORD type_ = REG_NONE;
};
