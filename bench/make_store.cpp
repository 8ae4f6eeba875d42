// Writes a starting store for the process benchmarks.
//   lkspan_bench_store VALUES BASKETS FILE [current]
// FILE gets VALUES unrelated values and, when BASKETS is not 0, a list of that many baskets in
// the old layout (in the current one with `current`), in the store's own form.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "regedit_test_tree.h"
#include "store_maker.h"

int main(int argc, char** argv) {
  bool current = argc == 5 && std::string(argv[4]) == "current";
  if (argc != 4 && !current) {
    std::fprintf(stderr, "usage: %s VALUES BASKETS FILE [current]\n", argv[0]);
    return 2;
  }
  RegistryTree tree;
  FillUnrelated(&tree, std::atoi(argv[1]));
  if (int baskets = std::atoi(argv[2]); baskets > 0) FillBasketList(&tree, baskets, current);
  std::string text = FormatRegeditFile(tree);
  std::FILE* file = std::fopen(argv[3], "wb");
  if (file == nullptr) {
    std::perror(argv[3]);
    return 1;
  }
  bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  if (std::fclose(file) != 0 || !written) {
    std::perror(argv[3]);
    return 1;
  }
  return 0;
}
