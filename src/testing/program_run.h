// Running the built program as a user would, for the end-to-end tests.
#pragma once

#include <chrono>
#include <string>
#include <vector>

struct ProgramResult {
  int exit_status = -1;  // -1 when it did not exit normally
  int signal = 0;        // the signal that ended it, if one did
  std::string out;
  std::string err;
};

// Runs `program` with `args` and the environment `env` ("NAME=value" entries; nothing else is
// inherited), standard input empty, and waits for it.
ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::vector<std::string>& env);

// A run started as RunProgram starts it, without waiting for it: for tests that stop a run or
// start several at once. One that is never waited for is killed and reaped when destroyed.
class StartedProgram {
 public:
  StartedProgram(const std::string& program, const std::vector<std::string>& args,
                 const std::vector<std::string>& env);
  ~StartedProgram();
  StartedProgram(const StartedProgram&) = delete;
  StartedProgram& operator=(const StartedProgram&) = delete;

  bool started() const { return pid_ > 0; }
  int pid() const { return pid_; }
  void Signal(int signal);
  // Waits for the run to end (once) and collects what it printed.
  ProgramResult Wait();
  // Whether the run ends within `limit`; Wait then collects it at once.
  bool EndsWithin(std::chrono::milliseconds limit);

 private:
  void Collect(int status);

  std::string capture_;  // a private folder for its output, removed by the destructor
  int pid_ = -1;
  ProgramResult result_;
};

// A private folder under the system's temporary folder, removed with everything in it.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::string ReadFileBytes(const std::string& path);  // empty when missing
void WriteFileBytes(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);
std::vector<std::string> FolderEntries(const std::string& path);  // sorted, without . and ..
