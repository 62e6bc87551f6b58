#include "platform/win32/win32_errors.h"

#include "platform/win32/utf.h"
#include "platform/win32/windows_api.h"

namespace quenvar::win32 {

namespace {
constexpr int32_t kDiskFull = 61;

bool isFolder(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesW(widen(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}
}  // namespace

AutomationError fileError(unsigned long code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND: return {err::kFileNotFound, "File not found"};
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_INVALID_DRIVE: return {err::kPathNotFound, "Path not found"};
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT: return {err::kPermissionDenied, "Permission denied"};
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE: return {err::kBadFileName, "Bad file name or number"};
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return {kDiskFull, "Disk full"};
    // Sharing and lock violations included: the file is there but in another's hands.
    default: return {err::kPathFileAccess, "Path/File access error"};
  }
}

AutomationError pathError(unsigned long code, const std::string& path) {
  if (path.empty()) return {err::kBadFileName, "Bad file name or number"};
  // Only the failure path pays for the extra look: a folder is refused as access denied, which
  // the runtime reports as an access error, not a permission one.
  if (code == ERROR_ACCESS_DENIED && isFolder(path)) return {err::kPathFileAccess, "Path/File access error"};
  return fileError(code);
}

void raiseFileError(unsigned long code) { throw fileError(code); }
void raisePathError(unsigned long code, const std::string& path) { throw pathError(code, path); }

}  // namespace quenvar::win32
