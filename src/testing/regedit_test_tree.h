// A whole registry tree to and from a store's text, for the tests, fuzz targets and benchmarks:
// the program itself reads and edits a store section by section (regedit_reader.h).
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "registry_tree.h"

// Fills an empty `tree` from a store's text (8-bit or UTF-16): sections of one key merge, a later
// value of the same name replacing an earlier one; sections under other roots are read and left
// out. False when the text is not a store or a value cannot be read, beyond 8 bits too, unless
// `beyond_keys` is given: then keys whose names are beyond 8 bits are left out, and so are values
// beyond 8 bits, with the path of each key that held one (its root's name first).
bool ParseRegeditFile(std::string_view text, RegistryTree* tree,
                      std::vector<std::string>* beyond_keys = nullptr);

// A store's text for `tree`: "REGEDIT4", a blank line, then every key below the roots as a
// section with its values in creation order and a blank line; keys sorted without regard to
// case, parents before children; CRLF line ends.
std::string FormatRegeditFile(const RegistryTree& tree);

// The key at `path` below `key`, made where missing.
std::shared_ptr<RegistryKey> KeyAt(const std::shared_ptr<RegistryKey>& key, std::string_view path);
