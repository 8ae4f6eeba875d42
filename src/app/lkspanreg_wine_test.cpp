// The Windows program on the registry it runs on (Wine's, in a throwaway prefix): every row of the
// scenario table, and store files through regedit and reg export.
//
// A row starts by importing its registry with reg import, after deleting the band's three trees;
// then the program runs once per run line, as its own process with exactly the row's arguments;
// then each band tree that exists is read back with reg export. Two of Wine's tools' ways are made
// up for, so that every row expects what the file store does:
// - reg import ends every text with a NUL; a REG_SZ, REG_EXPAND_SZ or REG_MULTI_SZ stored without
//   one is set after the import through RegSetValueExW, with a character after its data so that
//   Wine does not add the NUL either.
// - reg export writes a REG_DWORD of other than four bytes as dword: of four (reading past shorter
//   data), and a text without its one NUL one character short; such values are read through
//   RegEnumValueA instead.
// The registry is checked right after the import, through the API, to hold the row's registry.
// (The rows marked wine32 also run with the 32-bit program: src/app/windows/wine32_test.py.)
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "key_listing.h"
#include "opened_key.h"
#include "scenario_table.h"

namespace {

// Bytes as Latin-1: each byte the character of that number. The program, in code page 1252,
// reads back the same bytes for every character the table uses.
std::wstring Widen(const std::string& bytes) {
  std::wstring wide;
  for (char c : bytes) wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
  return wide;
}

// A Unix path as Wine sees it: Z: is the root of the Unix file system.
std::wstring WindowsPath(const std::string& path) {
  std::wstring windows = Widen(path);
  for (wchar_t& c : windows) {
    if (c == L'/') c = L'\\';
  }
  return path.empty() || path[0] != '/' ? windows : L"Z:" + windows;
}

// `arg` as the C runtime's command-line parser reads it back.
std::wstring Quoted(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    out.push_back(c);
  }
  out.append(2 * backslashes, L'\\');
  return out + L"\"";
}

