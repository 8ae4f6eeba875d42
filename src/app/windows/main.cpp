// The Windows program: the entry over the real registry.
#include "entry.h"

int main(int argc, char** argv) {
  return RunEntry(argc, argv);
}
