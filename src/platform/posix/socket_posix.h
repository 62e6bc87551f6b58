#pragma once
// TCP over BSD sockets. Without a window loop on Linux the socket is the only event source a
// waiting session has, so the socket is its own message pump.

#include <netdb.h>

#include "platform/socket.h"

namespace quenvar {

class PosixSteadyClock : public SteadyClock {
 public:
  double seconds() override;
};

class PosixSocket : public PumpedSocket {
 public:
  // Host names to addresses as getaddrinfo does; the system's unless a test needs one that hangs.
  using Resolver = int (*)(const char* host, const char* service, const addrinfo* hints, addrinfo** found);
  // The lookup and each send end within the limit of a reply wait, measured on `clock`.
  static constexpr double kLimitSeconds = 50;

  explicit PosixSocket(SteadyClock& clock = systemClock(), Resolver resolve = ::getaddrinfo)
      : clock_(clock), resolve_(resolve) {}
  ~PosixSocket() override;
  PosixSocket(const PosixSocket&) = delete;
  PosixSocket& operator=(const PosixSocket&) = delete;

  State state() const override { return fd_ < 0 ? State::Closed : State::Open; }
  void close() override;
  void connect(const std::string& host, uint16_t port) override;
  void send(std::string_view bytes) override;
  void onData(DataSink sink) override { sink_ = std::move(sink); }
  void runOnce(double timeoutSeconds) override;

  static SteadyClock& systemClock();

 private:
  SteadyClock& clock_;
  Resolver resolve_;
  int fd_ = -1;
  bool connecting_ = false;
  DataSink sink_;
};

class PosixMailHost : public MailHost {
 public:
  std::string hostName() override;
  ZonedTime zonedNow() override;
};

}  // namespace quenvar
