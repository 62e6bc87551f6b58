#pragma once

#include <string>
#include <vector>

#include "platform/launcher.h"

namespace quenvar {

// Starts `command` (program, then arguments) without a shell and without waiting; the child is
// reaped when it ends. Returns 0, or the errno of a failed start.
int spawnDetached(std::vector<std::string> command);

// The user's editor from $VISUAL, else $EDITOR, else the desktop's opener for the file; the path
// always reaches it as a file name, never as an option.
class EditorLauncher : public Launcher {
 public:
  void openInEditor(const std::string& path) override;

  // The program and its leading arguments; the variables are split on blanks, never through a shell.
  static std::vector<std::string> editorCommand();
};

}  // namespace quenvar
