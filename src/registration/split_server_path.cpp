#include "split_server_path.h"

#include <cstring>

void SplitServerPath(const char* server_path, char* install_dir, char* server_file_name) {
  size_t length = std::strlen(server_path);
  size_t dir_length = 0;  // up to and including the separator
  for (size_t i = length >= 2 ? length - 1 : 0; i > 0; --i) {
    if (server_path[i - 1] == '\\') {
      dir_length = i;
      break;
    }
  }
  std::memcpy(install_dir, server_path, dir_length);
  install_dir[dir_length] = '\0';
  std::memcpy(server_file_name, server_path + dir_length, length - dir_length + 1);
}
