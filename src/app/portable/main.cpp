// The native program: the entry over the file store, committed once when the job is done.
#include <cstdlib>

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
  // exit() leaves the store standing: the process's end frees its memory and its lock at once,
  // where taking a large tree apart key by key would cost a good part of loading it.
  std::exit(0);
}
