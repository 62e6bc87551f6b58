// The Winsock socket against a listener made here with Winsock, its pump with real window
// messages, and a whole SMTP session against a real server (started by smtp_loopback.sh).

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <thread>

#include "mail/smtp_session.h"
#include "platform/win32/socket_win32.h"
#include "win32_test_support.h"

namespace quenvar {
namespace {

// One connection on 127.0.0.1, served by `serve` on a thread of its own.
class Listener {
 public:
  explicit Listener(std::function<void(SOCKET)> serve = nullptr) {
    WSADATA data{};
    ::WSAStartup(MAKEWORD(2, 2), &data);
    listening_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof a;
    ::bind(listening_, reinterpret_cast<sockaddr*>(&a), size);
    ::listen(listening_, 1);
    ::getsockname(listening_, reinterpret_cast<sockaddr*>(&a), &size);
    port_ = ntohs(a.sin_port);
    if (serve) {
      thread_ = std::thread([this, serve] {
        const SOCKET peer = ::accept(listening_, nullptr, nullptr);
        if (peer != INVALID_SOCKET) serve(peer);
        ::closesocket(peer);
      });
    }
  }
  ~Listener() {
    stop();
    ::WSACleanup();
  }
  void stop() {
    if (listening_ != INVALID_SOCKET) ::closesocket(listening_);
    listening_ = INVALID_SOCKET;
    if (thread_.joinable()) thread_.join();
  }
  uint16_t port() const { return port_; }

 private:
  SOCKET listening_ = INVALID_SOCKET;
  uint16_t port_ = 0;
  std::thread thread_;
};

void sendAll(SOCKET s, const std::string& text) { ::send(s, text.data(), static_cast<int>(text.size()), 0); }

// Pumps until `done` or 10 s.
bool pumpUntil(Win32Socket& socket, const std::function<bool()>& done) {
  Win32SteadyClock clock;
  const double end = clock.seconds() + 10;
  while (!done() && clock.seconds() < end) socket.runOnce(0.1);
  return done();
}

TEST(Win32Socket, DeliversDataBothWaysAndClosesWithThePeer) {
  const std::string bulk(4 << 20, 'x');  // more than a send buffer: the send has to wait for room
  std::string served;
  Listener listener([&](SOCKET peer) {
    sendAll(peer, "220 ready\r\n");
    char buffer[65536];
    while (served.size() < bulk.size() + 6 || served.compare(served.size() - 6, 6, "QUIT\r\n") != 0) {
      const int n = ::recv(peer, buffer, sizeof buffer, 0);
      if (n <= 0) return;
      served.append(buffer, static_cast<size_t>(n));
    }
    sendAll(peer, "221 bye\r\n");  // then the peer closes: data and FD_CLOSE arrive together
  });
  Win32Socket socket;
  std::string received;
  socket.onData([&](std::string_view data) { received += data; });
  socket.connect("127.0.0.1", listener.port());
  EXPECT_EQ(socket.state(), Socket::State::Open);
  ASSERT_TRUE(pumpUntil(socket, [&] { return received == "220 ready\r\n"; })) << received;
  socket.send(bulk);
  socket.send("QUIT\r\n");
  EXPECT_TRUE(pumpUntil(socket, [&] { return socket.state() == Socket::State::Closed; }));
  EXPECT_EQ(received, "220 ready\r\n221 bye\r\n");
  listener.stop();
  EXPECT_EQ(served.size(), bulk.size() + 6);
  EXPECT_EQ(served, bulk + "QUIT\r\n");
  EXPECT_NE(testing::errorNumber([&] { socket.send("late"); }), 0) << "a closed socket sends nothing";
}

TEST(Win32Socket, RefusedConnectFailsAtOnceOrLeavesTheSocketClosed) {
  uint16_t closedPort = 0;
  {
    Listener gone;
    closedPort = gone.port();
  }
  Win32Socket socket;
  const int number = testing::errorNumber([&] {
    socket.connect("127.0.0.1", closedPort);
    EXPECT_TRUE(pumpUntil(socket, [&] { return socket.state() == Socket::State::Closed; }));
  });
  EXPECT_TRUE(number == 0 || number == 10061) << number;
  EXPECT_EQ(socket.state(), Socket::State::Closed);
  std::printf("refused connect: %s\n", number == 0 ? "closed by the pump" : "10061 at once");
}

TEST(Win32Socket, UnknownHostIs11001) {
  Win32Socket socket;
  EXPECT_EQ(testing::errorNumber([&] { socket.connect("no-such-host.invalid", 25); }), 11001);
  EXPECT_EQ(testing::errorNumber([&] { socket.connect("", 25); }), 11001);
  EXPECT_EQ(socket.state(), Socket::State::Closed);
}

// A peer that never stops sending (for 10 s here) still lets each turn of the pump end, so a
// wait can look at its clock. The lookup's limit is the POSIX socket's, tested there.
TEST(Win32Socket, APeerThatNeverStopsSendingCannotHoldThePump) {
  std::atomic<bool> stop{false};
  Listener flooding([&](SOCKET peer) {
    const std::string chunk(1 << 16, 'x');
    for (const DWORD start = ::GetTickCount(); !stop && ::GetTickCount() - start < 10'000;)
      if (::send(peer, chunk.data(), static_cast<int>(chunk.size()), 0) <= 0) break;
  });
  Win32Socket socket;
  bool received = false;
  socket.onData([&](std::string_view) { received = true; });
  const DWORD started = ::GetTickCount();
  socket.connect("127.0.0.1", flooding.port());
  EXPECT_TRUE(pumpUntil(socket, [&] { return received; }));
  for (int i = 0; i < 20; ++i) socket.runOnce(0.05);
  EXPECT_LT(::GetTickCount() - started, 5000u);
  EXPECT_EQ(socket.state(), Socket::State::Open) << "still sending";
  stop = true;
}

LRESULT CALLBACK countingWindow(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_APP) ++*reinterpret_cast<int*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  return ::DefWindowProcW(window, message, w, l);
}

TEST(Win32Socket, PumpDispatchesWindowMessagesAndOtherwiseWaits) {
  const HWND window = testing::messageWindow(countingWindow, L"QuenvarSocketTestWindow");
  ASSERT_NE(window, nullptr);
  int seen = 0;
  ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&seen));

