// The portable store's file: a whole RegistryTree as REGEDIT4 text.
#pragma once

#include <string>
#include <string_view>

#include "registry_tree.h"

// Fills an empty `tree` from the text of a store file. False when the text is not a store
// this program can read back exactly; `tree` is then unspecified.
bool ParseRegeditFile(std::string_view text, RegistryTree* tree);

// The file's text: "REGEDIT4", a blank line, then every key below the roots as a section with
// its values in creation order and a blank line; keys sorted without regard to case, parents
// before children; CRLF line ends. Parsing the result gives an equal tree.
std::string FormatRegeditFile(const RegistryTree& tree);
