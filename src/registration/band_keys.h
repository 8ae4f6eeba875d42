// Where the band lives in the registry: its class identifier and its three key trees. The
// registration tables are written below these keys, removal deletes them, and the tests look
// for the band there.
#pragma once

#include <string>

// Each text once, as a literal the registration tables can join with the rest of a row's key.
// The class identifier, as every key and value that names it spells it.
#define LKSPAN_BAND_CLASS_ID "{6F2A9C41-3B7E-4d58-A1C6-20E4B93F7D05}"
// The class below HKEY_CLASSES_ROOT and the toolbar button below HKEY_CURRENT_USER, the class
// identifier in place of their "%s".
#define LKSPAN_CLASS_KEY "CLSID\\%s"
#define LKSPAN_BUTTON_KEY "Software\\Microsoft\\Internet Explorer\\Extensions\\%s"

inline constexpr char kBandClassId[] = LKSPAN_BAND_CLASS_ID;
inline constexpr char kClassKeyFormat[] = LKSPAN_CLASS_KEY;
inline constexpr char kButtonKeyFormat[] = LKSPAN_BUTTON_KEY;
// The settings below HKEY_CURRENT_USER.
inline constexpr char kSettingsKey[] = "Software\\Larkspan";

// The path of one of the trees above, the class identifier in its place (for the tests; the
// tool formats into its fixed buffers).
inline std::string BandKeyPath(const char* format) {
  std::string path = format;
  size_t at = path.find("%s");
  return at == std::string::npos ? path : path.replace(at, 2, kBandClassId);
}
