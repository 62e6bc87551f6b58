#pragma once
// The hand-off to the calling thread's error dialog: members are assigned one by one, then the
// dialog is refreshed and shown modally. Any step may fail with AutomationError.

#include <string_view>

#include "quenvar/variant.h"

namespace quenvar {

struct Platform;
class ThreadState;

class ErrorDialogHost {
 public:
  virtual ~ErrorDialogHost() = default;
  virtual void assign(std::string_view member, const Variant& value) = 0;
  virtual void refresh() = 0;
  // Returns when the user has closed the dialog.
  virtual void showModal() = 0;
};

// The thread's single dialog, created on first use in `state` and reused for every later error.
ErrorDialogHost& threadErrorDialog(Platform& platform, ThreadState& state);

}  // namespace quenvar
