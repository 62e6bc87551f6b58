#pragma once
// The network the SMTP route uses: sockets, their steady clock, this machine's name.

#include <memory>

#include "platform/network.h"
#include "platform/win32/socket_win32.h"

namespace quenvar {

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