std::string ReadBytes(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool WriteBytes(const std::wstring& path, const std::string& bytes) {
  std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
  out << bytes;
  return static_cast<bool>(out.flush());
}

// Where the runner keeps the files it hands to the tools.
const std::wstring& WorkFolder() {
  static const std::wstring folder = [] {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring path = std::wstring(temp) + L"lkspanreg-wine-test\\";
    CreateDirectoryW(path.c_str(), nullptr);
    return path;
  }();
  return folder;
}

struct Finished {
  bool started = false;
  DWORD start_error = 0;  // GetLastError of the last failed start
  DWORD exit_code = 0;
  std::string output;  // standard output and error
};

// Runs `command_line` once, standard input empty and output to a file, and waits for it.
Finished RunOnce(std::wstring command_line) {
  Finished result;
  std::wstring output_path = WorkFolder() + L"output.txt";
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE output = CreateFileW(output_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  HANDLE input = CreateFileW(L"NUL", GENERIC_READ, 0, &inherit, OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input;
  startup.hStdOutput = output;
  startup.hStdError = output;
  PROCESS_INFORMATION process = {};
  result.started = CreateProcessW(nullptr, &command_line[0], nullptr, nullptr, TRUE, 0, nullptr,
                                  nullptr, &startup, &process);
  if (!result.started) result.start_error = GetLastError();
  CloseHandle(input);
  CloseHandle(output);
  if (!result.started) return result;
  if (WaitForSingleObject(process.hProcess, 120000) != WAIT_OBJECT_0) {
    TerminateProcess(process.hProcess, 1);
    WaitForSingleObject(process.hProcess, INFINITE);
  }
  GetExitCodeProcess(process.hProcess, &result.exit_code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  result.output = ReadBytes(output_path);
  return result;
}

// Runs `command_line` and waits for it. Wine now and then fails to start a process on a loaded
// machine; a start that failed is tried again, twice, before the test gives up on it.
Finished RunCommand(const std::wstring& command_line) {
  Finished result;
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (attempt > 0) Sleep(500);
    result = RunOnce(command_line);
    if (result.started) break;
  }
  return result;
}

::testing::AssertionResult Started(const Finished& run) {
  if (run.started) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "could not start it: error " << run.start_error;
}

std::wstring Reg(const std::wstring& args) {
  return L"reg.exe " + args + L" /reg:64";
}

HKEY Root(bool classes_root) {
  return classes_root ? HKEY_CLASSES_ROOT : HKEY_CURRENT_USER;
}
std::string RootName(bool classes_root) {
  return classes_root ? "HKEY_CLASSES_ROOT" : "HKEY_CURRENT_USER";
}

// The band tree's path below its root with the tree's own name as stored; empty when missing.
std::string StoredPath(const BandTree& band) {
  OpenedKey parent(Root(band.classes_root), band.parent);
  if (parent.get() == nullptr) return "";
  for (const std::string& name : SubkeyNames(parent.get())) {
    if (NamesEqual(name, band.name)) return std::string(band.parent) + "\\" + name;
  }
  return "";
}

// Whether reg export writes the value so that it reads back otherwise.
bool ExportChanges(DWORD type, const std::string& data) {
  if (type == REG_DWORD) return data.size() != 4 && !data.empty();
  if (type == REG_SZ) return data.empty() || data.find('\0') != data.size() - 1;
  return false;
}

// The band trees as REGEDIT4 sections, read through the API; with `inexact_only` every key with
// only the values reg export cannot write.
std::string ApiTrees(bool inexact_only) {
  std::string text = "REGEDIT4\r\n\r\n";
  for (const BandTree& band : BandKeyTrees()) {
    std::string path = StoredPath(band);
    if (path.empty()) continue;
    ListedKey key(Root(band.classes_root), path, band.name, inexact_only ? ExportChanges : nullptr);
    AppendKeyTree(&text, RootName(band.classes_root) + "\\" + path, key, ValueOrder::kAsGiven);
  }
  return text;
}

// A REGEDIT4 file that deletes the band's trees, then adds `store` (a store file's text, or
// empty).
std::string ImportText(const std::string& store) {
  std::string text = "REGEDIT4\r\n\r\n";
  for (const BandTree& band : BandKeyTrees()) {
    text +=
        "[-" + RootName(band.classes_root) + "\\" + band.parent + "\\" + band.name + "]\r\n\r\n";
  }
  const std::string header = "REGEDIT4\r\n";
  return text + (store.compare(0, header.size(), header) == 0 ? store.substr(header.size()) : "");
}

// Imports `text` with reg import; a failure is the test's.
void Import(const std::string& text) {
  std::wstring file = WorkFolder() + L"import.reg";
  ASSERT_TRUE(WriteBytes(file, text));
  Finished import = RunCommand(Reg(L"import " + Quoted(file)));
  ASSERT_TRUE(Started(import));
  ASSERT_EQ(import.exit_code, 0u) << import.output;
}

// The band trees as reg export writes them, each tree one text.
std::vector<std::string> Exports() {
  std::vector<std::string> texts;
  for (const BandTree& band : BandKeyTrees()) {
    std::string path = StoredPath(band);
    if (path.empty()) continue;
    std::wstring file = WorkFolder() + L"export.reg";
    std::wstring command =
        Reg(L"export " + Quoted(Widen(RootName(band.classes_root) + "\\" + path)) + L" " +
            Quoted(file) + L" /y");
    // reg export only reads the registry, so a run that left no file is simply run again.
    Finished exported;
    std::string text;
    for (int attempt = 0; attempt < 3 && text.empty(); ++attempt) {
      DeleteFileW(file.c_str());
      exported = RunCommand(command);
      text = ReadBytes(file);
    }
    EXPECT_TRUE(Started(exported)) << path;
    EXPECT_EQ(exported.exit_code, 0u) << path << ": " << exported.output;
    texts.push_back(text);
  }
  return texts;
}

std::string Trees(const std::vector<std::string>& texts) {
  std::string trees;
  if (!BandTrees(texts, &trees)) {
    for (const std::string& text : texts) {
      std::string tree;
      EXPECT_TRUE(BandTrees({text}, &tree))
          << "a text that does not parse (" << text.size()
          << " bytes): " << ::testing::PrintToString(text.substr(0, 2000));
    }
  }
  return trees;
}

class WineScenarioTest : public ::testing::TestWithParam<Scenario> {};

TEST_P(WineScenarioTest, OnWinesRegistry) {
  const Scenario& row = GetParam();
  ASSERT_EQ(row.error, "");
  if (row.skip.count("wine")) GTEST_SKIP() << row.skip.at("wine");

  ASSERT_NO_FATAL_FAILURE(Import(ImportText(row.before)));
  std::vector<TextValue> values;
  ASSERT_TRUE(BandValues(row.before.empty() ? "REGEDIT4\r\n" : row.before, &values));
  for (const TextValue& value : values) {
    bool text = value.type == REG_SZ || value.type == REG_EXPAND_SZ || value.type == REG_MULTI_SZ;
    if (!text || (!value.data.empty() && value.data.back() == '\0')) continue;
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(Root(value.classes_root), value.key.c_str(), 0, nullptr, 0,
                              KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    std::wstring data = Widen(value.data) + L"#";
    LONG set = RegSetValueExW(key, Widen(value.name).c_str(), 0, value.type,
                              reinterpret_cast<const BYTE*>(data.data()),
                              static_cast<DWORD>(2 * value.data.size()));
    RegCloseKey(key);
    ASSERT_EQ(set, ERROR_SUCCESS);
  }
  ASSERT_EQ(Trees({ApiTrees(false)}), Trees({row.before.empty() ? "REGEDIT4\r\n" : row.before}))
      << "the registry does not hold the row's registry after the import";

  std::wstring program = Quoted(WindowsPath(LKSPANREG_PATH));
  for (const std::vector<std::string>& args : row.runs) {
    std::wstring command_line = program;
    for (const std::string& arg : args) command_line += L" " + Quoted(Widen(arg));
    Finished run = RunCommand(command_line);
    ASSERT_TRUE(Started(run));
    EXPECT_EQ(run.exit_code, 0u);
    EXPECT_EQ(run.output, "");
  }

  std::vector<std::string> texts = Exports();
  texts.push_back(ApiTrees(true));
  EXPECT_EQ(Trees(texts), row.ExpectedAfter("wine"));
}

INSTANTIATE_TEST_SUITE_P(Table, WineScenarioTest,
                         ::testing::ValuesIn(LoadScenarios(LKSPAN_SCENARIOS)),
                         [](const ::testing::TestParamInfo<Scenario>& row) {
                           return row.param.name;
                         });

// A store file the native program wrote goes into Wine's registry through regedit and comes back
// through reg export with the same keys, values, types and bytes.
TEST(WineInterchangeTest, StoreFileThroughRegeditAndRegExport) {
  std::string store = ReadBytes(WindowsPath(LKSPAN_INTERCHANGE "/native-store.reg"));
  ASSERT_NE(store, "");
  ASSERT_NO_FATAL_FAILURE(Import(ImportText("")));
  Finished import =
      RunCommand(L"regedit.exe /s " + Quoted(WindowsPath(LKSPAN_INTERCHANGE "/native-store.reg")));
  ASSERT_EQ(import.exit_code, 0u) << import.output;
  std::string expected = Trees({store});
  EXPECT_NE(expected, "");
  EXPECT_EQ(Trees(Exports()), expected);
  ASSERT_NO_FATAL_FAILURE(Import(ImportText("")));
}

}  // namespace
