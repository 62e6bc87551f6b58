#pragma once
// Where an SMTP session gets its connection, clock and host facts.

#include <memory>

#include "platform/socket.h"

namespace quenvar {

class Network {
 public:
  virtual ~Network() = default;
  // A new, closed connection that is also the pump its session waits on.
  virtual std::unique_ptr<PumpedSocket> openSocket() = 0;
  virtual SteadyClock& clock() = 0;
  virtual MailHost& host() = 0;
};

}  // namespace quenvar
