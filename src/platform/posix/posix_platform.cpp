#include "platform/platform.h"
#include "platform/posix/dladdr_module_info.h"
#include "platform/posix/editor_launcher.h"
#include "platform/headless_window_system.h"
#include "platform/posix/ini_settings_store.h"
#include "platform/posix/posix_clock.h"
#include "platform/posix/posix_file_system.h"
#include "platform/posix/posix_locale_text.h"
#include "platform/posix/posix_mail_services.h"
#include "platform/posix/posix_os_facts.h"
#include "platform/posix/stderr_message_box.h"
#include "platform/posix/syslog_event_log.h"

namespace quenvar {

// The native library's composition root.
Platform& defaultPlatform() {
  static PosixFileSystem files;
  static PosixClock clock;
  static PosixLocaleText locale;
  static IniSettingsStore settings;
  static SyslogEventLog eventLog;
  static EditorLauncher launcher;
  static StderrMessageBox messageBox;
  static PosixOsFacts os;
  static DladdrModuleInfo module;
  static HeadlessWindowSystem windows;
  static InProcessClipboard clipboard;
  static RecordedMousePointer pointer;
  static XdgShellLauncher shell;
  static NoMailClientAutomation mailClient;
  static PosixNetwork network;
  static Platform platform{.files = &files,
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
  return platform;
}

}  // namespace quenvar
