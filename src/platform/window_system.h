#pragma once
// The hand-off to the calling thread's error dialog: members are assigned one by one, then
// the dialog is refreshed and shown modally. Any step may fail with AutomationError.

#include <string_view>

#include "core/variant.h"

namespace quenvar {

class ErrorDialogHost {
 public:
  virtual ~ErrorDialogHost() = default;
  virtual void assign(std::string_view member, const Variant& value) = 0;
  virtual void refresh() = 0;
  // Returns when the user has closed the dialog.
  virtual void showModal() = 0;
};

class EmailSettingsDialog;

class WindowSystem {
 public:
  virtual ~WindowSystem() = default;
  // The thread's single dialog instance, created on first use.
  virtual ErrorDialogHost& errorDialog() = 0;
  // Shows the e-mail settings dialog modally, without an owner: runs its load step, feeds it the
  // user's actions and returns once it has unloaded (a close box unloads it too).
  virtual void showEmailSettings(EmailSettingsDialog& dialog) = 0;
};

}  // namespace quenvar
