// The native program: the entry over the file store, committed once when the job is done.
#include "entry.h"
#include "file_store.h"
#include "registry_store.h"
#include "store_path.h"

int main(int argc, char** argv) {
  FileStore store(DefaultStorePath());
  {
    ScopedRegistryBinding binding(&store);
    RunEntry(argc, argv);
  }
  store.Commit();
  return 0;
}
