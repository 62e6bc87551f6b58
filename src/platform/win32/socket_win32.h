#pragma once
// TCP over Winsock 2. The socket's readiness arrives as an event object, so one wait covers it
// and the thread's window messages: the windows stay responsive while a session waits. TLS
// goes through the system's Schannel.

#include <cstdint>
#include <memory>

#include "platform/socket.h"

namespace quenvar {

namespace win32 {
class SchannelClient;
}

class Win32SteadyClock : public SteadyClock {
 public:
  double seconds() override;
};

class Win32Socket : public PumpedSocket {
 public:
  // The lookup ends within the limit of a reply wait, measured on `clock`.
  static constexpr double kLimitSeconds = 50;

  explicit Win32Socket(SteadyClock& clock = systemClock());
  ~Win32Socket() override;
  Win32Socket(const Win32Socket&) = delete;
  Win32Socket& operator=(const Win32Socket&) = delete;

  State state() const override { return socket_ == kNone ? State::Closed : State::Open; }
  void close() override;
  void connect(const std::string& host, uint16_t port) override;
  void send(std::string_view bytes) override;
  void onData(DataSink sink) override { sink_ = std::move(sink); }
  void runOnce(double timeoutSeconds) override;
  void startTls(const std::string& serverName, const std::string& caFile) override;
  Tls tls() const override { return tls_; }
  std::string tlsFailure() const override { return tlsFailure_; }

  static SteadyClock& systemClock();

 private:
  // SOCKET and HANDLE, kept opaque so that includers need no Winsock headers.
  static constexpr uintptr_t kNone = ~uintptr_t{0};
  bool collectEvents();
  void handlePending();
  bool drain();
  void sendRaw(std::string_view bytes);
  void deliver(std::string_view bytes);
  void failTls(std::string why);

  SteadyClock& clock_;
  bool started_ = false;
  uintptr_t socket_ = kNone;
  void* event_ = nullptr;
  bool connecting_ = false;
  long pending_ = 0;  // network events read from Winsock but not yet handled
  int connectError_ = 0;
  DataSink sink_;
  std::unique_ptr<win32::SchannelClient> schannel_;
  Tls tls_ = Tls::Off;
  std::string tlsFailure_;
  std::string hello_;  // the ClientHello, held while the connection is being made
};

class Win32MailHost : public MailHost {
 public:
  std::string hostName() override;
  ZonedTime zonedNow() override;
};

}  // namespace quenvar
