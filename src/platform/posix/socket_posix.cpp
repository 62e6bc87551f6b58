#include "platform/posix/socket_posix.h"
#include "platform/posix/interrupted.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "quenvar/automation_error.h"
#include "platform/bounded_call.h"
#include "platform/posix/module_info_dladdr.h"
#include "platform/posix/tls_gnutls.h"

namespace quenvar {

namespace {

// A wait is sliced so that the session's clock, not the system's, decides when it is over.
constexpr int kSliceMs = 100;

struct Lookup {
  int status = EAI_FAIL;
  addrinfo* found = nullptr;
};

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

SteadyClock& PosixSocket::systemClock() {
  static PosixSteadyClock clock;
  return clock;
}

PosixSocket::PosixSocket(SteadyClock& clock, Resolver resolve) : clock_(clock), resolve_(resolve) {}

PosixSocket::~PosixSocket() { close(); }

void PosixSocket::close() {
  if (tlsClient_) {
    tlsClient_->bye();
    tlsClient_.reset();
  }
  if (tlsState_ == Tls::Negotiating) {
    tlsState_ = Tls::Failed;
    if (tlsFailure_.empty()) tlsFailure_ = "the server closed the connection";
  }
  if (tlsState_ == Tls::Up) tlsState_ = Tls::Off;
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  connecting_ = false;
}

void PosixSocket::failTls(std::string why) {
  tlsState_ = Tls::Failed;
  tlsFailure_ = std::move(why);
  close();
}

void PosixSocket::connect(const std::string& host, uint16_t port) {
  close();
  tlsState_ = Tls::Off;
  tlsFailure_.clear();
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  if (host.empty()) throw AutomationError(11001, "Authoritative answer: Host not found");
  // A resolver that never answers (a dead name server) must not hold the session past its limit.
  const std::optional<Lookup> lookup = callWithin<Lookup>(
      clock_, kLimitSeconds,
      [resolve = resolve_, host, service = std::to_string(port), hints] {
        Lookup l;
        l.status = resolve(host.c_str(), service.c_str(), &hints, &l.found);
        return l;
      },
      [](Lookup& late) {
        if (late.status == 0) ::freeaddrinfo(late.found);
      });
  if (!lookup) {
    posix::keepLibraryLoaded();
    raiseSocketError(ETIMEDOUT);
  }
  if (lookup->status != 0) throw AutomationError(11001, "Authoritative answer: Host not found");
  addrinfo* const found = lookup->found;
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
  // One deadline for the whole send: a peer that takes a byte now and then would otherwise
  // keep each wait for room short of the limit for ever.
  const double start = clock_.seconds();
  // Nothing goes out in clear on a connection being made secure.
  if (tlsState_ == Tls::Negotiating || tlsState_ == Tls::Failed) raiseSocketError(ENOTCONN);
  while (!bytes.empty()) {
    if (fd_ < 0) raiseSocketError(ENOTCONN);
    if (tlsClient_) {
      const std::ptrdiff_t n = tlsClient_->send(bytes);
      if (n < 0) {
        close();
        raiseSocketError(ECONNRESET);
      }
      bytes.remove_prefix(static_cast<size_t>(n));
      if (n > 0) continue;
    } else {
      const ssize_t n = posix::retryInterrupted([&] { return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL); });
      if (n >= 0) {
        bytes.remove_prefix(static_cast<size_t>(n));
        continue;
      }
      if (errno != EAGAIN && errno != EWOULDBLOCK) {
        const int error = errno;
        close();
        raiseSocketError(error);
      }
    }
    // A full send buffer drains as the peer reads; a peer too slow to take it fails the send.
    if (clock_.seconds() - start > kLimitSeconds) {
      close();
      raiseSocketError(ETIMEDOUT);
    }
    pollfd p{fd_, POLLOUT, 0};
    ::poll(&p, 1, kSliceMs);
  }
}

void PosixSocket::startTls(const std::string& serverName, const std::string& caFile) {
  if (fd_ < 0 || tlsState_ != Tls::Off) raiseSocketError(ENOTCONN);
  tlsClient_ = std::make_unique<posix::GnuTlsClient>(fd_, serverName, caFile);
  tlsState_ = Tls::Negotiating;
  if (!connecting_) shakeHands();  // the client speaks first; once connected when still connecting
}

void PosixSocket::shakeHands() {
  switch (tlsClient_->handshake()) {
    case posix::GnuTlsClient::Progress::Again: return;
    case posix::GnuTlsClient::Progress::Done: tlsState_ = Tls::Up; return;
    case posix::GnuTlsClient::Progress::Failed: failTls(tlsClient_->failure()); return;
  }
}

void PosixSocket::receive() {
  char buffer[8192];
  if (tlsClient_) {
    const std::ptrdiff_t n = tlsClient_->receive(buffer, sizeof buffer);
    if (n > 0 && sink_) sink_(std::string_view(buffer, static_cast<size_t>(n)));
    if (n < 0) close();
    return;
  }
  const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
  if (n > 0) {
    if (sink_) sink_(std::string_view(buffer, static_cast<size_t>(n)));
  } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
    close();  // the server hung up
  }
}

void PosixSocket::runOnce(double timeoutSeconds) {
  const bool negotiating = tlsState_ == Tls::Negotiating;
  if (tlsState_ == Tls::Up && tlsClient_->pending()) return receive();
  const bool wantsWrite = connecting_ || (negotiating && tlsClient_->wantsWrite());
  const int ms = static_cast<int>(timeoutSeconds * 1000);
  pollfd p{fd_, static_cast<short>(wantsWrite ? POLLOUT : POLLIN), 0};
  // Closed: nothing can arrive, but the caller's clock still has to advance without spinning.
  if (::poll(fd_ < 0 ? nullptr : &p, fd_ < 0 ? 0 : 1, ms) <= 0 || fd_ < 0) return;
  if (connecting_) {
    int error = 0;
    socklen_t size = sizeof error;
    ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &size);
    connecting_ = false;
    if (error != 0) {
      if (negotiating) tlsFailure_ = "the connection to the server could not be made";
      close();  // refused late: no reply will come, the wait runs to its limit
    } else if (negotiating) {
      shakeHands();
    }
    return;
  }
  // Acknowledge what arrives at once. Sending without delay (above) means a command can leave
  // before the server's last records arrive, so no command carries their acknowledgement; a
  // server that waits for it before answering (TLS session tickets after the handshake, sent
  // by a server with Nagle's algorithm on) would otherwise wait for the delayed one, 40 ms in
  // about one session in three. The setting lapses, so it is set again on every arrival.
  const int one = 1;
  ::setsockopt(fd_, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
  if (negotiating) return shakeHands();
  receive();
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
