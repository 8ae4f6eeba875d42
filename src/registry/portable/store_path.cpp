#include "store_path.h"

#include <unistd.h>

#include <cstdlib>
#include <utility>

#include "user_account.h"

namespace {

// The variable's value when it is an absolute path; empty otherwise. A relative one is ignored,
// as the XDG base directory rules ask of XDG_DATA_HOME: the store must not move with the
// current folder.
std::string AbsoluteVariable(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr || value[0] != '/' ? std::string() : std::string(value);
}

std::string Under(std::string folder, const char* relative) {
  if (folder.back() != '/') folder.push_back('/');
  return folder + relative;
}

}  // namespace

std::string DefaultStorePath() {
  if (const char* path = std::getenv("LARKSPAN_REGISTRY"); path != nullptr && path[0] != '\0') {
    return path;
  }
  if (std::string data = AbsoluteVariable("XDG_DATA_HOME"); !data.empty()) {
    return Under(std::move(data), "larkspan/registry.reg");
  }
  std::string home = AbsoluteVariable("HOME");
  UserAccount account;
  if (home.empty() && FindUserAccount(getuid(), &account) && account.home[0] == '/') {
    home = std::move(account.home);
  }
  return home.empty() ? std::string()
                      : Under(std::move(home), ".local/share/larkspan/registry.reg");
}
