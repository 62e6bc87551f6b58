#ifndef NOMINMAX
#define NOMINMAX
#endif
// Winsock 2 has to come before <windows.h>, which would otherwise pull in the old Winsock.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "platform/win32/socket_win32.h"

#include <optional>
#include <utility>

#include "quenvar/automation_error.h"
#include "platform/bounded_call.h"
#include "platform/win32/tls_schannel.h"
#include "platform/win32/utf.h"
#include "platform/win32/windows_api.h"

namespace quenvar {

namespace {

constexpr DWORD kSendLimitMs = 50'000;
constexpr long kEvents = FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE;
// Reads per turn of the pump: a peer that sends without pause must not keep a wait from
// looking at its clock.
constexpr int kReadsPerTurn = 8;

struct Lookup {
  int status = WSAHOST_NOT_FOUND;
  ADDRINFOW* found = nullptr;
};

// A lookup given up on runs on in this DLL's code: the DLL stays loaded for the process's life.
void keepDllLoaded() {
  HMODULE self = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&keepDllLoaded), &self);
}

SOCKET handle(uintptr_t s) { return static_cast<SOCKET>(s); }

// The same numbers as the POSIX build: 10061 refused, 10060 timed out, 10065 unreachable,
// 10054 reset by the peer, 10053 any other loss of the connection.
AutomationError socketError(int error) {
  switch (error) {
    case WSAECONNREFUSED: return {10061, "Connection is forcefully rejected"};
    case WSAETIMEDOUT: return {10060, "Attempt to connect timed out"};
    case WSAENETUNREACH:
    case WSAEHOSTUNREACH: return {10065, "No route to host"};
    case WSAECONNRESET: return {10054, "Connection is reset by remote side"};
    default: return {10053, "Connection is aborted due to timeout or other failure"};
  }
}

[[noreturn]] void raiseSocketError(int error) { throw socketError(error); }

}  // namespace

SteadyClock& Win32Socket::systemClock() {
  static Win32SteadyClock clock;
  return clock;
}

Win32Socket::Win32Socket(SteadyClock& clock) : clock_(clock) {
  WSADATA data{};
  started_ = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  if (started_) event_ = ::WSACreateEvent();
}

Win32Socket::~Win32Socket() {
  close();
  if (event_ != nullptr) ::WSACloseEvent(event_);
  if (started_) ::WSACleanup();
}

void Win32Socket::close() {
  if (schannel_ && socket_ != kNone) {
    const std::string bye = schannel_->shutdown();  // close_notify, if the send buffer takes it at once
    if (!bye.empty()) ::send(handle(socket_), bye.data(), static_cast<int>(bye.size()), 0);
  }
  schannel_.reset();
  hello_.clear();
  if (tls_ == Tls::Negotiating) failTls("the server closed the connection");
  if (tls_ == Tls::Up) tls_ = Tls::Off;
  if (socket_ != kNone) ::closesocket(handle(socket_));
  socket_ = kNone;
  connecting_ = false;
  pending_ = 0;
  connectError_ = 0;
  if (event_ != nullptr) ::WSAResetEvent(event_);
}

void Win32Socket::connect(const std::string& host, uint16_t port) {
  close();
  tls_ = Tls::Off;
  tlsFailure_.clear();
  if (!started_ || event_ == nullptr) raiseSocketError(WSASYSNOTREADY);
  ADDRINFOW hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  if (host.empty()) throw AutomationError(11001, "Authoritative answer: Host not found");
  // A name server that never answers must not hold the session past its limit.
  const std::optional<Lookup> lookup = callWithin<Lookup>(
      clock_, kLimitSeconds,
      [name = win32::widen(host), service = std::to_wstring(port), hints] {
        Lookup l;
        WSADATA data{};
        if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) return l;  // Winsock lives until the lookup ends
        l.status = ::GetAddrInfoW(name.c_str(), service.c_str(), &hints, &l.found);
        ::WSACleanup();
        return l;
      },
      [](Lookup& late) {
        if (late.status == 0) ::FreeAddrInfoW(late.found);
      });
  if (!lookup) {
    keepDllLoaded();
    raiseSocketError(WSAETIMEDOUT);
  }
  if (lookup->status != 0) throw AutomationError(11001, "Authoritative answer: Host not found");
  ADDRINFOW* const found = lookup->found;
  int error = WSAECONNREFUSED;
  for (ADDRINFOW* a = found; a != nullptr && socket_ == kNone; a = a->ai_next) {
    const SOCKET s = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
    if (s == INVALID_SOCKET) {
      error = ::WSAGetLastError();
      continue;
    }
    // The message goes out as several sends; without this the small last one waits for the
    // server's delayed acknowledgement of the body.
    const BOOL noDelay = TRUE;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
    u_long nonBlocking = 1;
    if (::ioctlsocket(s, FIONBIO, &nonBlocking) != 0 || ::WSAEventSelect(s, event_, kEvents) != 0 ||
        (::connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) != 0 && ::WSAGetLastError() != WSAEWOULDBLOCK)) {
      error = ::WSAGetLastError();
      ::closesocket(s);
      continue;
    }
    socket_ = static_cast<uintptr_t>(s);
    connecting_ = true;
  }
  ::FreeAddrInfoW(found);
  if (socket_ == kNone) raiseSocketError(error);
}

