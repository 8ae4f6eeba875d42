// Splitting the band's server path into its folder and its file name.
#pragma once

#include "text_value.h"

// Splits `server_path` (shorter than kTextSize) at the last backslash before its last
// character. `install_dir` gets everything up to and including that backslash,
// `server_file_name` the rest, so C:\dir\ gives C:\ and dir\ . A path with no such backslash
// gives an empty `install_dir` and the whole path as `server_file_name`. Both buffers hold
// kTextSize bytes.
void SplitServerPath(const char* server_path, char* install_dir, char* server_file_name);
