#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

#include "platform/file_system.h"
#include "platform/posix/descriptor.h"

namespace quenvar {

class PosixFileSystem : public FileSystem {
 public:
  char separator() const override { return '/'; }
  bool fileExists(const std::string& path) override;
  bool exists(const std::string& path) override;
  void createFolder(const std::string& path) override;
  void deleteFile(const std::string& path) override;
  std::unique_ptr<OpenFile> open(const std::string& path, Mode mode) override;
  std::string currentDirectory() override;
};

namespace posix {

// All of `data`, through interrupted and partial writes.
void writeAll(int fd, std::string_view data);
// The whole file; a missing one reads as empty (nothing saved yet).
std::string readPrivateFile(const std::string& path);
// The folder and any missing above it, each readable by the user alone.
void createPrivateFolders(const std::string& folder);
// 70 "Permission denied: <path> <why>".
[[noreturn]] void refusePermission(const std::string& path, const char* why);
// A folder only this user may change, opened without following a link; empty when there is none.
// Another user who owns or may write it could swap what is inside, and a link may lead anywhere:
// each is refused with 70. Work through the descriptor, so a folder put in its place after the
// check is never touched.
Descriptor openPrivateFolder(const std::string& folder);
// What `fd` holds from where it stands, `most` bytes at most.
std::string readUpTo(int fd, size_t most, const std::string& path);

// A new file beside `path` that takes its place in one rename, so a reader sees the old content
// or the new one whole and a write that fails (a full disk) leaves the old one as it was.
class Replacement {
 public:
  // `mode`: what the file may be read and written by once it is in place; until then it is the
  // user's alone, so nothing half written is seen by others. `durable`: the content and the
  // rename are on disk before commit() returns.
  Replacement(std::string path, mode_t mode, bool durable);
  // `name` in the folder open as `folder`, which stays open while this lives: whatever comes to
  // stand at the folder's path meanwhile is never written.
  Replacement(int folder, std::string name, mode_t mode, bool durable);
  // Not committed: the new file goes and `path` stays as it was.
  ~Replacement();
  Replacement(const Replacement&) = delete;
  Replacement& operator=(const Replacement&) = delete;

  void write(std::string_view data);
  void commit();

 private:
  void discard();
  void syncFolder() const;

  int folder_;
  std::string name_;
  std::string temporary_;
  int fd_ = -1;
  mode_t mode_;
  bool durable_;
};

}  // namespace posix

}  // namespace quenvar
