#pragma once
// The network the SMTP route uses: sockets, their steady clock, this machine's name.

#include <memory>

#include "platform/network.h"
#include "platform/posix/socket_posix.h"

namespace quenvar {

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
