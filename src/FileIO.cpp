// Platform-neutral part of the file I/O layer: the fault check and path joining.
#include "FileIO.h"

#include "Env.h"

namespace CorvaneSDK {

namespace detail {

namespace {
thread_local bool t_injected = false;
}  // namespace

bool LastFileOpInjected() { return t_injected; }

bool ShouldFailFileOp(FileOp op, const std::string& path) {
  t_injected = false;
  t_injected = Env::Default().ShouldFailFileOp(op, path);
  return t_injected;
}

}  // namespace detail

std::string JoinPath(const std::string& folder, const std::string& name) {
  std::string out;
  out.reserve(folder.size() + 1 + name.size());
  out += folder;
  out += NativeSeparator();
  out += name;
  return out;
}

}  // namespace CorvaneSDK
