#include "platform/win32/message_box_win32.h"

#include "core/component.h"
#include "platform/win32/utf.h"
#include "platform/win32/windows_api.h"

namespace quenvar {

int Win32MessageBox::show(const std::string& text, const std::string& title, int style) {
  const std::wstring caption = win32::widen(title.empty() ? std::string(kComponentTitle) : title);
  // A component inside another program's process is rarely the foreground window when it fails.
  return ::MessageBoxW(nullptr, win32::widen(text).c_str(), caption.c_str(),
                       static_cast<UINT>(style) | MB_SETFOREGROUND);
}

}  // namespace quenvar
