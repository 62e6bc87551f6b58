#pragma once
// Where forms become windows. The backend renders any form model and feeds it the user's
// actions; the dialogs' logic never sees a window handle.

namespace quenvar {

class Form;

class WindowSystem {
 public:
  virtual ~WindowSystem() = default;
  // Shows `form` modally without an owner window, so the thread's other windows take no input
  // until it closes. Raises onResize and onActivate as the window is shown, onActivate again
  // when a form shown over it closes (never for another application or a message box), and
  // renders whatever each handler changed. Returns once the form has unloaded. Throws
  // AutomationError when no window can be shown, or rethrows what a handler threw after
  // closing the window.
  virtual void showModal(Form& form) = 0;
  // The form's mousePointer changed while a handler runs: shows it now if the pointer is over
  // the form, not only after the next mouse move.
  virtual void showPointer(const Form& /*form*/) {}
};

}  // namespace quenvar
