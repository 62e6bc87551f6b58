#pragma once
// One window's own pointer, as a MousePointer: it holds over that window until set back.

#include "platform/form.h"
#include "platform/mouse_pointer.h"
#include "platform/window_system.h"

namespace quenvar {

class FormPointer : public MousePointer {
 public:
  FormPointer(Form& form, WindowSystem& windows) : form_(form), windows_(windows) {}
  void set(int value) override {
    form_.mousePointer = value;
    windows_.showPointer(form_);
  }

 private:
  Form& form_;
  WindowSystem& windows_;
};

}  // namespace quenvar
