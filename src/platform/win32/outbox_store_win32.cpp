#include "platform/win32/outbox_store_win32.h"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "quenvar/automation_error.h"
#include "platform/win32/utf.h"
#include "platform/win32/win32_errors.h"
#include "platform/win32/windows_api.h"

#include <knownfolders.h>
#include <shlobj.h>

namespace quenvar {

namespace {

using win32::narrow;
using win32::widen;

// Reports and state each carry a suffix of their own; the temporaries a write leaves for a
// moment ("<name>.<suffix>.xxxxxx") carry neither.
constexpr std::string_view kReport = ".report", kState = ".state", kReason = ".reason";
constexpr const char* kRejected = "rejected";

// Names the system would read as a device whatever follows them.
bool deviceName(std::string stem) {
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  for (char& c : stem) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL" || stem == "CONIN$" || stem == "CONOUT$")
    return true;
  return stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) && stem[3] >= '0' &&
         stem[3] <= '9';
}

// A name must name one file of its own folder: no separator, drive, stream or wildcard, nothing
// the system drops (a trailing dot or blank), no device.
bool validName(const std::string& name) {
  if (name.empty() || name[0] == '.' || name.back() == '.' || name.back() == ' ') return false;
  for (const char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos)
      return false;
  }
  return !deviceName(name.substr(0, name.find('.')));
}

void checkName(const std::string& name) {
  if (!validName(name)) throw AutomationError(err::kBadFileName, "Bad file name or number");
}

bool endsWith(std::string_view text, std::string_view end) {
  return text.size() > end.size() && text.substr(text.size() - end.size()) == end;
}

[[noreturn]] void refusePermission(const std::string& path, const char* why) {
  throw AutomationError(err::kPermissionDenied, "Permission denied: " + path + " " + why);
}

std::string lookUpRoot() {
  std::string root;
  PWSTR known = nullptr;
  if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &known)) && known != nullptr)
    root = narrow(known);
  ::CoTaskMemFree(known);
  if (root.empty()) {
    wchar_t value[MAX_PATH + 1];
    const DWORD length = ::GetEnvironmentVariableW(L"LOCALAPPDATA", value, MAX_PATH + 1);
    // A relative value would put the outbox wherever the host happens to run.
    if (length > 2 && length <= MAX_PATH && (value[1] == L':' || (value[0] == L'\\' && value[1] == L'\\')))
      root = narrow(std::wstring_view(value, length));
  }
  if (root.empty()) throw AutomationError(err::kPathNotFound, "Path not found");
  return root + "\\Quenvar\\Outbox";
}

// Looked up once a process, and again after a failure: the lookup reads the registry and costs
// more than the write of a report, which asks for it several times. Never destroyed: the DLL's
// exit handlers, which tell the run's end, come after its other statics are gone.
const std::string& defaultRoot() {
  static const std::string& root = *new std::string(lookUpRoot());
  return root;
}

class Handle {
 public:
  Handle() : handle_(INVALID_HANDLE_VALUE) {}
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() { reset(); }
  Handle(Handle&& other) noexcept : handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)) {}
  Handle& operator=(Handle&& other) noexcept {
    reset(std::exchange(other.handle_, INVALID_HANDLE_VALUE));
    return *this;
  }
  explicit operator bool() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }
  void reset(HANDLE handle = INVALID_HANDLE_VALUE) {
    if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
    handle_ = handle;
  }

 private:
  HANDLE handle_;
};

// An ordinary file or folder where `path` stands, opened as `handle`; a reparse point (a link or
// junction another planted) is refused as one. The attributes alone are asked for: the whole
// record also asks for the volume's serial, which costs Wine a round trip to its mount manager
// for every report and state opened.
void checkKind(const Handle& handle, const std::string& path, bool folder) {
  FILE_ATTRIBUTE_TAG_INFO info{};
  if (!::GetFileInformationByHandleEx(handle.get(), FileAttributeTagInfo, &info, sizeof info))
    win32::raisePathError(::GetLastError(), path);
  if (info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) refusePermission(path, "is a link");
  if (folder && !(info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY)) refusePermission(path, "is not a folder");
  if (!folder && ((info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) || ::GetFileType(handle.get()) != FILE_TYPE_DISK))
    refusePermission(path, "is not an ordinary file");
}

