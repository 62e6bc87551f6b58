#pragma once
// State that exists once per thread and is shared by every handler object of that thread
// (the objects of one apartment), never across threads. Where it is kept is the platform's
// business: a DLL must free it at thread detach rather than rely on its runtime's thread_local.

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quenvar {

class Procedures;
class EmailSettingsDialog;
class ErrorDialogHost;

struct ThreadState {
  // Parameter lists of the stack entries, by stack index. No table at all until the first
  // Push of the thread; a slot may hold no list yet.
  std::optional<std::vector<std::shared_ptr<Procedures>>> procParams;

  // Mail values shared with the settings dialog; never persisted.
  std::string mailServer;
  std::string fromName;
  std::string fromEmail;
  // The latest complete SMTP reply not yet matched; a later session still sees it.
  std::string smtpReply;

  // The thread's two dialogs, each created on first use and reused.
  std::shared_ptr<ErrorDialogHost> errorDialog;
  std::shared_ptr<EmailSettingsDialog> emailSettings;
};

ThreadState& threadState();

}  // namespace quenvar