bool Win32Socket::collectEvents() {
  WSANETWORKEVENTS events{};
  if (::WSAEnumNetworkEvents(handle(socket_), event_, &events) != 0) return false;
  pending_ |= events.lNetworkEvents;
  if (events.lNetworkEvents & FD_CONNECT) {
    connecting_ = false;
    connectError_ = events.iErrorCode[FD_CONNECT_BIT];
  }
  return true;
}

void Win32Socket::send(std::string_view bytes) {
  if (tls_ == Tls::Negotiating) throw AutomationError(err::kInvalidCall, "The TLS handshake has not ended");
  if (tls_ == Tls::Up) return sendRaw(schannel_->encrypt(bytes));
  sendRaw(bytes);
}

void Win32Socket::sendRaw(std::string_view bytes) {
  const DWORD start = ::GetTickCount();
  while (!bytes.empty()) {
    if (socket_ == kNone) raiseSocketError(WSAENOTCONN);
    const int chunk = static_cast<int>(std::min<size_t>(bytes.size(), 1 << 20));
    const int n = ::send(handle(socket_), bytes.data(), chunk, 0);
    if (n != SOCKET_ERROR) {
      bytes.remove_prefix(static_cast<size_t>(n));
      continue;
    }
    const int error = ::WSAGetLastError();
    // A connection still being made cannot take data yet; a full send buffer drains as the peer
    // reads. Either way FD_WRITE says when to try again; a peer that stops reading fails the send.
    if (error != WSAEWOULDBLOCK && !(error == WSAENOTCONN && connecting_)) {
      close();
      raiseSocketError(error);
    }
    const DWORD waited = ::GetTickCount() - start;
    if (waited >= kSendLimitMs || ::WaitForSingleObject(event_, kSendLimitMs - waited) != WAIT_OBJECT_0 ||
        !collectEvents()) {
      close();
      raiseSocketError(WSAETIMEDOUT);
    }
    if (connectError_ != 0) {
      const int refused = connectError_;
      close();
      raiseSocketError(refused);
    }
    pending_ &= ~FD_WRITE;  // read and write records stay for runOnce
  }
}

bool Win32Socket::drain() {
  char buffer[8192];
  for (int i = 0; i < kReadsPerTurn && socket_ != kNone; ++i) {
    const int n = ::recv(handle(socket_), buffer, sizeof buffer, 0);
    if (n > 0) {
      deliver(std::string_view(buffer, static_cast<size_t>(n)));
      continue;
    }
    if (n == 0 || ::WSAGetLastError() != WSAEWOULDBLOCK) close();  // the server hung up
    return true;
  }
  return socket_ == kNone;
}

void Win32Socket::handlePending() {
  const long events = pending_;
  pending_ = 0;
  if ((events & FD_CONNECT) && connectError_ != 0) {
    if (tls_ == Tls::Negotiating) failTls(socketError(connectError_).description());
    close();  // refused late: no reply will come, the wait runs to its limit
    return;
  }
  if (!hello_.empty() && !connecting_) {
    try {
      sendRaw(std::exchange(hello_, {}));
    } catch (const AutomationError& e) {
      tlsFailure_ = e.description();
      return;
    }
  }
  if ((events & (FD_READ | FD_CLOSE)) && !drain()) {
    pending_ |= events & (FD_READ | FD_CLOSE);  // the rest, and a hang-up behind it, next turn
    return;
  }
  if (events & FD_CLOSE) close();
}

