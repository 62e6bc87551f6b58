#include "platform/posix/launcher_editor.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "quenvar/automation_error.h"
#include "temp_folder.h"

namespace quenvar {
namespace {

using namespace std::chrono_literals;
using testing::ScopedEnv;
using testing::TempFolder;

bool eventually(const std::function<bool()>& condition) {
  for (auto until = std::chrono::steady_clock::now() + 10s; std::chrono::steady_clock::now() < until;) {
    if (condition()) return true;
    std::this_thread::sleep_for(10ms);
  }
  return condition();
}

// A stand-in editor: records its arguments, one per NUL, and its process id.
std::string writeEditor(const TempFolder& dir, const std::string& name) {
  const std::string script = dir / name;
  testing::writeAll(script, "#!/bin/sh\n"
                            "printf '%s\\0' \"$@\" > '" + script + ".args.tmp'\n"
                            "echo $$ > '" + script + ".pid'\n"
                            "mv '" + script + ".args.tmp' '" + script + ".args'\n");
  ::chmod(script.c_str(), 0755);
  return script;
}

std::vector<std::string> argumentsOf(const std::string& script) {
  const std::string path = script + ".args";
  if (!eventually([&] { return std::filesystem::exists(path); })) return {"(never ran)"};
  const std::string raw = testing::readAll(path);
  std::vector<std::string> args;
  for (size_t start = 0, end; (end = raw.find('\0', start)) != std::string::npos; start = end + 1)
    args.push_back(raw.substr(start, end - start));
  return args;
}

TEST(EditorLauncher, VisualWinsAndItsWordsBecomeArguments) {
  TempFolder dir;
  const std::string visual = writeEditor(dir, "visual.sh");
  const std::string editor = writeEditor(dir, "editor.sh");
  ScopedEnv v("VISUAL", (visual + "  -w\t--wait ").c_str());
  ScopedEnv e("EDITOR", editor.c_str());
  const std::string path = dir / "Error log; rm -rf $HOME.txt";
  EditorLauncher().openInEditor(path);
  EXPECT_EQ(argumentsOf(visual), (std::vector<std::string>{"-w", "--wait", "--", path}));
  std::this_thread::sleep_for(100ms);
  EXPECT_FALSE(std::filesystem::exists(editor + ".args"));
}

TEST(EditorLauncher, EmptyOrBlankVisualFallsBackToEditor) {
  TempFolder dir;
  const std::string editor = writeEditor(dir, "editor.sh");
  ScopedEnv e("EDITOR", (editor + "\t+1").c_str());
  for (const char* visual : {"", " \t "}) {
    ScopedEnv v("VISUAL", visual);
    std::filesystem::remove(editor + ".args");
    EditorLauncher().openInEditor(dir / "a b");
    EXPECT_EQ(argumentsOf(editor), (std::vector<std::string>{"+1", "--", dir / "a b"}));
  }
  ScopedEnv v("VISUAL", nullptr);
  ScopedEnv none("EDITOR", "");
  EXPECT_EQ(EditorLauncher::editorCommand(), std::vector<std::string>{"xdg-open"});
}

// A log folder named like an option or an editor command stays part of a file name, for the
// user's editor and for the desktop's opener alike.
TEST(EditorLauncher, PathsThatLookLikeOptionsStayFileNames) {
  TempFolder dir;
  const std::string editor = writeEditor(dir, "editor.sh");
  const std::string opener = writeEditor(dir, "xdg-open");
  ScopedEnv path("PATH", (dir.path() + ":" + (::getenv("PATH") ? ::getenv("PATH") : "")).c_str());
  struct Case {
    const char* visual;  // nullptr: no editor named, the opener is used
    std::string path;
    std::vector<std::string> arguments;
  };
  const Case cases[] = {
      {editor.c_str(), "-x/Error.log", {"--", "-x/Error.log"}},
      {editor.c_str(), "+5/Trace.log", {"--", "+5/Trace.log"}},
      {nullptr, "-x/Error.log", {"./-x/Error.log"}},
      {nullptr, "+5/Trace.log", {"./+5/Trace.log"}},
      {nullptr, "/-x/Error.log", {"/-x/Error.log"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    ScopedEnv v("VISUAL", c.visual);
    ScopedEnv e("EDITOR", nullptr);
    const std::string program = c.visual ? editor : opener;
    std::filesystem::remove(program + ".args");
    EditorLauncher().openInEditor(c.path);
    EXPECT_EQ(argumentsOf(program), c.arguments);
  }
}

TEST(EditorLauncher, TheEditorIsReapedWhenItEnds) {
  TempFolder dir;
  const std::string editor = writeEditor(dir, "editor.sh");
  ScopedEnv v("VISUAL", editor.c_str());
  EditorLauncher().openInEditor(dir / "f");
  ASSERT_EQ(argumentsOf(editor), (std::vector<std::string>{"--", dir / "f"}));
  const std::string pid = testing::readAll(editor + ".pid");
  const std::string proc = "/proc/" + pid.substr(0, pid.find('\n'));
  // A finished child nobody waits for stays listed as a zombie.
  EXPECT_TRUE(eventually([&] { return !std::filesystem::exists(proc); })) << proc << " still exists";
}

TEST(EditorLauncher, AProgramThatCannotStartRaisesFileNotFound) {
  TempFolder dir;
  ScopedEnv v("VISUAL", (dir / "no-such-editor --flag").c_str());
  try {
    EditorLauncher().openInEditor(dir / "f");
    ADD_FAILURE() << "nothing could have started";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), err::kFileNotFound);
    EXPECT_EQ(e.description(), "File not found: " + (dir / "no-such-editor"));
  }
}

}  // namespace
}  // namespace quenvar
