// Prints what the scenario table's reader (scenario_table.h) reads, for the runners that are not
// C++: the 32-bit runner (src/app/windows/wine32_test.py) and the example installer's test.
//   lkspan_scenario_print keys          the band's three trees, ROOT\parent\name, one a line
//   lkspan_scenario_print rows TABLE    the rows of the table as JSON: a list of objects with the
//                                       fields of Scenario but `error`
//   lkspan_scenario_print trees FILE... the band trees of the registry texts read one after the
//                                       other, as BandTrees writes them
//   lkspan_scenario_print values FILE   every value in the text's band trees as JSON: a list of
//                                       [type, data]
// Texts go out in JSON with each byte the character of that number. Exits 1 when a table or
// text cannot be read, 2 on a wrong command line.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "regedit_writer.h"
#include "scenario_table.h"

namespace {

std::string Json(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F && c != '"' && c != '\\') {
      out += c;
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      out += escaped;
    }
  }
  return out + "\"";
}

// Items already in JSON, joined as a list, or with `open` "{" as an object.
std::string Join(const std::vector<std::string>& items, const char* open = "[") {
  std::string out = open;
  for (const std::string& item : items) out += (out.size() > 1 ? ", " : "") + item;
  return out + (open[0] == '[' ? "]" : "}");
}

std::string Json(const std::vector<std::string>& texts) {
  std::vector<std::string> items;
  for (const std::string& text : texts) items.push_back(Json(text));
  return Join(items);
}

std::string Json(const std::map<std::string, std::string>& texts) {
  std::vector<std::string> items;
  for (const auto& [key, text] : texts) items.push_back(Json(key) + ": " + Json(text));
  return Join(items, "{");
}

std::string Json(const Scenario& row) {
  std::vector<std::string> runs;
  for (const std::vector<std::string>& run : row.runs) runs.push_back(Json(run));
  return Join(
      {"\"name\": " + Json(row.name), std::string("\"wine32\": ") + (row.wine32 ? "true" : "false"),
       "\"before\": " + Json(row.before), "\"runs\": " + Join(runs),
       "\"after\": " + Json(row.after), "\"skip\": " + Json(row.skip)},
      "{");
}

bool ReadFile(const char* path, std::string* text) {
  std::ifstream in(path, std::ios::binary);
  text->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return in.is_open() && !in.bad();
}

}  // namespace

int main(int argc, char** argv) {
  std::string command = argc > 1 ? argv[1] : "";
  std::vector<std::string> texts(argc > 2 ? argc - 2 : 0);
  for (size_t i = 0; i < texts.size(); ++i) {
    if (command != "rows" && !ReadFile(argv[i + 2], &texts[i])) return 1;
  }
  std::string out;
  if (command == "keys" && texts.empty()) {
    for (const BandTree& band : BandKeyTrees()) {
      out += std::string(band.classes_root ? kClassesRootName : kCurrentUserName) + "\\" +
             band.parent + "\\" + band.name + "\n";
    }
  } else if (command == "rows" && texts.size() == 1) {
    std::vector<Scenario> rows = LoadScenarios(argv[2]);
    if (!rows.empty() && !rows[0].error.empty()) {
      std::fprintf(stderr, "%s\n", rows[0].error.c_str());
      return 1;
    }
    std::vector<std::string> items;
    for (const Scenario& row : rows) items.push_back(Json(row));
    out = Join(items) + "\n";
  } else if (command == "trees") {
    if (!BandTrees(texts, &out)) return 1;
  } else if (command == "values" && texts.size() == 1) {
    std::vector<TextValue> values;
    if (!BandValues(texts[0], &values)) return 1;
    std::vector<std::string> items;
    for (const TextValue& value : values) {
      items.push_back(Join({std::to_string(value.type), Json(value.data)}));
    }
    out = Join(items) + "\n";
  } else {
    std::fprintf(stderr, "usage: %s keys | rows TABLE | trees FILE... | values FILE\n", argv[0]);
    return 2;
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}
