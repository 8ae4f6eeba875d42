// The scenario table has a second reader, tests/scenarios/scenario_table.py, for the 32-bit
// runner written in Python: both must load every row the same.
#include "scenario_table.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "program_run.h"

namespace {

// The first python3 on the search path; empty if there is none.
std::string FindPython() {
  const char* search = std::getenv("PATH");
  std::string dirs = search != nullptr ? search : "/usr/bin:/bin";
  for (size_t start = 0; start <= dirs.size();) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string candidate = dirs.substr(start, end - start) + "/python3";
    if (end > start && access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return "";
}

// Reads the netstrings the Python reader writes ("LENGTH:BYTES,") one after the other.
class Fields {
 public:
  explicit Fields(std::string text) : text_(std::move(text)) {}
  bool AtEnd() const { return at_ == text_.size(); }
  bool Next(std::string* field) {
    size_t colon = text_.find(':', at_);
    if (colon == std::string::npos || colon == at_) return false;
    size_t length = std::stoul(text_.substr(at_, colon - at_));
    if (colon + 1 + length >= text_.size() || text_[colon + 1 + length] != ',') return false;
    *field = text_.substr(colon + 1, length);
    at_ = colon + 2 + length;
    return true;
  }
  bool NextCount(size_t* count) {
    std::string field;
    if (!Next(&field) || field.empty() || field.find_first_not_of("0123456789") != field.npos) {
      return false;
    }
    *count = std::stoul(field);
    return true;
  }
  bool NextMap(std::map<std::string, std::string>* map) {
    size_t count = 0;
    if (!NextCount(&count)) return false;
    for (size_t i = 0; i < count; ++i) {
      std::string key;
      if (!Next(&key) || !Next(&(*map)[key])) return false;
    }
    return true;
  }

 private:
  std::string text_;
  size_t at_ = 0;
};

// The rows as the Python reader loads them, its texts still unexpanded REGEDIT4 text.
bool PythonRows(const std::string& output, std::vector<Scenario>* rows) {
  Fields fields(output);
  while (!fields.AtEnd()) {
    Scenario row;
    std::string wine32;
    size_t runs = 0;
    if (!fields.Next(&row.name) || !fields.Next(&wine32) || !fields.Next(&row.before) ||
        !fields.NextMap(&row.after) || !fields.NextMap(&row.skip) || !fields.NextCount(&runs)) {
      return false;
    }
    row.wine32 = wine32 == "1";
    for (size_t i = 0; i < runs; ++i) {
      size_t count = 0;
      if (!fields.NextCount(&count)) return false;
      std::vector<std::string>& args = row.runs.emplace_back(count);
      for (std::string& arg : args) {
        if (!fields.Next(&arg)) return false;
      }
    }
    rows->push_back(std::move(row));
  }
  return true;
}

// A text of a row in the form the C++ reader keeps an after block in.
std::string Trees(const std::string& text) {
  std::string trees;
  if (!text.empty() && !BandTrees({text}, &trees)) return "(not a registry text)";
  return trees;
}

TEST(ScenarioTableTest, BothReadersLoadEveryRowTheSame) {
  std::string python = FindPython();
  ASSERT_FALSE(python.empty()) << "no python3 on the search path";
  std::string table = LKSPAN_SCENARIOS;
  std::string reader = table.substr(0, table.rfind('/') + 1) + "scenario_table.py";
  ProgramResult run = RunProgram(python, {reader, table}, {});
  ASSERT_EQ(run.exit_status, 0) << run.err;

  std::vector<Scenario> expected = LoadScenarios(table);
  ASSERT_FALSE(expected.empty());
  ASSERT_TRUE(expected[0].error.empty()) << expected[0].error;
  std::vector<Scenario> loaded;
  ASSERT_TRUE(PythonRows(run.out, &loaded)) << "unreadable output of " << reader;
  ASSERT_EQ(loaded.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    const Scenario& want = expected[i];
    const Scenario& got = loaded[i];
    SCOPED_TRACE(want.name);
    EXPECT_EQ(got.name, want.name);
    EXPECT_EQ(got.wine32, want.wine32);
    EXPECT_EQ(got.runs, want.runs);
    EXPECT_EQ(got.skip, want.skip);
    EXPECT_EQ(Trees(got.before), Trees(want.before));
    ASSERT_EQ(got.after.size(), want.after.size());
    for (const auto& [registry, text] : want.after) {
      ASSERT_TRUE(got.after.count(registry)) << "no after " << registry;
      EXPECT_EQ(Trees(got.after.at(registry)), text) << "after " << registry;
    }
  }
}

}  // namespace
