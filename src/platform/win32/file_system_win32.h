#pragma once

#include "platform/file_system.h"

namespace quenvar {

class Win32FileSystem : public FileSystem {
 public:
  char separator() const override { return '\\'; }
  bool fileExists(const std::string& path) override;
  bool exists(const std::string& path) override;
  void createFolder(const std::string& path) override;
  void deleteFile(const std::string& path) override;
  std::unique_ptr<OpenFile> open(const std::string& path, Mode mode) override;
  std::string currentDirectory() override;
};

}  // namespace quenvar
