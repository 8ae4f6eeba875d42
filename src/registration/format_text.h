// The one piece of formatting the tool needs: a text put in place of "%s".
#pragma once

#include <cstddef>

// Writes `format` into `out`, a buffer of `size` bytes, with `text` in place of its first "%s".
// Every other byte of `format`, a "%" included, is copied as it stands, and `text` is never read
// as a format. Returns false, leaving `out` empty, when the result and its NUL do not fit.
bool FormatText(char* out, size_t size, const char* format, const char* text);