// A folder held open, shared with no one who would delete or rename it, so the path worked in
// stays the folder that was checked; empty when there is none.
struct Folder {
  Handle handle;
  std::string path;
};

Folder openFolder(const std::string& path) {
  Handle handle(::CreateFileW(widen(path).c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!handle) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return Folder();
    win32::raisePathError(error, path);
  }
  checkKind(handle, path, true);
  return {std::move(handle), path};
}

// The folder and any missing above it; under the user's profile they inherit its ACL, the
// user's alone.
void createFolders(const std::string& path) {
  for (bool again = true;; again = false) {
    if (::CreateDirectoryW(widen(path).c_str(), nullptr)) return;
    const DWORD error = ::GetLastError();
    if (error == ERROR_ALREADY_EXISTS) return;
    const size_t cut = path.find_last_of("\\/");
    if (!again || error != ERROR_PATH_NOT_FOUND || cut == std::string::npos || cut == 0)
      win32::raisePathError(error, path);
    createFolders(path.substr(0, cut));
  }
}

Folder projectFolder(const std::string& path) {
  createFolders(path);
  Folder folder = openFolder(path);
  if (!folder.handle) win32::raisePathError(ERROR_PATH_NOT_FOUND, path);  // removed again since it was made
  return folder;
}

// A name beside `path` that no list takes for a report or state: "<path>.xxxxxx".
std::wstring besideName(const std::wstring& path) {
  static LONG counter = static_cast<LONG>(::GetTickCount() ^ ::GetCurrentProcessId() << 16);
  auto n = static_cast<uint32_t>(::InterlockedIncrement(&counter)) * 2654435761u;
  std::wstring name = path + L'.';
  for (int i = 0; i < 6; ++i, n /= 36) name += L"abcdefghijklmnopqrstuvwxyz0123456789"[n % 36];
  return name;
}

// A file beside `path` that no one holds yet; CREATE_NEW never opens what another planted there.
Handle createBeside(const std::wstring& path, std::wstring& name) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    name = besideName(path);
    Handle handle(::CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (handle || ::GetLastError() != ERROR_FILE_EXISTS) return handle;
  }
  ::SetLastError(ERROR_FILE_EXISTS);
  return Handle();
}

// Renames the file open as `file`, whatever its name now leads to.
bool rename(HANDLE file, const std::wstring& target, bool replace) {
  std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t));
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  info->ReplaceIfExists = replace;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
  std::copy(target.begin(), target.end(), info->FileName);
  return ::SetFileInformationByHandle(file, FileRenameInfo, info, static_cast<DWORD>(buffer.size())) != 0;
}

bool writeAll(HANDLE file, std::string_view bytes) {
  for (std::string_view left = bytes; !left.empty();) {
    DWORD written = 0;
    if (!::WriteFile(file, left.data(), static_cast<DWORD>(std::min<size_t>(left.size(), 1u << 30)), &written, nullptr))
      return false;
    left.remove_prefix(written);
  }
  return true;
}

// Written to a new file beside `name` and moved over it in one step (once it is on disk when
// `durable`): a reader sees the old bytes or the new ones whole, and a failed write leaves
// nothing behind.
void replace(const Folder& folder, const std::string& name, std::string_view bytes, bool durable) {
  const std::string path = folder.path + "\\" + name;
  std::wstring temporary;
  Handle file = createBeside(widen(path), temporary);
  if (!file) win32::raisePathError(::GetLastError(), path);
  bool done = writeAll(file.get(), bytes);
  done = done && (!durable || ::FlushFileBuffers(file.get()));
  file.reset();  // closed before the move, which Windows refuses for an open file
  done = done && ::MoveFileExW(temporary.c_str(), widen(path).c_str(),
                               MOVEFILE_REPLACE_EXISTING | (durable ? MOVEFILE_WRITE_THROUGH : 0));
  if (done) return;
  const DWORD error = ::GetLastError();
  ::DeleteFileW(temporary.c_str());
  win32::raisePathError(error, path);
}