  Listener listener([](SOCKET peer) { ::Sleep(1000), (void)peer; });  // connected, silent
  Win32Socket socket;
  socket.connect("127.0.0.1", listener.port());
  Win32SteadyClock clock;
  for (int i = 0; i < 5; ++i) socket.runOnce(0.05);  // the connect completes
  double start = clock.seconds();
  socket.runOnce(0.3);
  EXPECT_GE(clock.seconds() - start, 0.25) << "nothing arrived, so the pump waited";

  ::PostMessageW(window, WM_APP, 0, 0);
  start = clock.seconds();
  socket.runOnce(5);
  EXPECT_EQ(seen, 1);
  EXPECT_LT(clock.seconds() - start, 2) << "a message ends the wait";
  socket.close();
  ::PostMessageW(window, WM_APP, 0, 0);
  socket.runOnce(5);
  EXPECT_EQ(seen, 2) << "closed, the pump still serves the windows";
  ::DestroyWindow(window);
}

TEST(Win32MailHost, TellsTheMachineAndItsZonedTime) {
  Win32MailHost host;
  EXPECT_FALSE(host.hostName().empty());
  const ZonedTime now = host.zonedNow();
  SYSTEMTIME local{};
  ::GetLocalTime(&local);
  TIME_ZONE_INFORMATION zone{};
  const DWORD kind = ::GetTimeZoneInformation(&zone);
  const long bias = zone.Bias + (kind == TIME_ZONE_ID_DAYLIGHT ? zone.DaylightBias : zone.StandardBias);
  EXPECT_EQ(now.utcOffsetMinutes, -bias);
  EXPECT_EQ(now.year, local.wYear);
  EXPECT_EQ(now.weekday, local.wDayOfWeek);
  EXPECT_NEAR(now.hour * 3600 + now.minute * 60 + now.second,
              local.wHour * 3600 + local.wMinute * 60 + local.wSecond, 2);
}

TEST(Win32SteadyClock, CountsSeconds) {
  Win32SteadyClock clock;
  const double start = clock.seconds();
  ::Sleep(100);
  const double elapsed = clock.seconds() - start;
  EXPECT_GT(elapsed, 0.08);
  EXPECT_LT(elapsed, 2);
}

struct Messages : MessageBoxService {
  std::vector<std::string> shown;
  int show(const std::string& text, const std::string&, int) override {
    shown.push_back(text);
    return kAnsweredOk;
  }
};

// The server and the check of what it stored are smtp_loopback.sh's.
TEST(Win32SmtpLoopback, DeliversAReport) {
  const std::string port = testing::environment(L"QUENVAR_SMTP_PORT");
  if (port.empty()) GTEST_SKIP() << "QUENVAR_SMTP_PORT is not set";
  Win32Socket socket;
  Win32SteadyClock clock;
  Win32MailHost host;
  Messages box;
  std::string held;
  SmtpSession session({socket, socket, clock, host, box}, held, static_cast<uint16_t>(std::stoi(port)));
  session.SendEmail("127.0.0.1", "Order Desk", "orders@example.com", "Operations", "ops@example.com",
                    "Win32 loopback report", "first marker line\r\n.\r\n..two dots\r\nlast marker line\r\n");
  ASSERT_EQ(box.shown.size(), 1u);
  EXPECT_EQ(box.shown[0], "Composed Error Email in SMTP.");
  EXPECT_EQ(socket.state(), Socket::State::Closed);
}

}  // namespace
}  // namespace quenvar
