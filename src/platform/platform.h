#pragma once
// The services a handler uses. Each binary's composition root fills one with its backends;
// tests fill one with fakes.

#include "platform/clipboard.h"
#include "platform/clock.h"
#include "platform/crash_capture.h"
#include "platform/event_log.h"
#include "platform/file_system.h"
#include "platform/http_client.h"
#include "platform/launcher.h"
#include "platform/locale_text.h"
#include "platform/mail_client_automation.h"
#include "platform/message_box.h"
#include "platform/module_info.h"
#include "platform/mouse_pointer.h"
#include "platform/network.h"
#include "platform/os_facts.h"
#include "platform/outbox_store.h"
#include "platform/secret_store.h"
#include "platform/settings_store.h"
#include "platform/shell_launcher.h"
#include "platform/window_system.h"

namespace quenvar {

struct Platform {
  FileSystem* files;
  Clock* clock;
  LocaleText* locale;
  SettingsStore* settings;
  EventLog* eventLog;
  Launcher* launcher;
  MessageBoxService* messageBox;
  OsFacts* os;
  ModuleInfo* module;
  WindowSystem* windows;
  Clipboard* clipboard;
  MousePointer* pointer;  // screen-wide
  ShellLauncher* shell;
  MailClientAutomation* mailClient;
  Network* network;
  SecretStore* secrets;
  // The central collector's; a build or test without them (null) queues no report.
  HttpService* http = nullptr;
  OutboxStore* outbox = nullptr;
  // Catching the faults that end the process; null where the build has none.
  CrashCapture* crash = nullptr;
};

// The backends of this build.
Platform& defaultPlatform();

}  // namespace quenvar
