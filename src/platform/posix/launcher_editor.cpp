#include "platform/posix/launcher_editor.h"
#include "platform/posix/interrupted.h"

#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cerrno>
#include <system_error>
#include <thread>

#include "quenvar/automation_error.h"
#include "platform/posix/module_info_dladdr.h"

extern char** environ;

namespace quenvar {

namespace {

std::vector<std::string> words(std::string_view s) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    const size_t start = i;
    while (i < s.size() && s[i] != ' ' && s[i] != '\t') ++i;
    if (i > start) out.emplace_back(s.substr(start, i - start));
  }
  return out;
}

class SpawnAttributes {
 public:
  SpawnAttributes() {
    ::posix_spawnattr_init(&attributes_);
    // The editor starts as a freshly launched program would, not with the host's blocked or
    // ignored signals.
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    ::posix_spawnattr_setsigmask(&attributes_, &none);
    ::posix_spawnattr_setsigdefault(&attributes_, &all);
    ::posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  }
  ~SpawnAttributes() { ::posix_spawnattr_destroy(&attributes_); }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  const posix_spawnattr_t* get() const { return &attributes_; }

 private:
  posix_spawnattr_t attributes_;
};

}  // namespace

std::vector<std::string> EditorLauncher::editorCommand() {
  for (const char* name : {"VISUAL", "EDITOR"}) {
    const char* value = ::getenv(name);
    if (value == nullptr) continue;
    // A variable holding nothing but blanks names no program either.
    if (std::vector<std::string> command = words(value); !command.empty()) return command;
  }
  return {"xdg-open"};
}

int spawnDetached(std::vector<std::string> command) {
  std::vector<char*> argv;
  argv.reserve(command.size() + 1);
  for (std::string& word : command) argv.push_back(word.data());
  argv.push_back(nullptr);

  // The reaper thread runs this library's code for as long as the editor stays open.
  posix::keepLibraryLoaded();
  const SpawnAttributes attributes;
  pid_t pid = 0;
  if (const int error = ::posix_spawnp(&pid, argv[0], nullptr, attributes.get(), argv.data(), environ); error != 0)
    return error;

  // Not waited for, but collected when it ends so no zombie stays behind.
  try {
    std::thread([pid] {
      posix::retryInterrupted([pid] { return ::waitpid(pid, nullptr, 0); });
    }).detach();
  } catch (const std::system_error&) {
    // Without a thread the child stays a zombie until the host exits; the program is running
    // all the same, which is what was asked for.
  }
  return 0;
}

void EditorLauncher::openInEditor(const std::string& path) {
  std::vector<std::string> command = editorCommand();
  // A folder named "-x" or "+5" must not turn the path into an option or a command. Editors
  // end their options at "--"; the desktop's opener refuses "--", so it gets a path that cannot
  // begin with either.
  if (command.size() == 1 && command.front() == "xdg-open") {
    command.push_back(!path.empty() && path.front() == '/' ? path : "./" + path);
  } else {
    command.push_back("--");
    command.push_back(path);
  }
  const std::string program = command.front();
  if (spawnDetached(std::move(command)) != 0) throw AutomationError(err::kFileNotFound, "File not found: " + program);
}

}  // namespace quenvar
