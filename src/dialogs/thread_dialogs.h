#pragma once
// The thread's two dialogs, each created on first use and reused.

#include <memory>

namespace quenvar {

class ErrorDialogHost;
class EmailSettingsDialog;

struct ThreadDialogs {
  std::shared_ptr<ErrorDialogHost> errorDialog;
  std::shared_ptr<EmailSettingsDialog> emailSettings;
};

}  // namespace quenvar
