#include "platform/posix/module_info_dladdr.h"

#include <dlfcn.h>
#include <stdlib.h>

#include <memory>
#include <mutex>

namespace quenvar {

namespace {

std::string resolved(const char* path) {
  std::unique_ptr<char, decltype(&::free)> full(::realpath(path, nullptr), &::free);
  return full ? std::string(full.get()) : std::string();
}

// Absolute and free of links. For a program, dladdr reports argv[0], which may be a bare
// name found on PATH or relative to a folder since left; the kernel knows the real file.
std::string ownFile() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&ownFile), &info) == 0 || info.dli_fname == nullptr) return {};
  const std::string reported = info.dli_fname;
  if (reported.find('/') != std::string::npos) {
    if (std::string path = resolved(reported.c_str()); !path.empty()) return path;
  }
  if (std::string path = resolved("/proc/self/exe"); !path.empty()) return path;
  return reported;
}

}  // namespace

std::string DladdrModuleInfo::folder() {
  const std::string path = ownFile();
  const size_t slash = path.find_last_of('/');
  // A file in the root folder gives the empty text: no trailing separator, ever.
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string DladdrModuleInfo::name() {
  const std::string path = ownFile();
  const size_t slash = path.find_last_of('/');
  return moduleName(slash == std::string::npos ? std::string_view(path) : std::string_view(path).substr(slash + 1));
}

std::string DladdrModuleInfo::moduleName(std::string_view fileName) {
  std::string_view name = fileName;
  if (name.starts_with("lib") && name.size() > 3 && name[3] != '.') name.remove_prefix(3);
  // A shared object's version follows its ".so"; otherwise only the last extension goes.
  for (size_t at = name.find(".so"); at != std::string_view::npos; at = name.find(".so", at + 1)) {
    if (at > 0 && (at + 3 == name.size() || name[at + 3] == '.')) return std::string(name.substr(0, at));
  }
  if (const size_t dot = name.find_last_of('.'); dot != std::string_view::npos && dot > 0)
    name = name.substr(0, dot);
  return std::string(name);
}

void DladdrModuleInfo::runDetached(std::function<void()> work) {
  posix::keepLibraryLoaded();
  std::thread(std::move(work)).detach();
}

void posix::keepLibraryLoaded() {
  static std::once_flag once;
  std::call_once(once, [] {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&keepLibraryLoaded), &info) != 0 && info.dli_fname != nullptr &&
        info.dli_fname[0] != '\0')
      (void)::dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
  });
}

}  // namespace quenvar
