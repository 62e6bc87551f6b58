#pragma once
// Every Windows backend, for a binary's composition root to wire into its Platform. The mail
// client's automation needs the COM layer above the backends: the root brings it.

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

struct Win32Backends {
  Win32FileSystem files;
  Win32Clock clock;
  Win32LocaleText locale;
  RegistrySettingsStore settings;
  Win32EventLog eventLog;
  Win32Launcher launcher;
  Win32MessageBox messageBox;
  Win32OsFacts os;
  Win32ModuleInfo module;
  Win32WindowSystem windows;
  Win32Clipboard clipboard;
  Win32MousePointer pointer;
  Win32ShellLauncher shell;
  Win32Network network;

  Platform platform(MailClientAutomation& mailClient) {
    return {.files = &files,
            .clock = &clock,
            .locale = &locale,
            .settings = &settings,
            .eventLog = &eventLog,
            .launcher = &launcher,
            .messageBox = &messageBox,
            .os = &os,
            .module = &module,
            .windows = &windows,
            .clipboard = &clipboard,
            .pointer = &pointer,
            .shell = &shell,
            .mailClient = &mailClient,
            .network = &network};
  }
};

}  // namespace quenvar
