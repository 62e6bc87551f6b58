#include "platform/posix/event_log_syslog.h"
#include "platform/posix/interrupted.h"

#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <limits>

namespace quenvar {

namespace {

constexpr int kFacilityUser = 1;

int severity(uint16_t type) {
  switch (type) {
    case 1: return LOG_ERR;
    case 2: return LOG_WARNING;
    case 4: return LOG_INFO;
    default: return LOG_NOTICE;
  }
}

// The month names of the wire format, whatever the user's language.
std::string timestamp() {
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const time_t now = ::time(nullptr);
  struct tm t {};
  if (::localtime_r(&now, &t) == nullptr) ::gmtime_r(&now, &t);
  char buffer[32];
  const int n = std::snprintf(buffer, sizeof buffer, "%s %2d %02d:%02d:%02d", kMonths[t.tm_mon % 12], t.tm_mday,
                              t.tm_hour, t.tm_min, t.tm_sec);
  return std::string(buffer, static_cast<size_t>(n));
}

// The tag ends at a blank, '[' or ':' for every syslog parser.
std::string tag(const std::string& source) {
  std::string out = source.empty() ? "quenvar" : source;
  for (char& c : out) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= ' ' || u == 0x7F || c == '[' || c == ']' || c == ':') c = '_';
  }
  return out;
}

size_t utf8SequenceLength(unsigned char lead) {
  if (lead >= 0xF8) return 1;
  if (lead >= 0xF0) return 4;
  if (lead >= 0xE0) return 3;
  if (lead >= 0xC0) return 2;
  return 1;
}

// Control bytes as "#ooo", as rsyslog writes them, so an entry stays on one line. Stops before
// the budget would split an escape or a UTF-8 character.
void appendEscaped(std::string& out, const std::string& text, size_t budget) {
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7F) {
      if (budget < 4) return;
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "#%03o", static_cast<unsigned>(c));
      out.append(escaped, 4);
      budget -= 4;
      ++i;
      continue;
    }
    size_t length = utf8SequenceLength(c);
    if (length > text.size() - i) length = 1;
    if (length > budget) return;
    out.append(text, i, length);
    budget -= length;
    i += length;
  }
}

struct Socket {
  int fd = -1;
  ~Socket() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

uint32_t SyslogEventLog::report(const EventRecord& record) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socketPath_.empty() || socketPath_.size() >= sizeof address.sun_path) return ENAMETOOLONG;
  socketPath_.copy(address.sun_path, socketPath_.size());

  Socket socket;
  socket.fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (socket.fd < 0) return static_cast<uint32_t>(errno);
  // A stalled log daemon must not hang the application that is reporting an error.
  timeval timeout{2, 0};
  ::setsockopt(socket.fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  if (::connect(socket.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    return static_cast<uint32_t>(errno);

  char pri[96];
  const int priLength = std::snprintf(pri, sizeof pri, "<%d>%s ", kFacilityUser * 8 + severity(record.type),
                                      timestamp().c_str());
  char fields[128];
  const int fieldsLength = std::snprintf(fields, sizeof fields, "[%ld]: type=%u category=%u id=%lu ",
                                         static_cast<long>(::getpid()), unsigned{record.type},
                                         unsigned{record.category}, static_cast<unsigned long>(record.id));
  std::string head(pri, static_cast<size_t>(priLength));
  head += tag(record.source);
  head.append(fields, static_cast<size_t>(fieldsLength));

  // Whole first; a datagram the socket refuses as too large is cut to ever smaller sizes.
  static constexpr size_t kLimits[] = {std::numeric_limits<size_t>::max(), 65536, 32768, 16384, 8192, 4096, 2048,
                                       1024, 480};
  size_t refused = std::numeric_limits<size_t>::max();
  for (const size_t limit : kLimits) {
    if (limit <= head.size()) break;
    if (limit != kLimits[0] && limit >= refused) continue;
    std::string datagram = head;
    appendEscaped(datagram, record.text, limit - head.size());
    const ssize_t sent =
        posix::retryInterrupted([&] { return ::send(socket.fd, datagram.data(), datagram.size(), MSG_NOSIGNAL); });
    if (sent >= 0) return 0;
    if (errno != EMSGSIZE) return static_cast<uint32_t>(errno);
    refused = datagram.size();
  }
  return EMSGSIZE;
}

}  // namespace quenvar
