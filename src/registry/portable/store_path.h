// Where the portable store lives.
#pragma once

#include <string>

// $LARKSPAN_REGISTRY if set and not empty, else $XDG_DATA_HOME/larkspan/registry.reg, else
// HOME's .local/share/larkspan/registry.reg, HOME being $HOME or, where that is unset, empty or
// relative, the running user's home in /etc/passwd. A relative XDG_DATA_HOME or home is ignored.
// Empty when no absolute home is known.
std::string DefaultStorePath();
