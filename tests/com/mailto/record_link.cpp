// Stands in for a mail client as the "mailto" protocol handler: appends the link it was started
// with, one per line, to the file named by QUENVAR_MAILTO_LOG, so a test can read what arrived.
#include <windows.h>

#include <cstring>
#include <string>

int main() {
  // The raw command line, not argv: argv parsing could alter what the launcher passed.
  std::string line = ::GetCommandLineA();
  size_t at = 0;
  if (!line.empty() && line[0] == '"') {
    const size_t close = line.find('"', 1);
    at = close == std::string::npos ? line.size() : close + 1;
  } else {
    while (at < line.size() && line[at] != ' ' && line[at] != '\t') ++at;
  }
  while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
  std::string link = line.substr(at);
  // The handler's command quotes "%1"; the quotes are the launcher's, not the link's.
  if (link.size() >= 2 && link.front() == '"' && link.back() == '"') link = link.substr(1, link.size() - 2);

  char path[MAX_PATH * 2];
  const DWORD length = ::GetEnvironmentVariableA("QUENVAR_MAILTO_LOG", path, sizeof path);
  if (length == 0 || length >= sizeof path) return 2;
  const HANDLE file = ::CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 3;
  link += '\n';
  DWORD written = 0;
  const BOOL ok = ::WriteFile(file, link.data(), static_cast<DWORD>(link.size()), &written, nullptr);
  ::CloseHandle(file);
  return ok && written == link.size() ? 0 : 4;
}
