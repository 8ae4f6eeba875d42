#include "program_run.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::vector<std::string>& env) {
  return StartedProgram(program, args, env).Wait();
}

StartedProgram::StartedProgram(const std::string& program, const std::vector<std::string>& args,
                               const std::vector<std::string>& env) {
  const char* base = std::getenv("TMPDIR");
  capture_ =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/lkspanreg-run-XXXXXX";
  if (mkdtemp(&capture_[0]) == nullptr) {
    capture_.clear();
    return;
  }
  std::string out_path = capture_ + "/out";
  std::string err_path = capture_ + "/err";

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (const std::string& entry : env) envp.push_back(const_cast<char*>(entry.c_str()));
  envp.push_back(nullptr);

  pid_t pid = 0;
  if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) == 0) {
    pid_ = pid;
  }
  posix_spawn_file_actions_destroy(&actions);
}

StartedProgram::~StartedProgram() {
  if (pid_ > 0) {
    Signal(SIGKILL);
    Wait();
  }
  if (!capture_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(capture_, ignored);
  }
}

void StartedProgram::Signal(int signal) {
  if (pid_ > 0) kill(pid_, signal);
}

ProgramResult StartedProgram::Wait() {
  if (pid_ <= 0) return result_;
  int status = 0;
  pid_t ended;
  do {
    ended = waitpid(pid_, &status, 0);
  } while (ended < 0 && errno == EINTR);
  if (ended < 0) {
    pid_ = -1;
    return result_;
  }
  Collect(status);
  return result_;
}

bool StartedProgram::EndsWithin(std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (pid_ > 0) {
    int status = 0;
    pid_t ended = waitpid(pid_, &status, WNOHANG);
    if (ended == pid_) {
      Collect(status);
    } else if (ended < 0 && errno != EINTR) {
      pid_ = -1;
    } else if (std::chrono::steady_clock::now() >= end) {
      return false;
    } else {
      usleep(10000);
    }
  }
  return true;
}

void StartedProgram::Collect(int status) {
  pid_ = -1;
  if (WIFEXITED(status)) result_.exit_status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result_.signal = WTERMSIG(status);
  result_.out = ReadFileBytes(capture_ + "/out");
  result_.err = ReadFileBytes(capture_ + "/err");
}

TempFolder::TempFolder() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/lkspanreg-test-XXXXXX";
  if (mkdtemp(&pattern[0]) != nullptr) path_ = pattern;
}

TempFolder::~TempFolder() {
  if (path_.empty()) return;
  std::error_code ignored;
  // A test may have taken away the folder's rights; give them back so it can be removed.
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

bool FileExists(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

std::vector<std::string> FolderEntries(const std::string& path) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(path.c_str())) {
    while (dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}
