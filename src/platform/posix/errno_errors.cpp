#include "platform/posix/errno_errors.h"

#include <sys/stat.h>

#include <cerrno>

namespace quenvar::posix {

namespace {
bool parentIsFolder(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return true;  // the current folder
  const std::string parent = slash == 0 ? "/" : path.substr(0, slash);
  struct stat st {};
  return ::stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
}  // namespace

AutomationError errnoError(int error) {
  switch (error) {
    case ENOENT: return {err::kFileNotFound, "File not found"};
    case ENOTDIR:
    case ELOOP: return {err::kPathNotFound, "Path not found"};
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY: return {err::kPermissionDenied, "Permission denied"};
    case ENAMETOOLONG:
    case EINVAL:
    case EILSEQ: return {err::kBadFileName, "Bad file name or number"};
    default: return {err::kPathFileAccess, "Path/File access error"};
  }
}

AutomationError pathError(int error, const std::string& path) {
  if (path.empty()) return {err::kBadFileName, "Bad file name or number"};
  // Only the failure path pays for the extra look at the parent.
  if (error == ENOENT && !parentIsFolder(path)) return {err::kPathNotFound, "Path not found"};
  return errnoError(error);
}

void raiseErrno(int error) { throw errnoError(error); }
void raisePathError(int error, const std::string& path) { throw pathError(error, path); }

}  // namespace quenvar::posix
