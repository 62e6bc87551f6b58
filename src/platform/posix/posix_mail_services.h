#pragma once
// The e-mail services of the Linux build. Clipboard and pointer are in-process stand-ins until
// the library has a Linux window system to own them.

#include <mutex>
#include <string>

#include "platform/clipboard.h"
#include "platform/mail_client_automation.h"
#include "platform/mouse_pointer.h"
#include "platform/network.h"
#include "platform/posix/posix_socket.h"
#include "platform/shell_launcher.h"

namespace quenvar {

// One for the process, as the system's is, so threads take turns at it.
class InProcessClipboard : public Clipboard {
 public:
  void setText(const std::string& text) override {
    std::string copy = text;
    const std::lock_guard lock(mutex_);
    text_.swap(copy);
  }
  std::string text() const {
    const std::lock_guard lock(mutex_);
    return text_;
  }

 private:
  mutable std::mutex mutex_;
  std::string text_;
};

class RecordedMousePointer : public MousePointer {
 public:
  void set(int value) override { value_ = value; }
  int value() const { return value_; }

 private:
  int value_ = kDefault;
};

// The desktop's opener (xdg-open) for the link; parameters and folder mean nothing to it.
class XdgShellLauncher : public ShellLauncher {
 public:
  static constexpr int64_t kStarted = 33;
  static constexpr int64_t kFileNotFound = 2;
  static constexpr int64_t kOutOfResources = 0;
  int64_t open(const std::string& file, const std::string& parameters, const std::string& folder) override;
};

// Linux has no Outlook automation server.
class PosixNetwork : public Network {
 public:
  std::unique_ptr<PumpedSocket> openSocket() override { return std::make_unique<PosixSocket>(clock_); }
  SteadyClock& clock() override { return clock_; }
  MailHost& host() override { return host_; }

 private:
  PosixSteadyClock clock_;
  PosixMailHost host_;
};

}  // namespace quenvar
