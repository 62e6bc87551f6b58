#pragma once
// Every Windows backend, for a binary's composition root to wire into its Platform. The mail
// client's automation needs the COM layer above the backends: the root brings it.

#include "platform/platform.h"
#include "platform/win32/settings_store_registry.h"
#include "platform/win32/secret_store_dpapi.h"
#include "platform/win32/clock_win32.h"
#include "platform/win32/crash_capture_win32.h"
#include "platform/win32/event_log_win32.h"
#include "platform/win32/file_system_win32.h"
#include "platform/win32/http_winhttp.h"
#include "platform/win32/launcher_win32.h"
#include "platform/win32/locale_text_win32.h"
#include "platform/win32/clipboard_win32.h"
#include "platform/win32/mouse_pointer_win32.h"
#include "platform/win32/network_win32.h"
#include "platform/win32/shell_launcher_win32.h"
#include "platform/win32/message_box_win32.h"
#include "platform/win32/module_info_win32.h"
#include "platform/win32/os_facts_win32.h"
#include "platform/win32/outbox_store_win32.h"
#include "platform/win32/window_system_win32.h"

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
  DpapiSecretStore secrets;
  WinHttpService http;
  Win32OutboxStore outbox;
  Win32CrashCapture crash;

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
            .network = &network,
            .secrets = &secrets,
            .http = &http,
            .outbox = &outbox,
            .crash = &crash};
  }
};

}  // namespace quenvar
