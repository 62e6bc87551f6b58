#include "platform/win32/mouse_pointer_win32.h"

#include "platform/win32/windows_api.h"

namespace quenvar {

void Win32MousePointer::set(int value) {
  ::SetCursor(::LoadCursorA(nullptr, value == kBusy ? IDC_WAIT : IDC_ARROW));
}

}  // namespace quenvar
