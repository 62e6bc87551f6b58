#include "platform/posix/posix_socket.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "core/automation_error.h"

namespace quenvar {

namespace {

constexpr int kSendLimitMs = 50'000;

// The numbers the Windows socket control reports for the same failures, so a client handles
// both builds alike: 11001 host not found, 10061 refused, 10060 timed out, 10065 unreachable,
// 10054 reset by the peer, 10053 any other loss of the connection.
[[noreturn]] void raiseSocketError(int error) {
  switch (error) {
    case ECONNREFUSED: throw AutomationError(10061, "Connection is forcefully rejected");
    case ETIMEDOUT: throw AutomationError(10060, "Attempt to connect timed out");
    case ENETUNREACH:
    case EHOSTUNREACH: throw AutomationError(10065, "No route to host");
    case ECONNRESET: throw AutomationError(10054, "Connection is reset by remote side");
    default: throw AutomationError(10053, "Connection is aborted due to timeout or other failure");
  }
}

}  // namespace

PosixSocket::~PosixSocket() { close(); }

void PosixSocket::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  connecting_ = false;
}

void PosixSocket::connect(const std::string& host, uint16_t port) {
  close();
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (host.empty() || ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0)
    throw AutomationError(11001, "Authoritative answer: Host not found");
  int error = ECONNREFUSED;
  for (addrinfo* a = found; a != nullptr && fd_ < 0; a = a->ai_next) {
    const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) {
      error = errno;
      continue;
    }
    // The message goes out as several sends; without this the small last one waits for the
    // server's delayed acknowledgement of the body, tens of milliseconds every session.
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (::connect(fd, a->ai_addr, a->ai_addrlen) == 0 || errno == EINPROGRESS) {
      fd_ = fd;
      connecting_ = true;
    } else {
      error = errno;
      ::close(fd);
    }
  }
  ::freeaddrinfo(found);
  if (fd_ < 0) raiseSocketError(error);
}

void PosixSocket::send(std::string_view bytes) {
  while (!bytes.empty()) {
    if (fd_ < 0) raiseSocketError(ENOTCONN);
    const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n >= 0) {
      bytes.remove_prefix(static_cast<size_t>(n));
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
      const int error = errno;
      close();
      raiseSocketError(error);
    }
    // A full send buffer drains as the peer reads; a peer that stops reading fails the send.
    pollfd p{fd_, POLLOUT, 0};
    if (::poll(&p, 1, kSendLimitMs) == 0) {
      close();
      raiseSocketError(ETIMEDOUT);
    }
  }
}

void PosixSocket::runOnce(double timeoutSeconds) {
  const int ms = static_cast<int>(timeoutSeconds * 1000);
  pollfd p{fd_, static_cast<short>(connecting_ ? POLLOUT : POLLIN), 0};
  // Closed: nothing can arrive, but the caller's clock still has to advance without spinning.
  if (::poll(fd_ < 0 ? nullptr : &p, fd_ < 0 ? 0 : 1, ms) <= 0 || fd_ < 0) return;
  if (connecting_) {
    int error = 0;
    socklen_t size = sizeof error;
    ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &size);
    if (error != 0) close();  // refused late: no reply will come, the wait runs to its limit
    connecting_ = false;
    return;
  }
  char buffer[8192];
  const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
  if (n > 0) {
    if (sink_) sink_(std::string_view(buffer, static_cast<size_t>(n)));
  } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
    close();  // the server hung up
  }
}

double PosixSteadyClock::seconds() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

std::string PosixMailHost::hostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
  return name;
}

ZonedTime PosixMailHost::zonedNow() {
  const time_t now = ::time(nullptr);
  tm local{};
  ::localtime_r(&now, &local);
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
          local.tm_sec,         local.tm_wday,    static_cast<int>(local.tm_gmtoff / 60)};
}

}  // namespace quenvar
