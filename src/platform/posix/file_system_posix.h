#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

#include "platform/file_system.h"

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

// A new file beside `path` that takes its place in one rename, so a reader sees the old content
// or the new one whole and a write that fails (a full disk) leaves the old one as it was.
class Replacement {
 public:
  // `durable`: the content and the rename are on disk before commit() returns.
  Replacement(std::string path, mode_t mode, bool durable);
  // Not committed: the new file goes and `path` stays as it was.
  ~Replacement();
  Replacement(const Replacement&) = delete;
  Replacement& operator=(const Replacement&) = delete;

  int descriptor() const { return fd_; }
  void write(std::string_view data);
  void commit();

 private:
  void discard();

  std::string path_;
  std::string temporary_;
  int fd_ = -1;
  bool durable_;
};

}  // namespace posix

}  // namespace quenvar
