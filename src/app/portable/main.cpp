// The native program: the entry over the file store, committed once when the job is done.
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <exception>
#include <new>

#include "entry.h"
#include "file_store.h"
#include "registry_store.h"
#include "store_path.h"

namespace {

// Ends the run at once, silently and with status 0, having written nothing: a failed
// allocation never throws into the tool's paths, and nothing reaches std::terminate's message.
// The lock goes with the process; a temporary file it leaves is removed by the next run.
[[noreturn]] void EndWithoutCommitting() {
  _exit(0);
}

// The store is read through a mapping of its file: another program that cuts the file short
// while this run reads it raises SIGBUS, which ends the run in the same way.
[[noreturn]] void EndOnSignal(int) {
  _exit(0);
}

}  // namespace

int main(int argc, char** argv) {
  std::set_new_handler(EndWithoutCommitting);
  std::set_terminate(EndWithoutCommitting);
  signal(SIGBUS, EndOnSignal);
  // A file-size limit (ulimit -f) then fails the write with EFBIG, and the run writes nothing.
  signal(SIGXFSZ, SIG_IGN);
  FileStore store(DefaultStorePath());
  {
    ScopedRegistryBinding binding(&store);
    RunEntry(argc, argv);
  }
  store.Commit();
  // The memory and descriptors of the run go back with the process: taking the tree apart key by
  // key would cost a run over a large key more than its writing did.
  std::exit(0);
}
