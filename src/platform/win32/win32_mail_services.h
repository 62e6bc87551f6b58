#pragma once
// The desktop services the e-mail routes use: clipboard, pointer, shell and the network.

#include <memory>
#include <string>

#include "platform/clipboard.h"
#include "platform/mouse_pointer.h"
#include "platform/network.h"
#include "platform/shell_launcher.h"
#include "platform/win32/win32_socket.h"

namespace quenvar {

class Win32Clipboard : public Clipboard {
 public:
  void setText(const std::string& text) override;
};

class Win32MousePointer : public MousePointer {
 public:
  void set(int value) override;
};

class Win32ShellLauncher : public ShellLauncher {
 public:
  int64_t open(const std::string& file, const std::string& parameters, const std::string& folder) override;
};

class Win32Network : public Network {
 public:
  std::unique_ptr<PumpedSocket> openSocket() override { return std::make_unique<Win32Socket>(clock_); }
  SteadyClock& clock() override { return clock_; }
  MailHost& host() override { return host_; }

 private:
  Win32SteadyClock clock_;
  Win32MailHost host_;
};

}  // namespace quenvar