std::string readUpTo(HANDLE file, size_t most, const std::string& path) {
  std::string content;
  char chunk[65536];
  while (content.size() < most) {
    DWORD read = 0;
    const auto want = static_cast<DWORD>(std::min(sizeof chunk, most - content.size()));
    if (!::ReadFile(file, chunk, want, &read, nullptr)) win32::raisePathError(::GetLastError(), path);
    if (read == 0) break;
    content.append(chunk, read);
  }
  return content;
}

class Win32Claim : public OutboxStore::Claim {
 public:
  Win32Claim(Folder folder, Handle file, std::string name, std::string path)
      : folder_(std::move(folder)), file_(std::move(file)), name_(std::move(name)), path_(std::move(path)) {}

  std::string read(size_t most) override {
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(held(), start, nullptr, FILE_BEGIN)) win32::raisePathError(::GetLastError(), path_);
    return readUpTo(held(), most, path_);
  }

  // Deleted through the handle held. A reader that still has it open (a virus scanner) keeps
  // a deleted file's name until it lets go, and Wine even opens a file in that state again: the
  // report first leaves its name for one no list or claim takes.
  void remove() override {
    rename(held(), besideName(widen(path_)), false);
    FILE_DISPOSITION_INFO gone{TRUE};
    if (!::SetFileInformationByHandle(held(), FileDispositionInfo, &gone, sizeof gone))
      win32::raisePathError(::GetLastError(), path_);
    file_.reset();
  }

  void reject(const std::string& why) override {
    const std::string path = folder_.path + "\\" + kRejected;
    if (!::CreateDirectoryW(widen(path).c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS)
      win32::raisePathError(::GetLastError(), path);
    const Folder rejected = openFolder(path);
    if (!rejected.handle) win32::raisePathError(ERROR_PATH_NOT_FOUND, path);
    replace(rejected, name_ + std::string(kReason), why, true);
    if (!rename(held(), widen(path + "\\" + name_ + std::string(kReport)), true))
      win32::raisePathError(::GetLastError(), path_);
  }

 private:
  HANDLE held() const {
    if (!file_) win32::raisePathError(ERROR_INVALID_HANDLE, path_);
    return file_.get();
  }

  Folder folder_;
  Handle file_;
  std::string name_, path_;
};

// A report or state file as an ordinary file, never through a reparse point; an empty handle
// when it is not there, or, for a claim, when another holds it.
Handle openFile(const std::string& path, DWORD access, DWORD share, bool claiming) {
  Handle file(::CreateFileW(widen(path).c_str(), access, share, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT,
                            nullptr));
  if (!file) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || (claiming && error == ERROR_SHARING_VIOLATION)) return file;
    if (error == ERROR_ACCESS_DENIED) {
      const DWORD attributes = ::GetFileAttributesW(widen(path).c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        refusePermission(path, "is not an ordinary file");
    }
    win32::raisePathError(error, path);
  }
  checkKind(file, path, false);
  return file;
}

