#include "platform/platform.h"
#include "platform/win32/registry_settings_store.h"
#include "platform/win32/win32_clock.h"
#include "platform/win32/win32_event_log.h"
#include "platform/win32/win32_file_system.h"
#include "platform/win32/win32_launcher.h"
#include "platform/win32/win32_locale_text.h"
#include "platform/win32/win32_mail_services.h"
#include "platform/win32/win32_message_box.h"
#include "platform/win32/win32_module_info.h"
#include "platform/win32/win32_os_facts.h"
#include "platform/win32/win32_window_system.h"

namespace quenvar {

Platform& defaultPlatform() {
  static Win32FileSystem files;
  static Win32Clock clock;
  static Win32LocaleText locale;
  static RegistrySettingsStore settings;
  static Win32EventLog eventLog;
  static Win32Launcher launcher;
  static Win32MessageBox messageBox;
  static Win32OsFacts os;
  static Win32ModuleInfo module;
  static Win32WindowSystem windows;
  static Win32Clipboard clipboard;
  static Win32MousePointer pointer;
  static Win32ShellLauncher shell;
  static Win32Network network;
  // The mail client's automation needs the component's IDispatch adapter: the DLL installs it.
  static Platform platform{&files,  &clock,   &locale,    &settings, &eventLog, &launcher, &messageBox, &os,
                           &module, &windows, &clipboard, &pointer,  &shell,    nullptr,   &network};
  return platform;
}

}  // namespace quenvar
