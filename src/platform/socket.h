#pragma once
// The few network and time services an SMTP session needs: a TCP connection whose received data
// arrives through the thread's event loop, that loop, a steady clock and facts about this machine.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "quenvar/automation_error.h"

namespace quenvar {

class Socket {
 public:
  enum class State { Closed, Open };
  using DataSink = std::function<void(std::string_view)>;
  virtual ~Socket() = default;
  virtual State state() const = 0;
  virtual void close() = 0;
  // Starts connecting and returns at once; throws AutomationError only when the attempt cannot
  // even start (unknown host, immediate refusal). A later failure leaves the socket closed.
  virtual void connect(const std::string& host, uint16_t port) = 0;
  // All of `bytes` or AutomationError.
  virtual void send(std::string_view bytes) = 0;
  // Where received data goes; delivered from MessagePump::runOnce, on this thread.
  virtual void onData(DataSink sink) = 0;

  enum class Tls { Off, Negotiating, Up, Failed };
  // Turns the open connection into TLS with the server named `serverName`, its certificate
  // checked against the system's trust anchors and those of the PEM file `caFile` (empty: none
  // added) and against that name. Returns at once; the handshake goes on through the pump and
  // tls() tells how it went, tlsFailure() why it failed, in words for the user. A socket
  // without TLS refuses at once.
  virtual void startTls(const std::string& /*serverName*/, const std::string& /*caFile*/) {
    throw AutomationError(err::kInvalidCall, "TLS connections are not available in this build");
  }
  virtual Tls tls() const { return Tls::Off; }
  virtual std::string tlsFailure() const { return {}; }
};

class MessagePump {
 public:
  virtual ~MessagePump() = default;
  // Waits up to `timeoutSeconds` for events (socket readiness, window messages), handles what
  // arrived and returns. Waiting idles the CPU.
  virtual void runOnce(double timeoutSeconds) = 0;
};

// A connection that is its own event source, as a session's owner hands it over.
class PumpedSocket : public Socket, public MessagePump {};

class SteadyClock {
 public:
  virtual ~SteadyClock() = default;
  // Seconds from an arbitrary fixed origin; never jumps with the wall clock.
  virtual double seconds() = 0;
};

// Local wall time with its offset from UTC, as a mail Date field needs it.
struct ZonedTime {
  int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0;
  int weekday = 4;  // 0 = Sunday
  int utcOffsetMinutes = 0;
};

class MailHost {
 public:
  virtual ~MailHost() = default;
  virtual std::string hostName() = 0;
  virtual ZonedTime zonedNow() = 0;
};

}  // namespace quenvar
