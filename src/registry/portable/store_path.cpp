#include "store_path.h"

#include <cstdlib>
#include <utility>

namespace {

// The variable's value; empty when it is unset or empty.
std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

std::string Under(std::string folder, const char* relative) {
  if (folder.back() != '/') folder.push_back('/');
  return folder + relative;
}

}  // namespace

std::string DefaultStorePath() {
  if (std::string path = Variable("LARKSPAN_REGISTRY"); !path.empty()) return path;
  // A relative XDG_DATA_HOME is ignored, as the XDG base directory rules ask: the store must
  // not move with the current directory.
  if (std::string data = Variable("XDG_DATA_HOME"); !data.empty() && data[0] == '/') {
    return Under(std::move(data), "larkspan/registry.reg");
  }
  if (std::string home = Variable("HOME"); !home.empty()) {
    return Under(std::move(home), ".local/share/larkspan/registry.reg");
  }
  return std::string();
}
