// Where the band lives in the registry: its class identifier and its three key trees. The
// registration tables are written below these keys, removal deletes them, and the tests look
// for the band there.
#pragma once

#include <string>

// The band's COM class identifier, as every key and value that names it spells it.
inline constexpr char kBandClassId[] = "{6F2A9C41-3B7E-4d58-A1C6-20E4B93F7D05}";

// The three key trees, each a path below its root with the class identifier in place of its
// "%s": the class below HKEY_CLASSES_ROOT, the toolbar button and the settings below
// HKEY_CURRENT_USER.
inline constexpr char kClassKeyFormat[] = "CLSID\\%s";
inline constexpr char kButtonKeyFormat[] = "Software\\Microsoft\\Internet Explorer\\Extensions\\%s";
inline constexpr char kSettingsKey[] = "Software\\Larkspan";

// The path of one of the trees above, the class identifier in its place (for the tests; the
// tool formats into its fixed buffers).
inline std::string BandKeyPath(const char* format) {
  std::string path = format;
  size_t at = path.find("%s");
  return at == std::string::npos ? path : path.replace(at, 2, kBandClassId);
}
