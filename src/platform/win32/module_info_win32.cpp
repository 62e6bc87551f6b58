#include "platform/win32/module_info_win32.h"

#include "platform/win32/utf.h"
#include "platform/win32/windows_api.h"

#include <memory>
#include <system_error>

namespace quenvar {

namespace {

// Any address inside this module names it.
const char kAnchor = 0;

std::string ownFile() {
  HMODULE module = nullptr;
  if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&kAnchor), &module))
    return {};
  std::wstring buffer(MAX_PATH, L'\0');
  // A path that fills the buffer may have been cut short; the limit is that of long paths.
  while (buffer.size() <= 32768) {
    const DWORD length = ::GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) return win32::narrow(std::wstring_view(buffer.data(), length));
    buffer.resize(buffer.size() * 2);
  }
  return {};
}

size_t lastSeparator(std::string_view path) { return path.find_last_of("\\/"); }

}  // namespace

std::string Win32ModuleInfo::folderOf(std::string_view path) {
  // A file in a drive's root gives "C:", so that folder + "\\Error.log" is its sibling.
  const size_t separator = lastSeparator(path);
  return separator == std::string_view::npos ? std::string() : std::string(path.substr(0, separator));
}

std::string Win32ModuleInfo::nameOf(std::string_view path) {
  const size_t separator = lastSeparator(path);
  std::string_view name = separator == std::string_view::npos ? path : path.substr(separator + 1);
  if (const size_t dot = name.find_last_of('.'); dot != std::string_view::npos && dot > 0) name = name.substr(0, dot);
  return std::string(name);
}

std::string Win32ModuleInfo::folder() { return folderOf(ownFile()); }
std::string Win32ModuleInfo::name() { return nameOf(ownFile()); }

namespace {

struct Job {
  HMODULE self = nullptr;
  std::function<void()> work;
};

DWORD WINAPI runJob(void* parameter) {
  std::unique_ptr<Job> own(static_cast<Job*>(parameter));
  const HMODULE self = own->self;
  try {
    own->work();
  } catch (...) {
  }
  own.reset();
  ::FreeLibraryAndExitThread(self, 0);
}

}  // namespace

void Win32ModuleInfo::runDetached(std::function<void()> work) {
  // The thread holds its own reference to this module and drops it as it ends, so unloading
  // the DLL never pulls the code from under it and nothing has to wait for it under the
  // loader lock.
  auto job = std::make_unique<Job>();
  if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&kAnchor), &job->self))
    throw std::system_error(static_cast<int>(::GetLastError()), std::system_category());
  job->work = std::move(work);
  const HANDLE thread = ::CreateThread(nullptr, 0, runJob, job.get(), 0, nullptr);
  if (thread == nullptr) {
    ::FreeLibrary(job->self);
    throw std::system_error(static_cast<int>(::GetLastError()), std::system_category());
  }
  job.release();
  ::CloseHandle(thread);
}

}  // namespace quenvar
