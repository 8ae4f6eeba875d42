// Splitting the band's server path into its folder and its file name.
#pragma once

#include <cstddef>

// Size of every working text: 259 characters and the NUL.
constexpr size_t kTextSize = 260;

// Splits `serverPath` (shorter than kTextSize) at the last backslash before its last character.
// `installDir` gets everything up to and including that backslash, `serverFileName` the rest,
// so C:\dir\ gives C:\ and dir\ . A path with no such backslash gives an empty `installDir`
// and the whole path as `serverFileName`. Both buffers hold kTextSize bytes.
void SplitServerPath(const char* serverPath, char* installDir, char* serverFileName);
