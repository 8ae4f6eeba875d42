#include "split_server_path.h"

#include <cstring>

void SplitServerPath(const char* serverPath, char* installDir, char* serverFileName) {
  size_t length = std::strlen(serverPath);
  size_t dirLength = 0;  // up to and including the separator
  for (size_t i = length >= 2 ? length - 1 : 0; i > 0; --i) {
    if (serverPath[i - 1] == '\\') {
      dirLength = i;
      break;
    }
  }
  std::memcpy(installDir, serverPath, dirLength);
  installDir[dirLength] = '\0';
  std::memcpy(serverFileName, serverPath + dirLength, length - dirLength + 1);
}
