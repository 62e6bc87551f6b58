#include "platform/platform.h"
#include "platform/posix/module_info_dladdr.h"
#include "platform/posix/launcher_editor.h"
#include "platform/window_system_headless.h"
#include "platform/posix/settings_store_ini.h"
#include "platform/posix/secret_store_file.h"
#include "platform/posix/clock_posix.h"
#include "platform/posix/file_system_posix.h"
#include "platform/posix/locale_text_posix.h"
#include "platform/posix/clipboard_in_process.h"
#include "platform/posix/mouse_pointer_recorded.h"
#include "platform/posix/network_posix.h"
#include "platform/posix/shell_launcher_xdg.h"
#include "platform/posix/os_facts_posix.h"
#include "platform/posix/message_box_stderr.h"
#include "platform/posix/event_log_syslog.h"
#include "platform/posix/http_curl.h"
#include "platform/posix/outbox_store_posix.h"

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
  static FileSecretStore secrets(settings);
  static CurlHttpService http;
  static PosixOutboxStore outbox;
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
                           .network = &network,
                           .secrets = &secrets,
                           .http = &http,
                           .outbox = &outbox};
  return platform;
}

}  // namespace quenvar