// The files of the folder at `path` whose names end in `suffix`, ordinary ones only, in the
// order of their names; or, with `suffix` empty, every ordinary file that is none of ours (the
// temporaries), with the moments they were last written.
std::vector<OutboxStore::Entry> filesIn(const std::string& path, std::string_view suffix,
                                        std::vector<FILETIME>* written = nullptr) {
  std::vector<OutboxStore::Entry> out;
  WIN32_FIND_DATAW entry{};
  const HANDLE search =
      ::FindFirstFileExW(widen(path + "\\*").c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) return out;
    win32::raisePathError(error, path);
  }
  do {
    const std::string name = narrow(entry.cFileName);
    const bool ours = endsWith(name, kReport) || endsWith(name, kState) || endsWith(name, kReason);
    if ((suffix.empty() ? ours || name[0] == '.' : !endsWith(name, suffix)) ||
        (entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)))
      continue;
    out.push_back({name.substr(0, name.size() - suffix.size()), uint64_t{entry.nFileSizeHigh} << 32 | entry.nFileSizeLow});
    if (written != nullptr) written->push_back(entry.ftLastWriteTime);
  } while (::FindNextFileW(search, &entry));
  ::FindClose(search);
  if (written == nullptr)
    std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
  return out;
}

}  // namespace

std::string Win32OutboxStore::folderOf(const std::string& project) const {
  checkName(project);
  std::string root = root_ ? *root_ : defaultRoot();
  while (root.size() > 1 && (root.back() == '\\' || root.back() == '/')) root.pop_back();
  return root + "\\" + project;
}

std::vector<OutboxStore::Entry> Win32OutboxStore::list(const std::string& project) {
  const Folder folder = openFolder(folderOf(project));
  if (!folder.handle) return {};
  return filesIn(folder.path, kReport);
}

std::vector<OutboxStore::Entry> Win32OutboxStore::listRejected(const std::string& project) {
  const Folder folder = openFolder(folderOf(project) + "\\" + kRejected);
  if (!folder.handle) return {};
  return filesIn(folder.path, kReport);
}

void Win32OutboxStore::removeRejected(const std::string& project, const std::string& name) {
  checkName(name);
  const Folder folder = openFolder(folderOf(project) + "\\" + kRejected);
  if (!folder.handle) return;
  for (const std::string_view suffix : {kReport, kReason}) {
    const std::string path = folder.path + "\\" + name + std::string(suffix);
    if (!::DeleteFileW(widen(path).c_str()) && ::GetLastError() != ERROR_FILE_NOT_FOUND)
      win32::raisePathError(::GetLastError(), path);
  }
}

uint64_t Win32OutboxStore::sweep(const std::string& project, double seconds) {
  uint64_t young = 0;
  FILETIME now{};
  ::GetSystemTimeAsFileTime(&now);
  const auto sweepIn = [&](const std::string& path) {
    const Folder folder = openFolder(path);
    if (!folder.handle) return;
    std::vector<FILETIME> written;
    const std::vector<Entry> found = filesIn(folder.path, "", &written);
    const auto ticks = [](const FILETIME& t) { return uint64_t{t.dwHighDateTime} << 32 | t.dwLowDateTime; };
    for (size_t i = 0; i < found.size(); ++i) {
      const double age = (static_cast<double>(ticks(now)) - static_cast<double>(ticks(written[i]))) / 1e7;
      if (age < seconds) young += found[i].bytes;
      else ::DeleteFileW(widen(folder.path + "\\" + found[i].name).c_str());  // another sweeper may have been first
    }
  };
  sweepIn(folderOf(project));
  sweepIn(folderOf(project) + "\\" + kRejected);
  return young;
}

void Win32OutboxStore::put(const std::string& project, const std::string& name, std::string_view bytes) {
  checkName(name);
  replace(projectFolder(folderOf(project)), name + std::string(kReport), bytes, false);
  unsynced_.put(project, name);
}

