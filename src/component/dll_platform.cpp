// The DLL's composition root: the Windows backends and this component's mail client automation.

#include "outlook_automation.h"
#include "platform/win32/win32_backends.h"

namespace quenvar {

Platform& defaultPlatform() {
  // Made by the first handler, not at load: no backend is built under the loader lock.
  static Win32Backends backends;
  static com::OutlookAutomation outlook;
  static Platform platform = backends.platform(outlook);
  return platform;
}

}  // namespace quenvar
