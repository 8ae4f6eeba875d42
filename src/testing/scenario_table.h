// The end-to-end scenarios (tests/scenarios/scenarios.txt, whose head describes the format) and
// the one form in which every runner compares registries.
//
// Only standard types cross this header, so that a runner built over the real Windows API can use
// it beside <windows.h>: the store's own registry types stay inside scenario_table.cpp.
#pragma once

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

struct Scenario {
  std::string name;
  bool wine32 = false;  // in the subset the 32-bit program runs
  std::string before;   // the starting registry as the store would write it (REGEDIT4, CRLF)
  std::vector<std::vector<std::string>> runs;  // the arguments of each start, in order
  std::map<std::string, std::string> after;    // "" and per registry ("native", "wine")
  std::map<std::string, std::string> skip;     // registry -> why the row does not run there
  std::string error;                           // set on the one row of an unreadable table

  // The expected band trees on `registry` (BandTrees form).
  const std::string& ExpectedAfter(const std::string& registry) const;
};

// How test output names a row.
void PrintTo(const Scenario& row, std::ostream* out);

// The rows of the table at `path`. A table that cannot be read or has a malformed row gives a
// single row named "table_is_unreadable" whose `error` says where.
std::vector<Scenario> LoadScenarios(const std::string& path);

// The band's three key trees, in this order; each is given by its parent's path and its name.
struct BandTree {
  bool classes_root;   // else HKEY_CURRENT_USER
  std::string parent;  // below the root
  std::string name;
};
const std::vector<BandTree>& BandKeyTrees();

// Reads the registry texts (REGEDIT4, or the UTF-16 text reg export writes) one after the other
// into one registry, each value overwriting one read before, and writes the band's three trees
// as the rows compare them: each key as "[ROOT\parent\name...]" with the parent's path as
// above and the names below it as stored, its values sorted by name without regard to case, a
// blank line; subkeys after their key, sorted likewise. False when a text does not parse.
bool BandTrees(const std::vector<std::string>& texts, std::string* out);

// One value of a registry text.
struct TextValue {
  bool classes_root;
  std::string key;  // below the root, names as stored
  std::string name;
  uint32_t type;
  std::string data;
};
// Every value in the text's band trees. False when the text does not parse.
bool BandValues(const std::string& text, std::vector<TextValue>* values);
