#include "platform/posix/syslog_event_log.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <regex>

#include "temp_folder.h"

namespace quenvar {
namespace {

// A stand-in for the log daemon: a datagram socket bound in a temporary folder.
class Receiver {
 public:
  explicit Receiver(const std::string& path) : path_(path) {
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    if (::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) ADD_FAILURE() << errno;
    timeval timeout{5, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  }
  ~Receiver() { ::close(fd_); }
  Receiver(const Receiver&) = delete;
  Receiver& operator=(const Receiver&) = delete;

  std::string next() {
    std::string buffer(1 << 20, '\0');
    const ssize_t n = ::recv(fd_, buffer.data(), buffer.size(), 0);
    buffer.resize(n < 0 ? 0 : static_cast<size_t>(n));
    return buffer;
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  int fd_ = -1;
};

EventRecord record(uint16_t type, std::string text, std::string source = "MyApp") {
  EventRecord r;
  r.source = std::move(source);
  r.type = type;
  r.category = 2;
  r.id = 1003;
  r.text = std::move(text);
  return r;
}

TEST(SyslogEventLog, SendsOneLocalFormLine) {
  testing::TempFolder dir;
  Receiver daemon(dir / "log");
  SyslogEventLog log(daemon.path());
  ASSERT_EQ(log.report(record(1, "Error from quenvar\rline two\nthird\tend\x7f")), 0u);
  const std::string entry = daemon.next();
  const std::regex form("<11>(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [ 1-3][0-9] "
                        "[0-2][0-9]:[0-5][0-9]:[0-6][0-9] MyApp\\[" + std::to_string(::getpid()) +
                        "\\]: type=1 category=2 id=1003 Error from quenvar#015line two#012third#011end#177");
  EXPECT_TRUE(std::regex_match(entry, form)) << entry;
}

TEST(SyslogEventLog, SeverityFollowsTheEventType) {
  testing::TempFolder dir;
  Receiver daemon(dir / "log");
  SyslogEventLog log(daemon.path());
  const std::pair<uint16_t, std::string> cases[] = {{1, "<11>"}, {2, "<12>"}, {4, "<14>"}, {8, "<13>"}, {0, "<13>"}};
  for (const auto& [type, pri] : cases) {
    ASSERT_EQ(log.report(record(type, "x")), 0u);
    EXPECT_EQ(daemon.next().substr(0, pri.size()), pri) << type;
  }
  // A tag ends at a blank, so one inside the source must not cut it short.
  ASSERT_EQ(log.report(record(4, "x", "My App: 2")), 0u);
  EXPECT_NE(daemon.next().find(" My_App__2["), std::string::npos);
}

TEST(SyslogEventLog, AnOversizedEntryIsCutNotLost) {
  testing::TempFolder dir;
  Receiver daemon(dir / "log");
  SyslogEventLog log(daemon.path());
  std::string text;
  while (text.size() < 400000) text += "\xC3\xA9\n";
  ASSERT_EQ(log.report(record(1, text)), 0u);
  const std::string entry = daemon.next();
  EXPECT_LE(entry.size(), 65536u);
  EXPECT_GT(entry.size(), 1000u);
  // The cut falls between whole characters and whole escapes.
  const size_t body = entry.find("id=1003 ");
  ASSERT_NE(body, std::string::npos);
  const std::string unit = "\xC3\xA9#012";
  std::string_view rest = std::string_view(entry).substr(body + 8);
  while (rest.starts_with(unit)) rest.remove_prefix(unit.size());
  EXPECT_TRUE(rest.empty() || rest == "\xC3\xA9") << ::testing::PrintToString(std::string(rest));
}

TEST(SyslogEventLog, ReportsWhyNothingWasWritten) {
  testing::TempFolder dir;
  EXPECT_EQ(SyslogEventLog(dir / "no-daemon").report(record(1, "x")), static_cast<uint32_t>(ENOENT));
  EXPECT_NE(SyslogEventLog(dir.path() + "/" + std::string(200, 'x')).report(record(1, "x")), 0u);
}

}  // namespace
}  // namespace quenvar
