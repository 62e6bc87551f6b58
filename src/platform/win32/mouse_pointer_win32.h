#pragma once

#include "platform/mouse_pointer.h"
#include "platform/win32/windows_api.h"

namespace quenvar {

// The pointer over every window of the calling thread (the client's and the component's):
// busy holds through mouse moves until set back, as a client's own windows would otherwise
// put their cursor back at the first move.
class Win32MousePointer : public MousePointer {
 public:
  void set(int value) override;
};

// Has the window under the pointer choose its cursor again now, rather than at the next mouse
// move, if it is `root` or inside it (no root: any window of the calling thread).
void askForCursor(HWND root);

}  // namespace quenvar
