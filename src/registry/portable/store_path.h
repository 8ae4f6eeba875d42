// Where the portable store lives.
#pragma once

#include <string>

// $LARKSPAN_REGISTRY if set and not empty, else $XDG_DATA_HOME/larkspan/registry.reg, else
// $HOME/.local/share/larkspan/registry.reg. Empty when none of them is set.
std::string DefaultStorePath();
