// The registry interface the tool calls, on Windows: the real ADVAPI32 and SHLWAPI functions.
#pragma once

#include <olectl.h>
#include <shlwapi.h>
#include <windows.h>
