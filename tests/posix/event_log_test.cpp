#include "platform/posix/event_log_syslog.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <regex>

#include "temp_folder.h"

namespace quenvar {
namespace {

// A stand-in for the log daemon: a datagram socket bound in a temporary folder.
struct Daemon {
  testing::TempFolder dir;
  std::string path = dir / "log";
  int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);

  Daemon() {
    sockaddr_un address{AF_UNIX, {}};
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    EXPECT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  }
  ~Daemon() { ::close(fd); }
  std::string next() {
    std::string buffer(1 << 20, '\0');
    const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
    buffer.resize(n < 0 ? 0 : static_cast<size_t>(n));
    return buffer;
  }
};

EventRecord record(uint16_t type, std::string text, std::string source = "MyApp") {
  return EventRecord{std::move(source), type, 2, 1003, std::move(text)};
}

TEST(SyslogEventLog, SendsOneLocalFormLine) {
  Daemon daemon;
  ASSERT_EQ(SyslogEventLog(daemon.path).report(record(1, "Error from quenvar\rtwo\nthree\tend\x7f")), 0u);
  const std::string entry = daemon.next();
  const std::regex form("<11>(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [ 1-3][0-9] [0-2][0-9]:[0-5][0-9]:"
                        "[0-6][0-9] MyApp\\[" + std::to_string(::getpid()) +
                        "\\]: type=1 category=2 id=1003 Error from quenvar#015two#012three#011end#177");
  EXPECT_TRUE(std::regex_match(entry, form)) << entry;
}

TEST(SyslogEventLog, SeverityFollowsTheEventTypeAndTheTagStaysOneWord) {
  Daemon daemon;
  SyslogEventLog log(daemon.path);
  for (const auto& [type, pri] : {std::pair{1, "<11>"}, {2, "<12>"}, {4, "<14>"}, {8, "<13>"}}) {
    ASSERT_EQ(log.report(record(static_cast<uint16_t>(type), "x")), 0u);
    EXPECT_TRUE(daemon.next().starts_with(pri)) << type;
  }
  ASSERT_EQ(log.report(record(4, "x", "My App: 2")), 0u);
  EXPECT_NE(daemon.next().find(" My_App__2["), std::string::npos);
}

TEST(SyslogEventLog, AnOversizedEntryIsCutNotLost) {
  Daemon daemon;
  std::string text;
  while (text.size() < 400000) text += "\xC3\xA9\n";
  ASSERT_EQ(SyslogEventLog(daemon.path).report(record(1, text)), 0u);
  const std::string entry = daemon.next();
  EXPECT_LE(entry.size(), 65536u);
  // The cut falls between whole characters and whole escapes.
  const size_t body = entry.find("id=1003 ");
  ASSERT_NE(body, std::string::npos);
  std::string_view rest = std::string_view(entry).substr(body + 8);
  while (rest.starts_with("\xC3\xA9#012")) rest.remove_prefix(6);
  EXPECT_TRUE(rest.empty() || rest == "\xC3\xA9") << entry.size();
  EXPECT_GT(entry.size(), 30000u);
}

TEST(SyslogEventLog, ReportsWhyNothingWasWritten) {
  testing::TempFolder dir;
  EXPECT_EQ(SyslogEventLog(dir / "no-daemon").report(record(1, "x")), static_cast<uint32_t>(ENOENT));
  EXPECT_NE(SyslogEventLog(dir / std::string(200, 'x')).report(record(1, "x")), 0u);
}

}  // namespace
}  // namespace quenvar
