#pragma once
// A real folder for the files a scene writes, removed with everything in it.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace quenvar::faults {

struct TempFolder {
  std::string path;
  TempFolder() {
    std::string name = (std::filesystem::temp_directory_path() / "quenvar-faults-XXXXXX").string();
    path = ::mkdtemp(name.data()) ? name : std::string();
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  std::string file(const char* name) const { return path + "/" + name; }
  void write(const char* name, const std::string& text) const { std::ofstream(file(name), std::ios::binary) << text; }
  // The content; nothing when there is no such file.
  std::string read(const char* name) const {
    std::ifstream in(file(name), std::ios::binary);
    if (!in) return {};
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
};

}  // namespace quenvar::faults
