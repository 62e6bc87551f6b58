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
#include "platform/posix/crash_capture_posix.h"

namespace quenvar {

// The native library's composition root. Never destroyed: the collector's worker may still be
// sending while the process ends, and a service destroyed under it would end the process badly.
Platform& defaultPlatform() {
  static Platform& platform = *[] {
    auto* files = new PosixFileSystem;
    auto* clock = new PosixClock;
    auto* locale = new PosixLocaleText;
    auto* settings = new IniSettingsStore;
    auto* eventLog = new SyslogEventLog;
    auto* launcher = new EditorLauncher;
    auto* messageBox = new StderrMessageBox;
    auto* os = new PosixOsFacts;
    auto* module = new DladdrModuleInfo;
    auto* windows = new HeadlessWindowSystem;
    auto* clipboard = new InProcessClipboard;
    auto* pointer = new RecordedMousePointer;
    auto* shell = new XdgShellLauncher;
    auto* mailClient = new NoMailClientAutomation;
    auto* network = new PosixNetwork;
    auto* secrets = new FileSecretStore(*settings);
    auto* http = new CurlHttpService;
    auto* outbox = new PosixOutboxStore;
    auto* crash = new PosixCrashCapture;
    return new Platform{.files = files,
                        .clock = clock,
                        .locale = locale,
                        .settings = settings,
                        .eventLog = eventLog,
                        .launcher = launcher,
                        .messageBox = messageBox,
                        .os = os,
                        .module = module,
                        .windows = windows,
                        .clipboard = clipboard,
                        .pointer = pointer,
                        .shell = shell,
                        .mailClient = mailClient,
                        .network = network,
                        .secrets = secrets,
                        .http = http,
                        .outbox = outbox,
                        .crash = crash};
  }();
  return platform;
}

}  // namespace quenvar
