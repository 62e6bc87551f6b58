#pragma once
// TCP over BSD sockets. Without a window loop on Linux the socket is the only event source a
// waiting session has, so the socket is its own message pump.

#include "platform/socket.h"

namespace quenvar {

class PosixSocket : public PumpedSocket {
 public:
  PosixSocket() = default;
  ~PosixSocket() override;
  PosixSocket(const PosixSocket&) = delete;
  PosixSocket& operator=(const PosixSocket&) = delete;

  State state() const override { return fd_ < 0 ? State::Closed : State::Open; }
  void close() override;
  void connect(const std::string& host, uint16_t port) override;
  void send(std::string_view bytes) override;
  void onData(DataSink sink) override { sink_ = std::move(sink); }
  void runOnce(double timeoutSeconds) override;

 private:
  int fd_ = -1;
  bool connecting_ = false;
  DataSink sink_;
};

class PosixSteadyClock : public SteadyClock {
 public:
  double seconds() override;
};

class PosixMailHost : public MailHost {
 public:
  std::string hostName() override;
  ZonedTime zonedNow() override;
};

}  // namespace quenvar