void Win32Socket::failTls(std::string why) {
  if (tls_ == Tls::Failed) return;  // the first reason is the one that counts
  tls_ = Tls::Failed;
  tlsFailure_ = std::move(why);
}

void Win32Socket::startTls(const std::string& serverName, const std::string& caFile) {
  if (socket_ == kNone) throw AutomationError(err::kInvalidCall, "TLS needs an open connection");
  if (tls_ != Tls::Off) throw AutomationError(err::kInvalidCall, "TLS is already on for this connection");
  schannel_ = std::make_unique<win32::SchannelClient>();
  tls_ = Tls::Negotiating;
  std::string hello = schannel_->start(serverName, caFile);
  if (schannel_->state() == win32::SchannelClient::State::Failed) {
    failTls(schannel_->failure());
    close();
  } else if (connecting_) {
    hello_ = std::move(hello);  // handlePending sends it once connected
  } else {
    try {
      sendRaw(hello);
    } catch (const AutomationError& e) {
      tlsFailure_ = e.description();
    }
  }
}

// Received bytes: as they are, or through TLS.
void Win32Socket::deliver(std::string_view bytes) {
  if (!schannel_) {
    if (sink_) sink_(bytes);
    return;
  }
  std::string plain;
  const std::string reply = schannel_->receive(bytes, plain);
  const auto state = schannel_->state();
  if (state == win32::SchannelClient::State::Failed) failTls(schannel_->failure());
  else if (state == win32::SchannelClient::State::Up) tls_ = Tls::Up;
  try {
    if (!reply.empty()) sendRaw(reply);
  } catch (const AutomationError&) {
    return;  // closed already
  }
  if (!plain.empty() && sink_) sink_(plain);
  if (state == win32::SchannelClient::State::Failed || state == win32::SchannelClient::State::Closed) close();
}

void Win32Socket::runOnce(double timeoutSeconds) {
  if (socket_ != kNone && (pending_ & (FD_CONNECT | FD_READ | FD_CLOSE))) {
    handlePending();  // already known from a send's wait
    return;
  }
  const DWORD ms = timeoutSeconds <= 0 ? 0 : static_cast<DWORD>(timeoutSeconds * 1000);
  // Closed, only messages can arrive; still a wait, so the caller's clock advances without spinning.
  const DWORD count = socket_ == kNone ? 0 : 1;
  HANDLE handles[1] = {event_};
  const DWORD woke = ::MsgWaitForMultipleObjectsEx(count, handles, ms, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  if (count == 1 && woke == WAIT_OBJECT_0) {
    if (collectEvents()) handlePending();
    else close();
  } else if (woke == WAIT_OBJECT_0 + count) {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        // Left for the thread's own loop, which ends on it.
        ::PostQuitMessage(static_cast<int>(message.wParam));
        break;
      }
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
  }
}

double Win32SteadyClock::seconds() {
  static const double frequency = [] {
    LARGE_INTEGER f{};
    ::QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart);
  }();
  LARGE_INTEGER now{};
  ::QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / frequency;
}

std::string Win32MailHost::hostName() {
  wchar_t name[256];
  DWORD size = 256;
  if (!::GetComputerNameExW(ComputerNameDnsHostname, name, &size) || size == 0) return "localhost";
  return win32::narrow(std::wstring_view(name, size));
}

ZonedTime Win32MailHost::zonedNow() {
  // Local time and offset from one UTC instant, so a daylight change between two calls cannot
  // pair a time with the wrong offset.
  SYSTEMTIME utc{}, local{};
  ::GetSystemTime(&utc);
  if (!::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) local = utc;
  FILETIME u{}, l{};
  ::SystemTimeToFileTime(&utc, &u);
  ::SystemTimeToFileTime(&local, &l);
  const auto ticks = [](const FILETIME& f) {
    return static_cast<long long>((static_cast<unsigned long long>(f.dwHighDateTime) << 32) | f.dwLowDateTime);
  };
  const long long minutes = (ticks(l) - ticks(u)) / (10'000'000LL * 60);
  return {local.wYear,   local.wMonth,     local.wDay,      local.wHour, local.wMinute,
          local.wSecond, local.wDayOfWeek, static_cast<int>(minutes)};
}

}  // namespace quenvar
