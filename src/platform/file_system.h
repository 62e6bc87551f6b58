#pragma once
// Files and folders as the logic uses them. Paths and contents are UTF-8; a backend converts
// to what its platform stores (the ANSI code page on Windows). Failures raise AutomationError.

#include <memory>
#include <string>
#include <string_view>

namespace quenvar {

class OpenFile {
 public:
  virtual ~OpenFile() = default;
  virtual void write(std::string_view text) = 0;
  // Idempotent; a file that failed to write may still be closed.
  virtual void close() = 0;
};

class FileSystem {
 public:
  // Replace: the file keeps its old content until close() succeeds, then holds the new content
  // whole; a file dropped before that leaves nothing behind. Append: writes go to the end.
  // Either way a link is never followed and only an ordinary file is written.
  enum class Mode { Replace, Append };
  virtual ~FileSystem() = default;

  virtual char separator() const = 0;
  // An ordinary file (not a folder; on Windows not hidden or system either).
  virtual bool fileExists(const std::string& path) = 0;
  // Anything at all exists under that name.
  virtual bool exists(const std::string& path) = 0;
  // Creates that one folder; parents are not created.
  virtual void createFolder(const std::string& path) = 0;
  virtual void deleteFile(const std::string& path) = 0;
  virtual std::unique_ptr<OpenFile> open(const std::string& path, Mode mode) = 0;
  virtual std::string currentDirectory() = 0;
};

}  // namespace quenvar
