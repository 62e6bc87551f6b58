#pragma once
// TCP over BSD sockets. Without a window loop on Linux the socket is the only event source a
// waiting session has, so the socket is its own message pump.

#include <netdb.h>

#include <memory>

#include "platform/socket.h"

namespace quenvar {

namespace posix {
class GnuTlsClient;
}

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

  // Out of line: the TLS client is complete only there.
  explicit PosixSocket(SteadyClock& clock = systemClock(), Resolver resolve = ::getaddrinfo);
  ~PosixSocket() override;
  PosixSocket(const PosixSocket&) = delete;
  PosixSocket& operator=(const PosixSocket&) = delete;

  State state() const override { return fd_ < 0 ? State::Closed : State::Open; }
  void close() override;
  void connect(const std::string& host, uint16_t port) override;
  void send(std::string_view bytes) override;
  void onData(DataSink sink) override { sink_ = std::move(sink); }
  void runOnce(double timeoutSeconds) override;
  void startTls(const std::string& serverName, const std::string& caFile) override;
  Tls tls() const override { return tlsState_; }
  std::string tlsFailure() const override { return tlsFailure_; }

  static SteadyClock& systemClock();

 private:
  SteadyClock& clock_;
  Resolver resolve_;
  void shakeHands();
  void receive();
  void failTls(std::string why);

  int fd_ = -1;
  bool connecting_ = false;
  DataSink sink_;
  std::unique_ptr<posix::GnuTlsClient> tlsClient_;
  Tls tlsState_ = Tls::Off;
  std::string tlsFailure_;
};

class PosixMailHost : public MailHost {
 public:
  std::string hostName() override;
  ZonedTime zonedNow() override;
};

}  // namespace quenvar