void Win32OutboxStore::sync(const std::string& project) {
  const UnsyncedReports::Taken taken = unsynced_.take(project);
  const Folder folder = openFolder(folderOf(project));
  if (!folder.handle) return;
  std::vector<std::string> names = taken.names;
  if (taken.everything)
    for (const Entry& entry : filesIn(folder.path, kReport)) names.push_back(entry.name);
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string path = folder.path + "\\" + names[i] + std::string(kReport);
    // Write access is needed to flush; one a sender holds is synced on a later pass if it stays.
    const Handle file(::CreateFileW(widen(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    const DWORD error = file ? (::FlushFileBuffers(file.get()) ? ERROR_SUCCESS : ::GetLastError()) : ::GetLastError();
    if (error == ERROR_SUCCESS || error == ERROR_FILE_NOT_FOUND) continue;
    if (error == ERROR_SHARING_VIOLATION) {
      unsynced_.put(project, names[i]);
      continue;
    }
    unsynced_.giveBack(project, taken);
    win32::raisePathError(error, path);
  }
  // The names' own record; a file system that cannot flush a folder keeps it by its journal.
  const Handle record(::CreateFileW(widen(folder.path).c_str(), GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (record) ::FlushFileBuffers(record.get());
}

std::vector<std::string> Win32OutboxStore::stateKeys(const std::string& project, const std::string& prefix) {
  const Folder folder = openFolder(folderOf(project));
  if (!folder.handle) return {};
  std::vector<std::string> keys;
  for (const Entry& entry : filesIn(folder.path, kState))
    if (entry.name.starts_with(prefix)) keys.push_back(entry.name);
  return keys;
}

// A state another is removing at the same moment is no longer there to open: "access denied"
// while its deletion is pending, then "not found". Either way this call did not remove it.
bool Win32OutboxStore::removeState(const std::string& project, const std::string& key) {
  checkName(key);
  const Folder folder = openFolder(folderOf(project));
  if (!folder.handle) return false;
  const std::string path = folder.path + "\\" + key + std::string(kState);
  if (::DeleteFileW(widen(path).c_str())) return true;
  const DWORD error = ::GetLastError();
  if (error == ERROR_FILE_NOT_FOUND) return false;
  if (error == ERROR_ACCESS_DENIED) {
    const DWORD attributes = ::GetFileAttributesW(widen(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
    refusePermission(path, "is not an ordinary file");
  }
  win32::raisePathError(error, path);
}

std::unique_ptr<OutboxStore::Claim> Win32OutboxStore::claim(const std::string& project, const std::string& name) {
  checkName(name);
  Folder folder = openFolder(folderOf(project));
  if (!folder.handle) return nullptr;
  const std::string path = folder.path + "\\" + name + std::string(kReport);
  // The claim is the open itself, the same for threads and processes and undone by the system
  // when the holder dies: write access shared with no one, so a second claimer's open fails
  // with a sharing violation, while readers and the holder's own delete or rename get in. Wine's
  // server checks share modes for every process alike. Not LockFileEx: a second claimer would
  // still hold a handle that can delete or rename the report under the lock's holder.
  Handle file = openFile(path, GENERIC_READ | FILE_WRITE_DATA | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE, true);
  if (!file) return nullptr;
  return std::make_unique<Win32Claim>(std::move(folder), std::move(file), name, path);
}

std::optional<std::string> Win32OutboxStore::state(const std::string& project, const std::string& key) {
  checkName(key);
  const Folder folder = openFolder(folderOf(project));
  if (!folder.handle) return std::nullopt;
  const std::string path = folder.path + "\\" + key + std::string(kState);
  const Handle file = openFile(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, false);
  if (!file) return std::nullopt;
  return readUpTo(file.get(), 4096, path);
}

void Win32OutboxStore::setState(const std::string& project, const std::string& key, std::string_view value,
                                bool durable) {
  checkName(key);
  const Folder folder = projectFolder(folderOf(project));
  if (durable) return replace(folder, key + std::string(kState), value, true);
  // A hint is rewritten where it stands, a new file per report costing more than the rest; a
  // reader may meet it half written.
  const std::string path = folder.path + "\\" + key + std::string(kState);
  Handle file(::CreateFileW(widen(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) win32::raisePathError(::GetLastError(), path);
  checkKind(file, path, false);
  if (!writeAll(file.get(), value) || !::SetEndOfFile(file.get())) win32::raisePathError(::GetLastError(), path);
}

}  // namespace quenvar
